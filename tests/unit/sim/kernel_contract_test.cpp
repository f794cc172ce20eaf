// Contracts of the kernel operations, through the bound table over an
// in-process database.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "frame/kernel.h"
#include "platform/error.h"
#include "platform/library.h"
#include "sim/sim.h"

namespace {

const char* kTagList =
    "# every type\n"
    "I16 int16 -5\n"
    "I16B 1 7\n"
    "R real 2.5\n"
    "T text \"hello\"\n"
    "I32 int32 70000\n"
    "B block 0102\n"
    "OFF none\n"
    "OTHER int16 0\n";

enum : TagRef { kI16, kI16B, kR, kT, kI32, kB, kOff, kOther };

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<sim::TagSpec> specs;
        std::string error;
        ASSERT_TRUE(sim::ParseTagList(kTagList, specs, error)) << error;
        db_ = sim::Database::CreateInProcess(specs, error);
        ASSERT_TRUE(db_) << error;
        sim::SetCurrentDatabase(db_.get());
        kernel_bind_table(sim::Ops());
        task_ = kernel_attach("TASKA", "Task A", "app", "dom", "usr");
        other_ = kernel_attach("TASKB", "Task B", "app", "dom", "usr");
        ASSERT_GE(task_, 0);
        ASSERT_GE(other_, 0);
    }
    void TearDown() override {
        sim::ClearFaults();
        kernel_unbind();
        sim::SetCurrentDatabase(nullptr);
    }

    void SetInt16(TaskId writer, TagRef ref, std::int16_t v) { ASSERT_EQ(kernel_write(writer, &ref, 1, &v), 0); }

    std::unique_ptr<sim::Database> db_;
    TaskId task_ = -1;
    TaskId other_ = -1;
};

TEST(ValueRecordLayout, FieldsSitWhereTheKernelBoundaryExpectsThem) {
    EXPECT_EQ(sizeof(ValueRecord), 18 + sizeof(void*));
    EXPECT_EQ(offsetof(ValueRecord, capacity), sizeof(void*));
    EXPECT_EQ(offsetof(ValueRecord, length), sizeof(void*) + 2);
    EXPECT_EQ(offsetof(ValueRecord, header_a), sizeof(void*) + 4);
    EXPECT_EQ(offsetof(ValueRecord, header_d), sizeof(void*) + 12);
    EXPECT_EQ(sizeof(TaskEnvironment), 268u);

    ValueRecord r{};
    r.SetInt16(-2);
    EXPECT_EQ(r.lead[0], 0xFE);
    EXPECT_EQ(r.lead[1], 0xFF);
    r.SetReal(1.0);  // 0x3FF0000000000000, little-endian from offset 0
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&r);
    EXPECT_EQ(bytes[7], 0x3F);
    EXPECT_EQ(bytes[6], 0xF0);
    char text[4];
    r.SetText(text);
    EXPECT_EQ(r.Text(), text);

    EXPECT_EQ(PackedSlotSize(kTagInt16), 2u);
    EXPECT_EQ(PackedSlotSize(kTagInt16Alt), 2u);
    EXPECT_EQ(PackedSlotSize(kTagReal), 8u);
    EXPECT_EQ(PackedSlotSize(kTagText), sizeof(void*) + 4);
    EXPECT_EQ(PackedSlotSize(kTagInt32), 4u);
    EXPECT_EQ(PackedSlotSize(kTagBlock), 0u);
    EXPECT_EQ(PackedSlotSize(kTagNotConfigured), 0u);

    TaskEnvironment env = EmptyTaskEnvironment();
    EXPECT_EQ(env.status_tag, kInvalidTagRef);
    EXPECT_EQ(env.app_dir[0], '\0');
}

