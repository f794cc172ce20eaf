#include "frame/batch_transfer.h"

#include "frame/tag_object.h"
#include "tests/support/log_fixture.h"

using logtest::At;

namespace {

// What the kernel was handed by the last calls of an operation.
struct Call {
    TaskId task = kNoTask;
    std::vector<TagRef> refs;
    std::vector<std::uint8_t> bytes;
    bool lock_held = false;
};
std::vector<Call> g_calls;

void Record(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    std::size_t size = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        sim::TagInfo info;
        if (sim::CurrentDatabase()->GetTagInfo(TagRefIndex(refs[k]), info)) size += PackedSlotSize(info.type);
    }
    const auto* p = static_cast<const std::uint8_t*>(values);
    const KernelAccessState& s = kernel_access_state();
    g_calls.push_back({task, {refs, refs + count}, {p, p + size}, s.id_owner != 0 || s.second_id_owner != 0});
}

std::int32_t RecordingRead(TaskId task, const TagRef* refs, std::int32_t count, void* values) {
    std::int32_t rc = sim::Ops().read(task, refs, count, values);
    Record(task, refs, count, values);  // after the read: what came back
    return rc;
}
std::int32_t RecordingWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    Record(task, refs, count, values);
    return sim::Ops().write(task, refs, count, values);
}
std::int32_t RecordingWriteResult(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    Record(task, refs, count, values);
    return sim::Ops().write_result(task, refs, count, values);
}

class BatchTransferTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(AttachWithOther());
        KernelOps ops = sim::Ops();
        ops.read = &RecordingRead;
        ops.write = &RecordingWrite;
        ops.write_result = &RecordingWriteResult;
        kernel_bind_table(ops);
        g_calls.clear();
    }
};

TEST_F(BatchTransferTest, WriteBufferIsPackedByType) {
    TagObject i16(Ref("i16")), blk(Ref("blk")), real(Ref("real")), none, text(Ref("text")), i32(Ref("i32")),
        i16b(Ref("i16b"));
    // Nothing to transfer: no kernel call.
    TagObject* unusable[] = {&none, &blk, nullptr};
    EXPECT_EQ(BatchRead(unusable, 2), 0);
    EXPECT_EQ(BatchWriteResult(unusable, 3), 0);
    EXPECT_EQ(BatchWrite(unusable, -4), 0);
    EXPECT_TRUE(g_calls.empty());

    i16.SetInt(-9);
    real.SetInt(1000);
    text.SetInt(123);
    i32.SetInt(-100000);
    i16b.SetInt(300);
    TagObject* tags[] = {&i16, &blk, &real, &none, &text, &i32, &i16b};
    ASSERT_EQ(BatchWrite(tags, 7), 0);
    ASSERT_EQ(g_calls.size(), 1u);
    const Call& c = g_calls[0];
    EXPECT_TRUE(c.refs == (std::vector<TagRef>{Ref("i16"), Ref("real"), Ref("text"), Ref("i32"), Ref("i16b")}))
        << "blocks and unusable tags are left out";
    // int16 | real | text: pointer, capacity, length | int32 | int16; the
    // offsets written out for 4- and 8-byte pointers.
    constexpr std::size_t kPointer = sizeof(void*) == 4 ? 4 : 8;
    ASSERT_EQ(c.bytes.size(), 20 + kPointer);
    EXPECT_EQ(At<std::int16_t>(c.bytes.data(), 0), -9);
    EXPECT_EQ(At<double>(c.bytes.data(), 2), 1000.0);
    EXPECT_EQ(At<char*>(c.bytes.data(), 10), text.Record().Text());
    EXPECT_EQ(At<std::uint16_t>(c.bytes.data(), 10 + kPointer), 80);
    EXPECT_EQ(At<std::uint16_t>(c.bytes.data(), 12 + kPointer), 3) << "the current length, not the capacity";
    EXPECT_EQ(At<std::int32_t>(c.bytes.data(), 14 + kPointer), -100000);
    EXPECT_EQ(At<std::int16_t>(c.bytes.data(), 18 + kPointer), 300);
    EXPECT_EQ(Db("text"), "123");
}

