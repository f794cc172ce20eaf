// The trigger list over the in-process kernel: scans, waits, arming, and
// handlers that change the list while it is being dispatched.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame/dispatch.h"
#include "kernel/kernel.h"
#include "frame/trigger_list.h"
#include "sim/sim.h"
#include "tests/support/in_process_kernel.h"

namespace {

const char* kTags =
    "A int16 0\n"
    "B int16 0\n"
    "C int16 0\n"
    "T text \"\"\n"
    "R real 0\n";
enum : TagRef { kA, kB, kC, kT, kR };

struct Call {
    TagRef ref;
    int id;
    std::string text;
};

// The in-process kernel's next_changed, then claiming far more room and
// text than the caller's record has.
std::int32_t OverstatingNextChanged(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                                    ValueRecord* value) {
    std::int32_t rc = sim::Ops().next_changed(task, refs, count, index, value);
    value->capacity = 255;
    value->length = 200;
    return rc;
}

class TriggerListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(vdtest::BindInProcessKernel(kTags, db_));
        task_ = kernel_attach("TASKA", "Task A", "app", "dom", "usr");
        other_ = kernel_attach("TASKB", "Task B", "app", "dom", "usr");
        ASSERT_GE(task_, 0);
        ASSERT_GE(other_, 0);
        ASSERT_EQ(trigger_list_create(&list_), kTlOk);
        current_ = this;
    }
    void TearDown() override {
        if (list_ != nullptr) {
            EXPECT_EQ(trigger_list_destroy(list_), kTlOk);
        }
        vdtest::UnbindInProcessKernel();
        current_ = nullptr;
    }

    void Change(TagRef ref, std::int16_t v) { ASSERT_EQ(kernel_write(other_, &ref, 1, &v), 0); }

    // Binds `ref` with a handler that logs (ref, id) and then runs `action`.
    HandlerRecord* Bind(TagRef ref, int id) {
        HandlerRecord* record = nullptr;
        EXPECT_EQ(trigger_list_add(list_, ref, &Logger, &record), kTlOk);
        HandlerWord words[1] = {static_cast<HandlerWord>(id)};
        EXPECT_EQ(handler_set_args(record, 1, words), kTlOk);
        return record;
    }

    static void Logger(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args) {
        TriggerListTest* t = current_;
        int id = (count & 0xFFFF) >= 1 ? static_cast<int>(args[0]) : -1;
        std::string text;
        if (entry->type == kTagText && value->Text() != nullptr) text = value->Text();
        t->calls_.push_back({entry->reference, id, text});
        t->lock_held_in_handler_ = t->lock_held_in_handler_ || t->list_->lock_held != 0;
        if (t->action_) t->action_(id);
    }

    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const Call& c : calls_) ids.push_back(c.id);
        return ids;
    }

    static TriggerListTest* current_;
    std::unique_ptr<sim::Database> db_;
    TaskId task_ = -1;
    TaskId other_ = -1;
    TriggerList* list_ = nullptr;
    std::vector<Call> calls_;
    std::function<void(int)> action_;
    bool lock_held_in_handler_ = false;
};

TriggerListTest* TriggerListTest::current_ = nullptr;

TEST_F(TriggerListTest, EmptyListAndArgumentChecks) {
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    ValueRecord value{};
    TagEntry* entry = reinterpret_cast<TagEntry*>(1);
    EXPECT_EQ(trigger_list_next_changed(list_, task_, 0, &entry, &value), kTlNoChange);
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(trigger_list_find(list_, kA, &entry), kTlNotInList);

    EXPECT_EQ(trigger_list_create(nullptr), kTlBadArgument);
    EXPECT_EQ(trigger_list_destroy(nullptr), kTlBadArgument);
    EXPECT_EQ(trigger_list_poll(nullptr, task_), kTlBadArgument);
    EXPECT_EQ(trigger_list_wait(nullptr, task_), kTlBadArgument);
    EXPECT_EQ(trigger_list_apply(list_, task_, 2), kTlBadArgument);
    HandlerRecord* record = reinterpret_cast<HandlerRecord*>(1);
    EXPECT_EQ(trigger_list_add(list_, kA, nullptr, &record), kTlBadArgument);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(trigger_list_add(list_, 0x0001FFFFu, &Logger, &record), kTlUnknownTag);
    EXPECT_EQ(trigger_list_add(list_, 999, &Logger, &record), kTlUnknownTag);  // the kernel does not know it
    EXPECT_EQ(list_->entry_count, 0);
    EXPECT_EQ(trigger_list_remove(list_, nullptr), kTlBadArgument);
    // A record is removed only through its own list.
    HandlerRecord* a = Bind(kA, 1);
    TriggerList* other = nullptr;
    ASSERT_EQ(trigger_list_create(&other), kTlOk);
    EXPECT_EQ(trigger_list_remove(other, a), kTlBadArgument);
    EXPECT_EQ(trigger_list_destroy(other), kTlOk);
    EXPECT_EQ(trigger_list_remove(list_, a), kTlOk);
    EXPECT_EQ(list_->first, nullptr);
    EXPECT_EQ(list_->last, nullptr);

    // A stop request wakes the wait of an empty list, which arms nothing.
    ASSERT_EQ(db_->RequestStop(task_), 0);
    EXPECT_EQ(trigger_list_wait(list_, task_), kTlNoChange);
    EXPECT_EQ(list_->lock_held, 0);
}