TEST_F(KernelTest, AttachFillsTheEnvironmentAndRefusesBadOrDuplicateNames) {
    TaskEnvironment env = EmptyTaskEnvironment();
    ASSERT_EQ(kernel_task_environment(task_, &env), 0);
    ASSERT_TRUE(TagRefNamesTag(env.status_tag));
    ASSERT_TRUE(TagRefNamesTag(env.message_tag));
    EXPECT_EQ(env.reserved_tag, kInvalidTagRef);
    EXPECT_EQ(db_->FindTag("TASKA.STATUS"), static_cast<std::int32_t>(env.status_tag));
    EXPECT_EQ(db_->FindTag("TASKA.MSG"), static_cast<std::int32_t>(env.message_tag));
    std::int16_t types[2];
    TagRef own[2] = {env.status_tag, env.message_tag};
    ASSERT_EQ(kernel_tag_types(own, 2, types, 0), 0);
    EXPECT_EQ(types[0], kTagInt16);
    EXPECT_EQ(types[1], kTagText);
    const char* app = std::getenv("VDAPP");
    EXPECT_STREQ(env.app_dir, app ? std::string(app).substr(0, 63).c_str() : "");

    EXPECT_EQ(kernel_task_environment(99, &env), -1);
    EXPECT_EQ(kernel_task_environment(task_, nullptr), -1);

    EXPECT_EQ(kernel_attach("TASKA", "again", "", "", ""), -3);
    EXPECT_EQ(kernel_attach("", "empty", "", "", ""), -2);
    EXPECT_EQ(kernel_attach(nullptr, "null", "", "", ""), -2);
    EXPECT_EQ(kernel_attach("A_NAME_OF_THIRTY_TWO_CHARACTERS!", "", "", "", ""), -2);

    // The table fills up; a detached slot is free again.
    std::vector<TaskId> ids;
    for (int i = 0; i < kKernelMaxTasks; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "T%d", i);
        TaskId id = kernel_attach(name, "", "", "", "");
        if (id < 0) {
            EXPECT_EQ(id, -4);
            break;
        }
        ids.push_back(id);
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kKernelMaxTasks - 2));
    EXPECT_EQ(kernel_detach(ids.back()), 0);
    EXPECT_EQ(kernel_detach(ids.back()), -1);
    EXPECT_EQ(kernel_last_error(ids.back()), kKernelErrNotAttached);
    EXPECT_GE(kernel_attach("LATE", "", "", "", ""), 0);

    char text[kKernelTaskTextSize];
    ASSERT_EQ(kernel_task_text(task_, text), 0);
    EXPECT_NE(std::string(text).find("TASKA"), std::string::npos);
    EXPECT_STRNE(kernel_banner(), "");
}

TEST_F(KernelTest, PackedReadsAndWritesOfEveryBatchType) {
    TagRef refs[] = {kI16, kI16B, kR, kT, kI32};
    char text[80] = {};
    std::vector<std::uint8_t> buffer(2 + 2 + 8 + kPackedTextSlot + 4, 0xAA);
    PackedText pt{text, sizeof text, 0};
    std::memcpy(&buffer[12], &pt, sizeof pt);
    ASSERT_EQ(kernel_read(task_, refs, 5, buffer.data()), 0);
    std::int16_t i16, i16b;
    double r;
    std::int32_t i32;
    std::memcpy(&i16, &buffer[0], 2);
    std::memcpy(&i16b, &buffer[2], 2);
    std::memcpy(&r, &buffer[4], 8);
    std::memcpy(&pt, &buffer[12], sizeof pt);
    std::memcpy(&i32, &buffer[12 + kPackedTextSlot], 4);
    EXPECT_EQ(i16, -5);
    EXPECT_EQ(i16b, 7);
    EXPECT_EQ(r, 2.5);
    EXPECT_EQ(pt.length, 5);
    EXPECT_EQ(pt.text, text);
    EXPECT_STREQ(text, "hello");
    EXPECT_EQ(i32, 70000);

    // Write new values in the same form and read them back.
    i16 = 32767;
    i16b = -32768;
    r = -0.125;
    i32 = -2000000000;
    char out_text[80] = "new text!";
    PackedText wt{out_text, sizeof out_text, 9};
    std::memcpy(&buffer[0], &i16, 2);
    std::memcpy(&buffer[2], &i16b, 2);
    std::memcpy(&buffer[4], &r, 8);
    std::memcpy(&buffer[12], &wt, sizeof wt);
    std::memcpy(&buffer[12 + kPackedTextSlot], &i32, 4);
    ASSERT_EQ(kernel_write(other_, refs, 5, buffer.data()), 0);
    sim::Value v;
    db_->GetValue(kI16, v);
    EXPECT_EQ(v.integer, 32767);
    db_->GetValue(kI16B, v);
    EXPECT_EQ(v.integer, -32768);
    db_->GetValue(kR, v);
    EXPECT_EQ(v.real, -0.125);
    db_->GetValue(kT, v);
    EXPECT_EQ(v.bytes, "new text!");
    db_->GetValue(kI32, v);
    EXPECT_EQ(v.integer, -2000000000);
    EXPECT_EQ(kernel_write_result(other_, refs, 5, buffer.data()), 0);

    // Blocks and unconfigured tags have no packed form; unknown references fail.
    TagRef block = kB, off = kOff, unknown = 999;
    EXPECT_EQ(kernel_read(task_, &block, 1, buffer.data()), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrWrongType);
    EXPECT_EQ(kernel_write(task_, &off, 1, buffer.data()), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrWrongType);
    EXPECT_EQ(kernel_read(task_, &unknown, 1, buffer.data()), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrUnknownTag);
    EXPECT_EQ(kernel_read(task_, refs, 1, nullptr), -1);
    EXPECT_EQ(kernel_read(-1, refs, 1, buffer.data()), -1);
    EXPECT_EQ(kernel_last_error(-1), kKernelErrNotAttached);

    std::int16_t types[8];
    TagRef all[] = {kI16, kI16B, kR, kT, kI32, kB, kOff};
    ASSERT_EQ(kernel_tag_types(all, 7, types, 0), 0);
    EXPECT_EQ(types[5], kTagBlock);
    EXPECT_EQ(types[6], kTagNotConfigured);
    EXPECT_EQ(kernel_tag_types(&unknown, 1, types, 0), -1);
    TagRef none = kInvalidTagRef;
    EXPECT_EQ(kernel_tag_types(&none, 1, types, 0), -1);
}

