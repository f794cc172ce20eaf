// The vdwinut process end to end: a runtime and the sample application in a
// fresh directory, the task started as its own process, tags changed from
// outside with vdrt, the results read from the runtime database.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A program in the platform's own form, unquoted (the Windows command
// processor drops quotes around a leading quoted word). Build paths hold no
// blanks.
std::string Program(const char* path) { return fs::path(path).make_preferred().string(); }

int RunCommand(const std::string& command) { return std::system(command.c_str()); }

// How the command processor reports the exit code `code`.
int Reported(int code) { return RunCommand(Program(VD_EXIT_WITH) + " " + std::to_string(code)); }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vd_e2e_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        fs::copy(fs::path(VD_EXAMPLES) / "app", dir_ / "app", fs::copy_options::recursive);
        fs::copy(fs::path(VD_EXAMPLES) / "root", dir_ / "root", fs::copy_options::recursive);
        fs::copy(fs::path(VD_EXAMPLES) / "tags.lst", dir_ / "tags.lst");
        for (const auto& item : fs::recursive_directory_iterator(dir_ / "app")) {
            std::string name = item.path().string();
            if (name.size() > 7 && name.compare(name.size() - 7, 7, ".ct.txt") == 0) {
                std::string archive = name.substr(0, name.size() - 4);
                ASSERT_EQ(RunCommand(Program(VD_CTBUILD) + " -t " + Quote((dir_ / "tags.lst").string()) + " " +
                              Quote(name) + " " + Quote(archive)),
                          0);
            }
        }
        db_path_ = (dir_ / "runtime.db").string();
        Env("VDAPP", (dir_ / "app").string());
        Env("VDROOT", (dir_ / "root").string());
        Env("VDDOMAIN", "plant");
        Env("VDNAME", "SAMPLE");
        Env("VDUSER", "operator");
        Env("VDRUNTIME", db_path_);
        Env("VDHOST", (dir_ / "host").string());
        win::SetEnvironmentVariableA("VDPATH", nullptr);
        // The simulated host provides the keyboard filter device through
        // this marker; a real Windows host has none.
        fs::create_directories(dir_ / "host" / "devices");
        std::ofstream(dir_ / "host" / "devices" / "KbFilter").put('\n');
        ASSERT_EQ(Vdrt("create " + Quote((dir_ / "tags.lst").string())), 0);
        std::string error;
        db_ = sim::Database::Open(db_path_, error);
        ASSERT_TRUE(db_) << error;
    }

    void TearDown() override {
        if (task_.valid()) {
            Vdrt("stop VDWINUT");
            task_.wait_for(30s);
        }
        db_.reset();
        for (const char* name : {"VDAPP", "VDROOT", "VDDOMAIN", "VDNAME", "VDUSER", "VDRUNTIME", "VDHOST"})
            win::SetEnvironmentVariableA(name, nullptr);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static void Env(const char* name, const std::string& value) {
        ASSERT_TRUE(win::SetEnvironmentVariableA(name, value.c_str()));
    }

    int Vdrt(const std::string& args) {
        return RunCommand(Program(VD_VDRT) + " --db " + Quote(db_path_) + " " + args + " > " +
                   Quote((dir_ / "vdrt.out").string()));
    }

    // Starts the task as a process of its own; its console goes to files.
    void StartTask(const std::string& program = VD_VDWINUT) {
        std::string command = Program(program.c_str()) + " > " + Quote((dir_ / "task.out").string()) + " 2> " +
                              Quote((dir_ / "task.err").string());
        task_ = std::async(std::launch::async, [command] { return RunCommand(command); });
    }

    // The task's exit code as the command processor reports it, or -999
    // when it did not end in time.
    int TaskExit() {
        if (task_.wait_for(30s) != std::future_status::ready) return -999;
        return task_.get();
    }

    std::int64_t Int(const char* tag) {
        sim::Value v;
        std::int32_t index = db_->FindTag(tag);
        EXPECT_GE(index, 0) << tag;
        if (index < 0 || !db_->GetValue(static_cast<std::uint32_t>(index), v)) return -9999;
        return v.integer;
    }
    std::string Text(const char* tag) {
        sim::Value v;
        std::int32_t index = db_->FindTag(tag);
        EXPECT_GE(index, 0) << tag;
        if (index < 0 || !db_->GetValue(static_cast<std::uint32_t>(index), v)) return "?";
        return v.bytes;
    }

    // Waits until `tag` holds `value` (up to 20 s).
    bool WaitFor(const char* tag, std::int64_t value) {
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Int(tag) == value) return true;
            if (task_.valid() && task_.wait_for(0s) == std::future_status::ready) return Int(tag) == value;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The running text, or the keyboard report where the host has no
    // keyboard filter device (the start-up then writes the level alone).
    void ExpectRunningText() {
        running_text_ = Text("VDWINUT.MSG");
        EXPECT_TRUE(running_text_ == "Running" || running_text_ == kNoKeyboard) << running_text_;
    }
    // At stop the texts follow only while the task's own text is shown.
    void ExpectStoppedText() {
        EXPECT_EQ(Text("VDWINUT.MSG"), running_text_ == "Running" ? "Stopped" : running_text_);
    }
    static constexpr const char* kNoKeyboard = "Keyboard filter device not available";
    std::string running_text_;

    fs::path LogFile() const { return dir_ / "app" / "SAMPLE" / "plant" / "operator" / "log" / "VDWINUT.log"; }

    fs::path dir_;
    std::string db_path_;
    std::unique_ptr<sim::Database> db_;
    std::future<int> task_;
};

