// The stand-in kernel's change reports: which changes a task is told of, in
// which order, and when its wait has something to report.
#include <gtest/gtest.h>

#include "sim/sim.h"

namespace {

TEST(ChangeReports, InReferenceOrderOncePerTagWithoutOwnWritesAndTheyWakeTheArmedWait) {
    std::string error;
    auto db = sim::Database::CreateInProcess(
        {{"A", kTagInt16, "0"}, {"B", kTagInt16, "0"}, {"C", kTagInt16, "0"}, {"D", kTagInt16, "0"}}, error);
    ASSERT_TRUE(db) << error;
    TaskId me = db->AttachObserver("ME"), other = db->AttachObserver("OTHER");
    auto set = [&](TagRef tag, std::int16_t v) { db->SetValue(tag, sim::Value{kTagInt16, v, 0.0, {}, {}}); };
    auto write = [&](TaskId task, TagRef tag, std::int16_t v) { ASSERT_EQ(db->Write(task, &tag, 1, &v), 0); };
    ValueRecord r{};
    auto reports = [&](std::vector<TagRef> refs) {  // position * 100 + value of each report
        std::vector<int> out;
        for (std::int32_t at = 0; db->NextChanged(me, refs.data(), std::int32_t(refs.size()), &at, &r) == 0; ++at)
            out.push_back(at * 100 + r.Int16());
        return out;
    };
    set(0, 7), set(1, 2), set(2, 5), set(2, 9), write(me, 1, 3), write(other, 3, 4);
    EXPECT_EQ(reports({2, 1, 0, 3}), (std::vector<int>{9, 207, 304}));  // C, A, D; not B: its own write came last
    EXPECT_TRUE(reports({0, 1, 2, 3}).empty());
    EXPECT_TRUE(reports({0, 999}).empty());
    EXPECT_EQ(db->LastError(me), kKernelErrUnknownTag);
    TagRef a = 0;
    db->ArmWait(me, &a, 1);
    EXPECT_EQ(db->WaitChangeFor(me, 0), kKernelErrTimeout);
    set(0, 8);
    EXPECT_EQ(db->WaitChangeFor(me, 0), 0);
    db->DisarmWait(me, &a, 1);
    EXPECT_EQ(db->WaitChangeFor(me, 0), kKernelErrTimeout);  // A's change is still unseen, but not armed
    db->ArmWait(me, &a, 1);
    EXPECT_EQ(db->WaitChangeFor(me, 0), 0);
    ASSERT_EQ(db->Detach(me), 0);  // a task attached later in the slot sees none of the old changes
    ASSERT_EQ(db->AttachObserver("ME2"), me);
    EXPECT_TRUE(reports({0, 1, 2, 3}).empty());
}

}  // namespace
