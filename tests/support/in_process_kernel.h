// The stand-in kernel in-process over a tag list, bound as the frame's
// kernel; a tag's value read and set in its database as another process
// would; and the clean-up every test of a bound kernel needs: faults
// cleared, the kernel unbound, the kernel access lock's semaphores closed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "frame/kernel_access.h"
#include "platform/handle.h"
#include "platform/test_hooks.h"
#include "sim/sim.h"

namespace vdtest {

// Creates the database of `tag_list` into `db` and binds it; wrap the call
// in ASSERT_NO_FATAL_FAILURE.
inline void BindInProcessKernel(const std::string& tag_list, std::unique_ptr<sim::Database>& db) {
    std::vector<sim::TagSpec> specs;
    std::string error;
    ASSERT_TRUE(sim::ParseTagList(tag_list, specs, error)) << error;
    db = sim::Database::CreateInProcess(specs, error);
    ASSERT_TRUE(db) << error;
    sim::SetCurrentDatabase(db.get());
    kernel_bind_table(sim::Ops());
}

// The current database's value of the tag that `ref` names: its text
// (texts and blocks) or its integer.
inline sim::Value TagValue(TagRef ref) {
    sim::Value v;
    EXPECT_TRUE(sim::CurrentDatabase()->GetValue(TagRefIndex(ref), v)) << ref;
    return v;
}
inline std::string TagText(TagRef ref) { return TagValue(ref).bytes; }
inline std::int64_t TagInt(TagRef ref) { return TagValue(ref).integer; }

// Sets the tag that `ref` names from its readable form; wrap the call in
// ASSERT_NO_FATAL_FAILURE where it matters.
inline void SetTag(TagRef ref, const std::string& text) {
    sim::Database* db = sim::CurrentDatabase();
    sim::TagInfo info;
    ASSERT_TRUE(db->GetTagInfo(TagRefIndex(ref), info)) << ref;
    sim::Value v;
    std::string error;
    ASSERT_TRUE(sim::ParseValue(info.type, text, v, error)) << error;
    ASSERT_EQ(db->SetValue(TagRefIndex(ref), v), 0);
}

inline void UnbindInProcessKernel() {
    win::test::ClearFaults();
    kernel_unbind();
    sim::SetCurrentDatabase(nullptr);
}

// Closes the lock's semaphores and forgets its owners.
inline void ResetKernelAccess() {
    KernelAccessState& s = kernel_access_state();
    for (win::HANDLE h : {s.access_guard, s.id_semaphore, s.second_id_semaphore})
        if (h != nullptr) win::CloseHandle(h);
    ClearKernelAccess();
}

}  // namespace vdtest