TEST_F(ProcessTest, RunsTriggersAndStopsOnRequest) {
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    ExpectRunningText();

    // Free space of drive C, in MB as the application's settings ask.
    ASSERT_EQ(Vdrt("set DISK_FREE_TRIG 1"), 0);
    ASSERT_TRUE(WaitFor("DISK_FREE_DONE", 1));
    EXPECT_GT(Int("DISK_FREE"), 0);
    // A trigger changing back to zero runs the handler, which does nothing
    // for a zero trigger but set its done flag again.
    ASSERT_EQ(Vdrt("set DISK_FREE_DONE 0"), 0);
    ASSERT_EQ(Vdrt("set DISK_TOTAL_TRIG 1"), 0);
    ASSERT_TRUE(WaitFor("DISK_TOTAL_DONE", 1));
    EXPECT_GE(Int("DISK_TOTAL"), Int("DISK_FREE"));

    ASSERT_EQ(Vdrt("stop VDWINUT"), 0);
    EXPECT_EQ(TaskExit(), Reported(0));
    EXPECT_EQ(Int("VDWINUT.STATUS"), 0);
    ExpectStoppedText();
    EXPECT_TRUE(db_->Tasks().empty());

    std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("Task VDWINUT (Windows Host Utilities) started in "), std::string::npos) << log;
    EXPECT_NE(log.find("Loading the configuration tables"), std::string::npos);
    EXPECT_NE(log.find("Task VDWINUT (Windows Host Utilities) stopped in "), std::string::npos);
    EXPECT_LT(log.find("started in"), log.find("stopped in"));
    // The console gets the same lines (Log2Screen in the installation copy).
    EXPECT_NE(ReadFile(dir_ / "task.out").find("started in"), std::string::npos);
}

TEST_F(ProcessTest, PollingModeHandlesTriggersToo) {
    {
        std::ofstream ini(dir_ / "app" / "net" / "VDWINUT.ini", std::ios::app);
        ini << "\n[Task]\nPollingMode=1\n";
    }
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    ExpectRunningText();
    ASSERT_EQ(Vdrt("set DISK_FREE_TRIG 1"), 0);
    EXPECT_TRUE(WaitFor("DISK_FREE_DONE", 1));
    ASSERT_EQ(Vdrt("stop VDWINUT"), 0);
    EXPECT_EQ(TaskExit(), Reported(0));
    ExpectStoppedText();
}

TEST_F(ProcessTest, StartFailuresExitWithMinusOne) {
    // No runtime database: the attach is refused.
    Env("VDRUNTIME", (dir_ / "missing.db").string());
    StartTask();
    EXPECT_EQ(TaskExit(), Reported(-1));
    Env("VDRUNTIME", db_path_);
    EXPECT_TRUE(db_->Tasks().empty());
    EXPECT_EQ(Int("VDWINUT.STATUS"), 0);

    // No kernel library next to a copy of the program: said on stderr.
    fs::create_directories(dir_ / "alone");
    fs::path copy = dir_ / "alone" / fs::path(VD_VDWINUT).filename();
    fs::copy_file(VD_VDWINUT, copy);
    StartTask(copy.string());
    EXPECT_EQ(TaskExit(), Reported(-1));
    EXPECT_NE(ReadFile(dir_ / "task.err").find("VDKERNEL"), std::string::npos) << ReadFile(dir_ / "task.err");
}

}  // namespace
