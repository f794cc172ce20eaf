// Shared set-up of the tag object, batch transfer and table reader tests: an
// in-process kernel with one tag of every type, the task attached to it and
// recorded in the task-wide state, and catalog texts that show the numbers a
// status message carries.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kernel/kernel.h"
#include "frame/task_state.h"
#include "sim/sim.h"
#include "support/message_lookup.h"
#include "tests/support/in_process_kernel.h"

namespace tagtest {

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

class KernelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel(kTagList, db_));
        TaskState& state = task_state();
        state = TaskState{};
        copy_fixed(state.task_name, kTaskNameSize, "VDWINUT");
        state.task_id = kernel_attach("VDWINUT", "Windows Host Utilities", "app", "dom", "usr");
        ASSERT_GE(state.task_id, 0);
        state.second_task_id = state.task_id;
        ASSERT_EQ(kernel_task_environment(state.task_id, &state.environment), 0);
        other_ = kernel_attach("OTHER", "Other task", "app", "dom", "usr");
        ASSERT_GE(other_, 0);
        msg_insert(msg_root_slot(), "VDERROR", "VDERROR %d");
        msg_insert(msg_root_slot(), "CTRECORD", "CTRECORD %d %d");
        msg_insert(msg_root_slot(), "NOMEMORY", "NOMEMORY");
    }

    void TearDown() override {
        TaskState& state = task_state();
        if (state.task_id >= 0) kernel_detach(state.task_id);
        state = TaskState{};
        vdtest::UnbindInProcessKernel();
        msg_free(msg_root());
    }

    static TagRef Ref(const std::string& name, std::uint32_t high = 0) {
        std::int32_t index = sim::CurrentDatabase()->FindTag(name);
        EXPECT_GE(index, 0) << name;
        return (high << 16) | static_cast<std::uint32_t>(index);
    }

    // The database's value of a tag, in its readable form (texts unquoted).
    std::string Db(const std::string& name) const { return sim::FormatValue(vdtest::TagValue(Ref(name))); }
    // Sets a tag's value as another process would.
    void SetDb(const std::string& name, const std::string& text) { vdtest::SetTag(Ref(name), text); }
    // The task's message tag: the text of its last status message.
    std::string StatusText() const { return vdtest::TagText(task_state().environment.message_tag); }
    void ClearStatus() { vdtest::SetTag(task_state().environment.message_tag, ""); }

    std::unique_ptr<sim::Database> db_;
    TaskId other_ = kNoTask;
};

}  // namespace tagtest
