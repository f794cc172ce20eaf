// The task as its own process against a runtime made by vdrt, with the
// sample application copied into a fresh directory: the fixture of the
// end-to-end tests. Tags are changed from outside with vdrt and the results
// read from the runtime database.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/environment.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/task_process.h"

namespace e2e {

namespace fs = std::filesystem;

inline std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A program in the platform's own form, unquoted (the Windows command
// processor drops quotes around a leading quoted word). Build paths hold no
// blanks.
inline std::string Program(const char* path) { return fs::path(path).make_preferred().string(); }

using vdtest::RunCommand;

// How the command processor reports `code`.
inline int Reported(int code) { return RunCommand(Program(VD_EXIT_WITH) + " " + std::to_string(code)); }

using vdtest::ReadFile;

class TaskRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = std::make_unique<vdtest::ScratchDir>("vd_e2e_");
        dir_ = rt_.dir = scratch_->Dir();
        std::string error;
        ASSERT_TRUE(vdtest::CopySampleApplication(VD_EXAMPLES, dir_, VD_CTBUILD, error)) << error;
        win::SetEnvironmentVariableA("VDPATH", nullptr);
        ASSERT_TRUE(rt_.CreateRuntime(VD_VDRT, error)) << error;
    }

    void TearDown() override {
        if (task_.Started()) {
            rt_.RequestStop("VDWINUT");
            task_.Exit(30000);
        }
        rt_.db.reset();
        vdtest::ClearRuntimeEnvironment();
        scratch_.reset();
    }

    static void Env(const char* name, const std::string& value) {
        ASSERT_TRUE(win::SetEnvironmentVariableA(name, value.c_str()));
    }

    int Vdrt(const std::string& args) {
        return RunCommand(Program(VD_VDRT) + " --db " + Quote(rt_.DbPath()) + " " + args + " > " +
                          Quote((dir_ / "vdrt.out").string()));
    }

    // Starts the task as a process of its own; its console goes to files.
    void StartTask(const std::string& program = VD_VDWINUT) {
        task_.Start(Program(program.c_str()) + " > " + Quote((dir_ / "task.out").string()) + " 2> " +
                    Quote((dir_ / "task.err").string()));
    }

    // Whether the task ended (within 30 s) with `code`, both as the command
    // processor reports them; the task first (two commands at once are not
    // safe under wine64).
    ::testing::AssertionResult ExitedWith(int code) {
        const int exit = task_.Exit(30000), expected = Reported(code);
        if (exit == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the task's exit " << exit << ", " << code << " reported as " << expected;
    }

    // A tag's value; -9999 and "?" when it cannot be read.
    sim::Value Value(const char* tag) {
        sim::Value v;
        if (!rt_.Read(tag, v)) {
            EXPECT_GE(rt_.db->FindTag(tag), 0) << tag;
            v = {kTagText, -9999, -9999.0, "?", {}};
        }
        return v;
    }
    std::int64_t Int(const char* tag) { return Value(tag).integer; }
    double Real(const char* tag) { return Value(tag).real; }
    std::string Text(const char* tag) { return Value(tag).bytes; }

    // Waits until `tag` holds `value` (up to 20 s, while the task runs).
    bool WaitFor(const char* tag, std::int64_t value) {
        return vdtest::WaitUntil([&] { return Int(tag) == value; }, 20000, [&] { return task_.Ended(); });
    }

    fs::path LogFile() const { return dir_ / "app" / "SAMPLE" / "plant" / "operator" / "log" / "VDWINUT.log"; }

    std::unique_ptr<vdtest::ScratchDir> scratch_;
    vdtest::RuntimeFolder rt_;
    fs::path dir_;
    vdtest::SystemProcess task_;
};

}  // namespace e2e