TEST_F(KernelTest, TextCapacityAndLengthAreKept) {
    TagRef ref = kT;
    std::string longest(kKernelTextCapacity, 'x');
    PackedText pt{longest.data(), kKernelTextCapacity, kKernelTextCapacity};
    ASSERT_EQ(kernel_write(other_, &ref, 1, &pt), 0);

    // Too long for the tag: refused, the old value stays.
    std::string too_long(kKernelTextCapacity + 1, 'y');
    PackedText big{too_long.data(), static_cast<std::uint16_t>(too_long.size()),
                   static_cast<std::uint16_t>(too_long.size())};
    EXPECT_EQ(kernel_write(other_, &ref, 1, &big), -1);
    EXPECT_EQ(kernel_last_error(other_), kKernelErrTooLong);
    // A length beyond the caller's own capacity is refused too.
    PackedText bad{too_long.data(), 4, 5};
    EXPECT_EQ(kernel_write(other_, &ref, 1, &bad), -1);
    EXPECT_EQ(kernel_last_error(other_), kKernelErrInvalidArg);
    sim::Value v;
    db_->GetValue(kT, v);
    EXPECT_EQ(v.bytes, longest);

    // A read fills at most the capacity and does not write past it.
    char small[12];
    std::memset(small, '#', sizeof small);
    PackedText rd{small, 10, 0};
    ASSERT_EQ(kernel_read(task_, &ref, 1, &rd), 0);
    EXPECT_EQ(rd.length, 10);
    EXPECT_EQ(std::string(small, 10), std::string(10, 'x'));
    EXPECT_EQ(small[10], '#');

    // A shorter text is terminated after its length; an empty text is length 0.
    char word[] = "abc";
    PackedText w{word, 80, 3};
    ASSERT_EQ(kernel_write(other_, &ref, 1, &w), 0);
    char buf[80];
    std::memset(buf, '#', sizeof buf);
    PackedText r2{buf, sizeof buf, 0};
    ASSERT_EQ(kernel_read(task_, &ref, 1, &r2), 0);
    EXPECT_EQ(r2.length, 3);
    EXPECT_STREQ(buf, "abc");
    PackedText empty{nullptr, 0, 0};
    ASSERT_EQ(kernel_write(other_, &ref, 1, &empty), 0);
    db_->GetValue(kT, v);
    EXPECT_EQ(v.bytes, "");
}

TEST_F(KernelTest, NextChangedReportsOthersChangesOnceThenError11) {
    TagRef refs[] = {kI16, kR, kOther, kB};
    std::int32_t index = 0;
    ValueRecord rec{};
    // Attaching sees no old changes: the initial values are not changes.
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrNoChange);

    // Own writes are not changes to the writer.
    SetInt16(task_, kOther, 11);
    index = 0;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);

    // The other task's writes are; writing the same value again is not.
    SetInt16(other_, kOther, 12);
    SetInt16(other_, kOther, 12);
    SetInt16(other_, kI16, 3);
    index = 0;
    ASSERT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(rec.Int16(), 3);
    ++index;
    ASSERT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), 0);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(rec.Int16(), 12);
    ++index;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrNoChange);
    EXPECT_EQ(index, 3);
    // Seen changes stay seen; the other task itself saw none of its own.
    index = 0;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);
    EXPECT_EQ(kernel_next_changed(other_, refs, 4, &index, &rec), -1);

    // The search starts at the given index.
    SetInt16(other_, kI16, 4);
    index = 1;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);
    index = 0;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), 0);

    // A block arrives with its bytes, length and header; a text is cut at
    // the capacity given.
    sim::Value block;
    block.type = kTagBlock;
    block.bytes = std::string("\x01\x02\x03\x04\x05", 5);
    block.header.b = 9;
    ASSERT_EQ(db_->SetValue(kB, block), 0);
    std::uint8_t bytes[3] = {};
    ValueRecord brec{};
    brec.SetBytes(bytes);
    brec.capacity = 3;
    index = 0;
    ASSERT_EQ(kernel_next_changed(task_, refs, 4, &index, &brec), 0);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(brec.length, 3);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(brec.header_a, 0xFFFFFFFFu);
    EXPECT_EQ(brec.header_b, 9);

    // Bad arguments.
    index = -1;
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, &index, &rec), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrInvalidArg);
    EXPECT_EQ(kernel_next_changed(task_, refs, 4, nullptr, &rec), -1);
    TagRef unknown = 500;
    index = 0;
    EXPECT_EQ(kernel_next_changed(task_, &unknown, 1, &index, &rec), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrUnknownTag);
}