TEST_F(TriggerListTest, ChangesRunTheirHandlersInTheOrderOfAddition) {
    HandlerRecord* first = Bind(kC, 3);
    HandlerRecord* second = Bind(kC, 4);  // shares the entry of the first
    Bind(kA, 1);
    Bind(kB, 2);
    EXPECT_EQ(list_->entry_count, 3);
    EXPECT_EQ(first->entry, second->entry);
    Change(kB, 5);
    Change(kC, 6);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{3, 4, 2}));  // order of addition, not of references
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    EXPECT_FALSE(lock_held_in_handler_);

    // Removing one record keeps the entry; removing the last drops it and
    // the kernel is no longer asked about the tag.
    EXPECT_EQ(trigger_list_remove(list_, first), kTlOk);
    EXPECT_EQ(list_->entry_count, 3);
    EXPECT_EQ(trigger_list_remove(list_, second), kTlOk);
    EXPECT_EQ(list_->entry_count, 2);
    EXPECT_EQ(list_->first->reference, kA);
    calls_.clear();
    Change(kC, 7);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    EXPECT_TRUE(calls_.empty());
}

TEST_F(TriggerListTest, HandlerRemovingTheEntryBeingDispatchedOrTheNextRecord) {
    HandlerRecord* a = Bind(kA, 1);
    HandlerRecord* a2 = Bind(kA, 2);
    Bind(kB, 3);
    Bind(kC, 4);
    // Handler 1 removes both records of A (the second is the one to be
    // called next): the entry goes, the scan goes on with B and C.
    action_ = [&](int id) {
        if (id == 1) {
            EXPECT_EQ(trigger_list_remove(list_, a2), kTlOk);
            EXPECT_EQ(trigger_list_remove(list_, a), kTlOk);
        }
    };
    Change(kA, 1);
    Change(kB, 1);
    Change(kC, 1);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(list_->entry_count, 2);
    EXPECT_EQ(list_->first->reference, kB);
}

TEST_F(TriggerListTest, HandlerRemovingAnEarlierEntryWhileTheScanGoesOn) {
    HandlerRecord* a = Bind(kA, 1);
    Bind(kB, 2);
    Bind(kC, 3);
    // B's handler removes A, the entry in the first slot of the arrays; the
    // scan resumes without touching it.
    action_ = [&](int id) {
        if (id == 2) {
            EXPECT_EQ(trigger_list_remove(list_, a), kTlOk);
        }
    };
    Change(kB, 1);
    Change(kC, 1);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{2, 3}));

    // A handler may add a binding; the next scan sees it.
    action_ = [&](int id) {
        if (id == 3) Bind(kA, 5);
    };
    calls_.clear();
    Change(kC, 2);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    Change(kA, 2);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{3, 5}));
}

TEST_F(TriggerListTest, ScansAndDestroyAreRefusedInsideAHandler) {
    Bind(kA, 1);
    std::vector<std::int32_t> results;
    action_ = [&](int) {
        results.push_back(trigger_list_poll(list_, task_));
        results.push_back(trigger_list_wait(list_, task_));
        results.push_back(trigger_list_destroy(list_));
        results.push_back(trigger_list_set_text_size(list_, 10));
        HandlerRecord* r = nullptr;
        results.push_back(trigger_list_add(list_, kB, &Logger, &r));
    };
    Change(kA, 1);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(results, (std::vector<std::int32_t>{kTlBusy, kTlBusy, kTlBusy, kTlBusy, kTlOk}));
    EXPECT_EQ(list_->in_handler, 0);
}

