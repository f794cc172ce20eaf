// The test broker in the Windows build: the tests run under wine64, the
// broker is the Linux mosquitto, started and killed by broker_driver.sh on
// the host side. The two talk through files in the folder the driver names
// in VD_BROKER_CONTROL: this side writes "request" (its verb, "start" or
// "kill", the port, then the extra configuration lines; or "spawn" and a
// helper program's arguments one per line, or "unspawn"), the driver answers
// in "reply" ("ok PORT N" or "error TEXT") and keeps the logs there
// (brokerN.log, numbered over the driver's run: earlier tests' brokers have
// theirs). Each file appears by a rename, whole.
#include "tests/e2e/bus/test_broker.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace bustest {

namespace {

fs::path ControlDir() {
    const char* dir = std::getenv("VD_BROKER_CONTROL");
    return dir != nullptr ? fs::path(dir) : fs::path();
}

class DrivenBroker final : public TestBroker {
public:
    ~DrivenBroker() override {
        std::string reply, error;
        if (!helper_outputs_.empty()) Ask("unspawn\n", reply, error);
        std::error_code ec;
        for (const auto& [from, to] : helper_outputs_) fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        Kill();
    }

    bool Start(const fs::path&, const std::string& extra, std::string& error, int port) override {
        std::string reply;
        if (!Ask("start\n" + std::to_string(port) + "\n" + extra, reply, error)) return false;
        if (reply.rfind("ok ", 0) != 0) {
            error = "the broker did not start: " + reply;
            return false;
        }
        int log = 0;
        std::istringstream(reply.substr(3)) >> port_ >> log;
        logs_.push_back(log);
        running_ = port_ > 0;
        if (!running_) error = "the driver gave no port: " + reply;
        return running_;
    }

    void Kill() override {
        if (!running_) return;
        std::string reply, error;
        Ask("kill\n", reply, error);
        running_ = false;
    }

    int port() const override { return port_; }

    bool StartHelper(const std::vector<std::string>& args, const fs::path& output, std::string& error) override {
        std::string request = "spawn\n";
        for (const std::string& arg : args) request += arg + "\n";
        std::string reply;
        if (!Ask(request, reply, error)) return false;
        if (reply.rfind("ok ", 0) != 0) {
            error = "the helper did not start: " + reply;
            return false;
        }
        // Its output is the driver's file: copied here when asked for.
        helper_outputs_.emplace_back(ControlDir() / reply.substr(3), output);
        return true;
    }

    std::string Log() const override {
        std::string all;
        for (int log : logs_) all += vdtest::ReadFile(ControlDir() / ("broker" + std::to_string(log) + ".log"));
        return all;
    }

private:
    // One request and its reply, waiting at most 15 s.
    static bool Ask(const std::string& request, std::string& reply, std::string& error) {
        const fs::path dir = ControlDir();
        std::error_code ec;
        fs::remove(dir / "reply", ec);
        {
            std::ofstream out(dir / "request.tmp", std::ios::binary | std::ios::trunc);
            out << request;
            if (!out) {
                error = "cannot write to the broker driver's folder " + dir.string();
                return false;
            }
        }
        fs::rename(dir / "request.tmp", dir / "request", ec);
        if (ec) {
            error = "cannot hand the request to the broker driver: " + ec.message();
            return false;
        }
        if (!vdtest::WaitUntil([&] { return fs::exists(dir / "reply", ec); }, 15000)) {
            error = "the broker driver did not answer within 15 s";
            return false;
        }
        reply = vdtest::ReadFile(dir / "reply");
        fs::remove(dir / "reply", ec);
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        return true;
    }

    int port_ = 0;
    std::vector<int> logs_;
    std::vector<std::pair<fs::path, fs::path>> helper_outputs_;
    bool running_ = false;
};

}  // namespace

std::unique_ptr<TestBroker> TestBroker::Make() { return std::make_unique<DrivenBroker>(); }

std::string TestBroker::Unavailable() {
    const fs::path dir = ControlDir();
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec))
        return "no broker driver: run the tests through tests/e2e/bus/broker_driver.sh (VD_BROKER_CONTROL unset)";
    return "";
}

// "/a/b" -> "Z:\a\b", as broker_driver.sh names its folder.
std::string TestBroker::LocalPath(const std::string& path) {
    std::string local = "Z:" + path;
    std::replace(local.begin(), local.end(), '/', '\\');
    return local;
}

}  // namespace bustest