TEST_F(KernelTest, ArmingWaitingAndStopRequests) {
    TagRef armed = kI16, unknown = 4000;
    EXPECT_EQ(kernel_arm_wait(task_, &unknown, 1), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrUnknownTag);
    ASSERT_EQ(kernel_arm_wait(task_, &armed, 1), 0);

    // Nothing pending: the test-only mode answers at once.
    EXPECT_EQ(kernel_wait_change(task_, 0), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrTimeout);
    // A change to a tag that is not armed does not wake.
    SetInt16(other_, kOther, 5);
    EXPECT_EQ(db_->WaitChangeFor(task_, 30), kKernelErrTimeout);
    // A change made before the wait to an armed tag ends it at once.
    SetInt16(other_, kI16, 5);
    EXPECT_EQ(kernel_wait_change(task_, kKernelWaitBlock), 0);
    ASSERT_EQ(kernel_disarm_wait(task_, &armed, 1), 0);
    EXPECT_EQ(kernel_disarm_wait(task_, &unknown, 1), -1);

    EXPECT_EQ(kernel_stop_requested(task_), 0);
    EXPECT_EQ(kernel_after_wait(task_), 0);
    EXPECT_EQ(kernel_start_notice(task_, 15, 0), 0);
    ASSERT_EQ(db_->RequestStop(task_), 0);
    EXPECT_NE(kernel_stop_requested(task_), 0);
    EXPECT_EQ(kernel_arm_wait(task_, &armed, 1), kKernelStopRequested);
    EXPECT_EQ(kernel_wait_change(task_, kKernelWaitBlock), 0);
    EXPECT_EQ(kernel_stop_requested(77), -1);
    EXPECT_EQ(kernel_shutdown_probe(), -1);
    db_->SetShutdownHold(true);
    EXPECT_EQ(kernel_shutdown_probe(), 0);
}

TEST_F(KernelTest, BlockedWaitReleasesTheNestedLockAndRestoresIt) {
    TagRef armed = kI16;
    ASSERT_EQ(kernel_lock(task_), 0);
    ASSERT_EQ(kernel_lock(task_), 0);
    ASSERT_EQ(kernel_arm_wait(task_, &armed, 1), 0);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // Takes the database lock: possible only while the waiter released it.
        std::int16_t v = 9;
        EXPECT_EQ(kernel_write(other_, &armed, 1, &v), 0);
        written = true;
    });
    // The wait ends on the writer's change, which it could only make while
    // the waiter had released the lock; the flag is set just after.
    EXPECT_EQ(kernel_wait_change(task_, kKernelWaitBlock), 0);
    writer.join();
    EXPECT_TRUE(written.load());
    // Still held twice by this thread: another thread cannot take it.
    auto blocked = std::async(std::launch::async, [&] {
        kernel_lock(other_);
        kernel_unlock(other_);
        return true;
    });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(kernel_unlock(task_), 0);
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(kernel_unlock(task_), 0);
    EXPECT_TRUE(blocked.get());
    EXPECT_EQ(kernel_unlock(task_), -1);
    EXPECT_EQ(kernel_last_error(task_), kKernelErrNotLocked);
    EXPECT_EQ(kernel_lock(-1), -1);
}

