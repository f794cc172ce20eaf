// The test broker in the host build: Debian's mosquitto started here as a
// child process on a free loopback port.
#include "tests/e2e/bus/test_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/e2e/bus/loopback.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace bustest {

namespace {

// A loopback port nobody listens on right now (0 when none can be had).
int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t n = sizeof a;
    const bool bound = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), n) == 0 &&
                       ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0;
    if (s >= 0) ::close(s);
    return bound ? ntohs(a.sin_port) : 0;
}

bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = LoopbackAddress(port);
    const bool ok = s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) ::close(s);
    return ok;
}

class LocalBroker final : public TestBroker {
public:
    ~LocalBroker() override {
        for (auto& helper : helpers_) helper->Kill();
        Kill();
    }

    bool StartHelper(const std::vector<std::string>& args, const fs::path& output, std::string& error) override {
        auto helper = sim::ChildProcess::Start(args, error, output.string());
        if (!helper) return false;
        helpers_.push_back(std::move(helper));
        return true;
    }

    bool Start(const fs::path& dir, const std::string& extra, std::string& error, int port) override {
        dir_ = dir;
        if (port == 0) port = FreePort();
        port_ = port;
        const passwd* me = ::getpwuid(::geteuid());
        const fs::path log = dir / ("broker" + std::to_string(++starts_) + ".log");
        std::ofstream conf(dir / "broker.conf");
        // The log file is written line by line (standard output would be
        // buffered).
        conf << "listener " << port << " 127.0.0.1\n"
             << "persistence false\nset_tcp_nodelay true\nconnection_messages true\nlog_dest file " << log.string()
             << "\n";
        // Run as ourselves (as root the broker would switch to its own user,
        // which cannot read the test's files).
        if (me != nullptr) conf << "user " << me->pw_name << "\n";
        if (extra.find("allow_anonymous") == std::string::npos) conf << "allow_anonymous true\n";
        conf << extra;
        conf.close();
        process_ = sim::ChildProcess::Start({Program(), "-c", (dir / "broker.conf").string()}, error,
                                            (dir / "broker.out").string());
        if (!process_) return false;
        if (vdtest::WaitUntil([&] { return Accepts(port_); }, 5000, [&] { return !process_->Running(); })) return true;
        error = "the broker did not start: " + Log() + vdtest::ReadFile(dir / "broker.out");
        return false;
    }

    void Kill() override {
        if (process_) process_->Kill();
        process_.reset();
    }

    int port() const override { return port_; }
    int pid() const override { return process_ ? process_->Pid() : 0; }

    std::string Log() const override {
        std::string all;
        for (int i = 1; i <= starts_; ++i) all += vdtest::ReadFile(dir_ / ("broker" + std::to_string(i) + ".log"));
        return all;
    }

    static std::string Program() {
        for (const char* p : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto"})
            if (fs::exists(p)) return p;
        return "mosquitto";
    }

private:
    fs::path dir_;
    int port_ = 0;
    int starts_ = 0;
    std::unique_ptr<sim::ChildProcess> process_;
    std::vector<std::unique_ptr<sim::ChildProcess>> helpers_;
};

}  // namespace

std::unique_ptr<TestBroker> TestBroker::Make() { return std::make_unique<LocalBroker>(); }

std::string TestBroker::Unavailable() { return ""; }

std::string TestBroker::LocalPath(const std::string& path) { return path; }

}  // namespace bustest