TEST_F(TriggerListTest, KernelFailuresAndStopsFromTheArming) {
    Bind(kA, 1);
    Change(kA, 1);
    win::test::FailCalls(kernel_op_name(kOpNextChanged), kKernelErrNoDatabase);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlKernelFailed);
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{1}));

    // A failing arming is a kernel failure; the wait does not block.
    win::test::FailCalls(kernel_op_name(kOpArmWait), kKernelErrNoDatabase);
    EXPECT_EQ(trigger_list_wait(list_, task_), kTlKernelFailed);
    EXPECT_EQ(list_->lock_held, 0);
    // An arming that reports a stop, or any other value, skips the wait and
    // is passed up.
    ASSERT_EQ(db_->RequestStop(task_), 0);
    EXPECT_EQ(trigger_list_wait(list_, task_), kKernelStopRequested);
    EXPECT_EQ(list_->lock_held, 0);
    win::test::FailCalls(kernel_op_name(kOpArmWait), 0, 1, 0, 55);
    EXPECT_EQ(trigger_list_block(list_, task_), 55);
    EXPECT_EQ(list_->lock_held, 0);
    EXPECT_EQ(Ids(), (std::vector<int>{1}));
}

TEST_F(TriggerListTest, BlockingWaitWakesOnAChangeAndRunsHandlersWithoutTheLock) {
    Bind(kA, 1);
    Bind(kB, 2);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Change(kB, 7);
    });
    EXPECT_EQ(trigger_list_wait(list_, task_), kTlOk);
    writer.join();
    EXPECT_EQ(Ids(), (std::vector<int>{2}));
    EXPECT_FALSE(lock_held_in_handler_);
    EXPECT_EQ(list_->lock_held, 0);

    // A change already pending is handled by the first scan, without waiting.
    Change(kA, 3);
    EXPECT_EQ(trigger_list_wait(list_, task_), kTlOk);
    EXPECT_EQ(Ids(), (std::vector<int>{2, 1}));
}

TEST_F(TriggerListTest, TextValuesAreTerminatedAndCutAtTheTextSize) {
    Bind(kT, 1);
    TagRef ref = kT;
    auto set_text = [&](const char* s) {
        PackedText slot{const_cast<char*>(s), 255, static_cast<std::uint16_t>(std::strlen(s))};
        ASSERT_EQ(kernel_write(other_, &ref, 1, &slot), 0);
    };
    set_text("a longer text");
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    set_text("hi");
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].text, "a longer text");
    EXPECT_EQ(calls_[1].text, "hi");

    ASSERT_EQ(trigger_list_set_text_size(list_, 5), kTlOk);
    set_text("abcdefghij");
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_LE(calls_[2].text.size(), 5u);
    EXPECT_EQ(calls_[2].text, std::string("abcdefghij").substr(0, calls_[2].text.size()));

    // A kernel that hands back a capacity and length beyond the list's
    // buffer: the text is still cut and terminated inside that buffer.
    KernelOps ops = sim::Ops();
    ops.next_changed = &OverstatingNextChanged;
    kernel_bind_table(ops);
    set_text("klmnopqrst");
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    ASSERT_EQ(calls_.size(), 4u);
    EXPECT_EQ(calls_[3].text, std::string("klmnopqrst").substr(0, calls_[3].text.size()));
    EXPECT_LE(calls_[3].text.size(), 5u);
}

int g_released = 0;
void CountRelease(TagEntry* entry, std::int32_t count, HandlerWord*) {
    EXPECT_EQ(entry, nullptr);
    g_released += count;
}

TEST_F(TriggerListTest, RemoveAndDestroyCallTheReleaseFunction) {
    g_released = 0;
    HandlerRecord* a = Bind(kA, 1);
    HandlerRecord* b = Bind(kB, 2);
    HandlerRecord* c = Bind(kB, 3);
    a->on_release = b->on_release = c->on_release = &CountRelease;
    HandlerWord words[3] = {1, 2, 3};
    ASSERT_EQ(handler_set_args(c, 3, words), kTlOk);
    EXPECT_EQ(trigger_list_remove(list_, a), kTlOk);
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(trigger_list_remove(list_, b), kTlOk);
    EXPECT_EQ(g_released, 2);
    EXPECT_EQ(trigger_list_destroy(list_), kTlOk);
    list_ = nullptr;
    EXPECT_EQ(g_released, 5);
}

}  // namespace
