// The task as its own process against a runtime made by vdrt, with the
// sample application copied into a fresh directory: the fixture of the
// end-to-end tests. Tags are changed from outside with vdrt and the results
// read from the runtime database.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "sim/sim.h"
#include "tests/support/runtime_environment.h"
#include "tests/support/scratch_dir.h"

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A program in the platform's own form, unquoted (the Windows command
// processor drops quotes around a leading quoted word). Build paths hold no
// blanks.
inline std::string Program(const char* path) { return fs::path(path).make_preferred().string(); }

inline int RunCommand(const std::string& command) { return std::system(command.c_str()); }

// How the command processor reports the exit code `code`.
inline int Reported(int code) { return RunCommand(Program(VD_EXIT_WITH) + " " + std::to_string(code)); }

using vdtest::ReadFile;

class TaskRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = std::make_unique<vdtest::ScratchDir>("vd_e2e_");
        dir_ = scratch_->Dir();
        std::string error;
        ASSERT_TRUE(vdtest::CopySampleApplication(VD_EXAMPLES, dir_, VD_CTBUILD, error)) << error;
        db_path_ = (dir_ / "runtime.db").string();
        vdtest::SetRuntimeEnvironment({(dir_ / "app").string(), (dir_ / "root").string(), "plant", "SAMPLE", "operator",
                                       db_path_, (dir_ / "host").string()});
        win::SetEnvironmentVariableA("VDPATH", nullptr);
        ASSERT_EQ(Vdrt("create " + Quote((dir_ / "tags.lst").string())), 0);
        db_ = sim::Database::Open(db_path_, error);
        ASSERT_TRUE(db_) << error;
    }

    void TearDown() override {
        if (task_.valid()) {
            Vdrt("stop VDWINUT");
            task_.wait_for(30s);
        }
        db_.reset();
        vdtest::ClearRuntimeEnvironment();
        scratch_.reset();
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

    // A tag's value; -9999 and "?" when it cannot be read.
    sim::Value Value(const char* tag) {
        sim::Value v;
        std::int32_t index = db_->FindTag(tag);
        EXPECT_GE(index, 0) << tag;
        if (index < 0 || !db_->GetValue(static_cast<std::uint32_t>(index), v)) v = {kTagText, -9999, -9999.0, "?", {}};
        return v;
    }
    std::int64_t Int(const char* tag) { return Value(tag).integer; }
    double Real(const char* tag) { return Value(tag).real; }
    std::string Text(const char* tag) { return Value(tag).bytes; }

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

    fs::path LogFile() const { return dir_ / "app" / "SAMPLE" / "plant" / "operator" / "log" / "VDWINUT.log"; }

    std::unique_ptr<vdtest::ScratchDir> scratch_;
    fs::path dir_;
    std::string db_path_;
    std::unique_ptr<sim::Database> db_;
    std::future<int> task_;
};

}  // namespace e2e
