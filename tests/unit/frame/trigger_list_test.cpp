// The trigger list over the in-process kernel: scans, waits, arming, and
// handlers that change the list while it is being dispatched.
#include <cstring>
#include <functional>

#include "frame/trigger_list.h"
#include "tests/support/in_process_kernel.h"

namespace {

const char* kTags =
    "A int16 0\n"
    "B int16 0\n"
    "C int16 0\n"
    "T text \"\"\n"
    "D int16 0\n";
enum : TagRef { kA, kB, kC, kT, kD };

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
        t->ids_.push_back(id);
        if (entry->type == kTagText && value->Text() != nullptr) t->texts_.push_back(value->Text());
        t->lock_held_in_handler_ = t->lock_held_in_handler_ || t->list_->lock_held != 0;
        if (t->action_) t->action_(id);
    }

    static TriggerListTest* current_;
    std::unique_ptr<sim::Database> db_;
    TaskId task_ = -1;
    TaskId other_ = -1;
    TriggerList* list_ = nullptr;
    std::vector<int> ids_;
    std::vector<std::string> texts_;
    std::function<void(int)> action_;
    bool lock_held_in_handler_ = false;
};

TriggerListTest* TriggerListTest::current_ = nullptr;

TEST_F(TriggerListTest, EmptyListAndArgumentChecks) {
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    EXPECT_EQ(trigger_list_apply(list_, task_, 2), kTlBadArgument);
    HandlerRecord* record = nullptr;
    EXPECT_EQ(trigger_list_add(list_, kA, nullptr, &record), kTlBadArgument);
    EXPECT_EQ(trigger_list_add(list_, 0x0001FFFFu, &Logger, &record), kTlUnknownTag);
    EXPECT_EQ(trigger_list_add(list_, 999, &Logger, &record), kTlUnknownTag);  // the kernel does not know it
    EXPECT_EQ(list_->entry_count, 0);
    EXPECT_EQ(trigger_list_remove(list_, Bind(kA, 1)), kTlOk);
    EXPECT_EQ(list_->first, nullptr);
    EXPECT_EQ(list_->last, nullptr);

    // A stop request wakes the wait of an empty list, which arms nothing.
    ASSERT_EQ(db_->RequestStop(task_), 0);
    EXPECT_EQ(trigger_list_wait(list_, task_), kTlNoChange);
    EXPECT_EQ(list_->lock_held, 0);
}

int g_released = 0;
void CountRelease(TagEntry* entry, std::int32_t count, HandlerWord*) {
    EXPECT_EQ(entry, nullptr);
    g_released += count;
}

TEST_F(TriggerListTest, ChangesRunTheirHandlersInTheOrderOfAddition) {
    HandlerRecord* first = Bind(kC, 3);
    HandlerRecord* second = Bind(kC, 4);  // shares the entry of the first
    Bind(kA, 1);
    Bind(kB, 2);
    EXPECT_EQ(list_->entry_count, 3);
    Change(kB, 5);
    Change(kC, 6);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(ids_, (std::vector<int>{3, 4, 2}));  // order of addition, not of references
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    EXPECT_FALSE(lock_held_in_handler_);

    // Removing one record keeps the entry (and calls its release function);
    // removing the last drops it and the kernel is no longer asked about
    // the tag.
    g_released = 0;
    first->on_release = &CountRelease;
    EXPECT_EQ(trigger_list_remove(list_, first), kTlOk);
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(list_->entry_count, 3);
    EXPECT_EQ(trigger_list_remove(list_, second), kTlOk);
    EXPECT_EQ(list_->entry_count, 2);
    EXPECT_EQ(list_->first->reference, kA);
    ids_.clear();
    Change(kC, 7);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlNoChange);
    EXPECT_TRUE(ids_.empty());
}

TEST_F(TriggerListTest, HandlersChangeTheListWhileTheScanGoesOn) {
    HandlerRecord* a = Bind(kA, 1);
    HandlerRecord* a2 = Bind(kA, 2);
    HandlerRecord* b = Bind(kB, 3);
    Bind(kC, 4);
    Bind(kC, 8);
    Bind(kD, 5);
    // Handler 1 removes both records of A (the second is the one to be
    // called next): the entry goes, the scan goes on with B.
    action_ = [&](int id) {
        if (id != 1) return;
        EXPECT_EQ(trigger_list_remove(list_, a2), kTlOk);
        EXPECT_EQ(trigger_list_remove(list_, a), kTlOk);
    };
    Change(kA, 1);
    Change(kB, 1);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(ids_, (std::vector<int>{1, 3}));
    EXPECT_EQ(list_->first->reference, kB);

    // C's first handler removes B, the entry in the first slot of the
    // arrays, and binds its own tag again and a new one: the scan resumes
    // without touching B, and the new bindings run from the next change on.
    action_ = [&](int id) {
        if (id != 4 || b == nullptr) return;
        EXPECT_EQ(trigger_list_remove(list_, b), kTlOk);
        b = nullptr;
        Bind(kC, 6);
        Bind(kA, 7);
    };
    ids_.clear();
    Change(kC, 2);
    Change(kD, 2);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(ids_, (std::vector<int>{4, 8, 5}));
    Change(kA, 2);
    Change(kC, 3);
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(ids_, (std::vector<int>{4, 8, 5, 4, 8, 6, 7}));
    EXPECT_EQ(list_->entry_count, 3);
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
    EXPECT_TRUE(ids_.empty());
    EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
    EXPECT_EQ(ids_, (std::vector<int>{1}));

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
}

TEST_F(TriggerListTest, TextValuesAreTerminatedAndCutAtTheTextSize) {
    Bind(kT, 1);
    TagRef ref = kT;
    // Each text after a longer one; the last row's kernel hands back a
    // capacity and length beyond the list's buffer.
    const struct {
        std::uint16_t text_size;
        bool overstating;
        const char* text;
        const char* delivered;
    } rows[] = {
        {80, false, "a longer text", "a longer text"},
        {80, false, "hi", "hi"},
        {5, false, "abcdefghij", "abcde"},
        {5, true, "klmnopqrst", "klmno"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        ASSERT_EQ(trigger_list_set_text_size(list_, r.text_size), kTlOk);
        KernelOps ops = sim::Ops();
        if (r.overstating) ops.next_changed = &OverstatingNextChanged;
        kernel_bind_table(ops);
        PackedText slot{const_cast<char*>(r.text), 255, static_cast<std::uint16_t>(std::strlen(r.text))};
        ASSERT_EQ(kernel_write(other_, &ref, 1, &slot), 0);
        texts_.clear();
        EXPECT_EQ(trigger_list_poll(list_, task_), kTlOk);
        EXPECT_EQ(texts_, std::vector<std::string>{r.delivered});
    }
}

}  // namespace