TEST_F(KernelTest, StopRequestAndDetachWakeABlockedWait) {
    TagRef armed = kI16;
    ASSERT_EQ(kernel_arm_wait(task_, &armed, 1), 0);
    auto waiter = std::async(std::launch::async, [&] { return kernel_wait_change(task_, kKernelWaitBlock); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    ASSERT_EQ(db_->RequestStop(task_), 0);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 0);

    // An empty armed set still waits, until the task is detached.
    auto second = std::async(std::launch::async, [&] { return db_->WaitChangeFor(other_, 5000); });
    EXPECT_EQ(second.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    ASSERT_EQ(kernel_detach(other_), 0);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(second.get(), kKernelErrNotAttached);
}

TEST_F(KernelTest, InjectedFaultsFailTheNextCallsOnly) {
    TagRef ref = kI16;
    std::int16_t v = 0;
    sim::InjectFault(kOpRead, 2, 9);
    EXPECT_EQ(kernel_read(task_, &ref, 1, &v), -1);
    EXPECT_EQ(kernel_last_error(task_), 9);
    EXPECT_EQ(kernel_read(task_, &ref, 1, &v), -1);
    EXPECT_EQ(kernel_read(task_, &ref, 1, &v), 0);
    EXPECT_EQ(v, -5);

    sim::InjectFault(kOpArmWait, 1, kKernelStopRequested, kKernelStopRequested);
    EXPECT_EQ(kernel_arm_wait(task_, &ref, 1), kKernelStopRequested);
    EXPECT_EQ(kernel_arm_wait(task_, &ref, 1), 0);

    sim::InjectFault(kOpAttach, 1, kKernelErrNoDatabase, -7);
    EXPECT_EQ(kernel_attach("X", "", "", "", ""), -7);
    sim::InjectFault(kOpBanner, 1, 0);
    EXPECT_STREQ(kernel_banner(), "");

    sim::InjectFault(kOpNextChanged, 1, 13);
    std::int32_t index = 0;
    ValueRecord rec{};
    EXPECT_EQ(kernel_next_changed(task_, &ref, 1, &index, &rec), -1);
    EXPECT_EQ(kernel_last_error(task_), 13);
    sim::ClearFaults();
    sim::InjectFault(kOpWrite, 5, 4);
    sim::InjectFault(kOpWrite, 0, 0);  // withdrawn
    EXPECT_EQ(kernel_write(task_, &ref, 1, &v), 0);
}

TEST(KernelBinding, UnboundCallsFailWithoutCrashing) {
    kernel_unbind();
    EXPECT_FALSE(kernel_is_bound());
    EXPECT_EQ(kernel_attach("X", "", "", "", ""), -1);
    char buf[8] = "zzz";
    EXPECT_EQ(kernel_get_env("PATH", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_STREQ(kernel_banner(), "");
    EXPECT_EQ(kernel_lock(0), -1);
    EXPECT_EQ(kernel_last_error(0), kKernelErrNoDatabase);
    KernelOps partial{};
    kernel_bind_table(partial);
    EXPECT_FALSE(kernel_is_bound());
}

TEST(KernelBinding, LibraryIsBoundByOperationNumber) {
    // The kernel library sits next to this program.
    ASSERT_EQ(kernel_bind_library(), 0);
    EXPECT_TRUE(kernel_is_bound());
    EXPECT_STREQ(kernel_banner(), "VD stand-in runtime kernel 1.0");
    char buf[4] = "zzz";
    EXPECT_EQ(kernel_get_env("VD_SURELY_UNSET_VARIABLE", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    kernel_unbind();
    EXPECT_FALSE(kernel_is_bound());

    // What the binding relies on when something is missing.
    EXPECT_EQ(win::LoadLibraryA("NOSUCHLIB.dll"), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);
    win::HMODULE lib = win::LoadLibraryA("VDKERNEL.dll");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(win::GetProcAddress(lib, win::OrdinalName(kOpAttach)), nullptr);
    EXPECT_EQ(win::GetProcAddress(lib, win::OrdinalName(999)), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PROC_NOT_FOUND);
    win::FreeLibrary(lib);
}

TEST(KernelGetEnv, CopiesAndCutsTheValue) {
    const KernelOps& ops = sim::Ops();
    char big[4096];
    ASSERT_NE(ops.get_env("PATH", big, sizeof big), 0);  // set in every test environment
    char small[4];
    std::memset(small, '#', sizeof small);
    ASSERT_NE(ops.get_env("PATH", small, sizeof small), 0);
    EXPECT_EQ(std::strlen(small), std::min<std::size_t>(3, std::strlen(big)));
    EXPECT_EQ(ops.get_env("VD_SURELY_UNSET_VARIABLE", small, sizeof small), 0);
    EXPECT_EQ(ops.get_env("PATH", small, 0), 0);
}

}  // namespace