TEST_F(BatchTransferTest, ReadHandsEachTagItsOwnValue) {
    SetDb("blk", "0a0b0c");
    SetDb("text", "fresh text");
    TagObject i16(Ref("i16")), blk(Ref("blk")), real(Ref("real")), text(Ref("text")), i32(Ref("i32"));
    TagObject* tags[] = {&blk, &text, &i16, &blk, &real, &i32};
    ASSERT_EQ(BatchRead(tags, 6), 0);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].refs.size(), 4u);
    EXPECT_STREQ(text.AsText(), "fresh text");
    EXPECT_EQ(i16.AsInt(), 5);
    EXPECT_DOUBLE_EQ(real.AsDouble(), 2.5);
    EXPECT_EQ(i32.AsInt(), 70000);
    EXPECT_EQ(blk.Record().length, 0) << "the block is not read";
    // The text slot pointed into the tag's own buffer with its capacity.
    PackedText pt = At<PackedText>(g_calls[0].bytes.data(), 0);
    EXPECT_EQ(pt.text, text.Record().Text());
    EXPECT_EQ(pt.capacity, 80);
}

TEST_F(BatchTransferTest, FailuresReportTheKernelsCode) {
    TagObject i16(Ref("i16")), text(Ref("text"));
    text.SetInt(77);
    TagObject* tags[] = {&i16, &text};
    using Transfer = std::int32_t (*)(TagObject* const*, std::int32_t);
    const struct {
        int op;
        std::int32_t error, result;
        Transfer call;
        const char* status;
    } rows[] = {
        {kOpRead, kKernelErrUnknownTag, -1, &BatchRead, "VDERROR 3"},
        {kOpWrite, kKernelErrTooLong, -1, &BatchWrite, "VDERROR 6"},
        {kOpWriteResult, kKernelErrNotAttached, -1, &BatchWriteResult, "VDERROR 1"},
        // Code 2 of a write is returned without a message; of a read it is reported.
        {kOpWrite, 2, -1, &BatchWrite, ""},
        {kOpRead, 2, -1, &BatchRead, "VDERROR 2"},
        // A failed call for which the kernel keeps no code is still a failure.
        {kOpWrite, 0, -5, &BatchWrite, "VDERROR -5"},
        {kOpRead, 0, -4, &BatchRead, "VDERROR -4"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(kernel_op_name(r.op) + std::string(" ") + r.status);
        ClearMessageTag();
        win::test::FailCalls(kernel_op_name(r.op), r.error, 1, 0, r.result);
        EXPECT_EQ(r.call(tags, 2), r.error != 0 ? r.error : r.result);
        EXPECT_EQ(MessageTag(), r.status);
    }
    // A failed read leaves the tags as they were; the failed writes changed nothing.
    EXPECT_EQ(i16.AsInt(), 0);
    EXPECT_STREQ(text.AsText(), "77");
    EXPECT_EQ(Db("text"), "hello");
    EXPECT_EQ(BatchWrite(tags, 2), 0) << "the faults are used up";
}

TEST_F(BatchTransferTest, CallsRunUnderTheLockWithTheRightTaskId) {
    // With a second registration the plain write goes out under the second
    // id, the read and the result write under the task id.
    TaskState& state = task_state();
    ASSERT_EQ(CreateKernelAccessSemaphores(), 0);
    state.second_task_id = other_;
    ASSERT_EQ(UpdateSecondIdSemaphore(), 0);
    TagObject i16(Ref("i16"));
    TagObject* tags[] = {&i16};
    ASSERT_EQ(BatchRead(tags, 1), 0);
    ASSERT_EQ(BatchWrite(tags, 1), 0);
    ASSERT_EQ(BatchWriteResult(tags, 1), 0);
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].task, state.task_id);
    EXPECT_EQ(g_calls[1].task, other_);
    EXPECT_EQ(g_calls[2].task, state.task_id);
    for (const Call& c : g_calls) EXPECT_TRUE(c.lock_held);
    const KernelAccessState& s = kernel_access_state();
    EXPECT_EQ(s.id_owner.load() + s.second_id_owner.load(), 0u) << "every acquire was released";
}

}  // namespace
