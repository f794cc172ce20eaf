// Shared set-up of the frame and table reader tests: a scratch directory with
// an application and an installation directory (and the simulated host's state
// directory), an in-process kernel with one tag of every type, and the task
// object, attached by Attach() as start-up does it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "frame/log_writer.h"
#include "kernel/kernel.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "sim/sim.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/scratch_dir.h"
#include "support/message_lookup.h"

namespace logtest {

inline bool SimulatedHost() { return std::filesystem::path::preferred_separator == '/'; }

using vdtest::ReadFile;
using vdtest::ReadLines;
using vdtest::WriteFile;

// The value of type T at `offset` of a byte area (a packed buffer or record).
template <typename T>
T At(const std::uint8_t* bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}

inline constexpr const char* kTagList =
    "i16 int16 5\n"
    "i16b 1 -7\n"
    "real real 2.5\n"
    "text text hello\n"
    "long text\n"
    "i32 int32 70000\n"
    "blk block 0102\n"
    "none none\n";

class TaskFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(App());
        std::filesystem::create_directories(Root());

        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel(kTagList, db_));

        vdtest::ResetKernelAccess();
        task_state() = TaskState{};
        log_settings() = LogSettings{};
        log_settings().log_path = TaskLog().generic_string();
        task_ = std::make_unique<TaskBase>("VDWINUT", "Windows Host Utilities");
    }

    void TearDown() override {
        vdtest::ResetKernelAccess();
        TaskState& state = task_state();
        if (other_ >= 0) kernel_detach(other_);
        if (state.second_task_id >= 0 && state.second_task_id != state.task_id && state.second_task_id != other_)
            kernel_detach(state.second_task_id);
        if (state.task_id >= 0) kernel_detach(state.task_id);
        state.task_id = state.second_task_id = kNoTask;
        task_.reset();
        task_state() = TaskState{};
        log_settings() = LogSettings{};
        msg_free(msg_root());
        vdtest::UnbindInProcessKernel();
        db_.reset();
    }

    // Attaches as start-up does and fills the task-wide state.
    void Attach() {
        TaskState& state = task_state();
        copy_fixed(state.vd_name, kEnvNameSize, "plant");
        copy_fixed(state.vd_domain, kEnvDomainSize, "dom");
        copy_fixed(state.vd_user, kEnvUserSize, "usr");
        state.task_id = kernel_attach(state.task_name, state.task_title, state.vd_name, state.vd_domain, state.vd_user);
        ASSERT_GE(state.task_id, 0);
        state.second_task_id = state.task_id;
        ASSERT_EQ(kernel_task_environment(state.task_id, &state.environment), 0);
        copy_fixed(state.environment.app_dir, 64, App().generic_string().c_str());
        copy_fixed(state.environment.root_dir, 64, Root().generic_string().c_str());
        ASSERT_EQ(std::string(state.environment.app_dir), App().generic_string()) << "scratch path too long";
    }

    // Attach(), another task beside it, and catalog texts that show the
    // numbers a status message carries.
    void AttachWithOther() {
        ASSERT_NO_FATAL_FAILURE(Attach());
        other_ = kernel_attach("OTHER", "Other task", "app", "dom", "usr");
        ASSERT_GE(other_, 0);
        msg_insert(msg_root_slot(), "VDERROR", "VDERROR %d");
        msg_insert(msg_root_slot(), "CTRECORD", "CTRECORD %d %d");
        msg_insert(msg_root_slot(), "NOMEMORY", "NOMEMORY");
    }

    static TagRef Ref(const std::string& name, std::uint32_t high = 0) {
        std::int32_t index = sim::CurrentDatabase()->FindTag(name);
        EXPECT_GE(index, 0) << name;
        return (high << 16) | static_cast<std::uint32_t>(index);
    }
    // The database's value of a tag, in its readable form (texts unquoted).
    static std::string Db(const std::string& name) { return sim::FormatValue(vdtest::TagValue(Ref(name))); }
    // Sets a tag's value as another process would.
    static void SetDb(const std::string& name, const std::string& text) { vdtest::SetTag(Ref(name), text); }

    std::filesystem::path App() const { return dir_ / "app"; }
    std::filesystem::path Root() const { return dir_ / "root"; }
    std::filesystem::path State() const { return dir_ / "state"; }
    // The texts of the records of the log file App()/task.log, without
    // their stamps; a line that is no record shows as "<bad record: ...>".
    std::filesystem::path TaskLog() const { return App() / "task.log"; }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        static const std::regex record(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d (.*)\r)");
        for (const std::string& line : ReadLines(TaskLog())) {
            std::smatch m;
            texts.push_back(std::regex_match(line, m, record) ? std::string(m[1]) : "<bad record: " + line + ">");
        }
        return texts;
    }

    // The task's message tag (the text of its last status message) and status tag.
    static std::string MessageTag() { return vdtest::TagText(task_state().environment.message_tag); }
    static void ClearMessageTag() { vdtest::SetTag(task_state().environment.message_tag, ""); }
    static std::int64_t StatusTag() { return vdtest::TagInt(task_state().environment.status_tag); }

    vdtest::ScratchDir scratch_{"vdcfg", true};
    const std::filesystem::path dir_ = scratch_.Dir();
    std::unique_ptr<sim::Database> db_;
    std::unique_ptr<TaskBase> task_;
    TaskId other_ = kNoTask;
};

}  // namespace logtest
