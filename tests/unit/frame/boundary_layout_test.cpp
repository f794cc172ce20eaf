// The packed records that cross the kernel boundary, checked byte by byte
// in what the kernel wrote: the value record of a change, the task
// environment record, the packed value buffer of a read, the buffer the
// batch write hands over, and the handler argument words. The offsets are
// written out for the 32-bit product (4-byte pointers) and for the 64-bit
// builds (8-byte pointer slot), not derived from the structures under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/kernel_access.h"
#include "frame/tag_object.h"
#include "frame/batch_transfer.h"
#include "frame/dispatch.h"
#include "frame/trigger_list.h"
#include "platform/handle.h"
#include "tests/support/tags_fixture.h"

using tagtest::KernelFixture;

namespace {

constexpr bool kProduct = sizeof(void*) == 4;
constexpr std::size_t kPointer = kProduct ? 4 : 8;

struct RecordOffsets {
    std::size_t size, capacity, length, a, b, c, d, e;
};
constexpr RecordOffsets kRecord = kProduct ? RecordOffsets{22, 4, 6, 8, 12, 14, 16, 20}
                                           : RecordOffsets{26, 8, 10, 12, 16, 18, 20, 24};

constexpr std::uint8_t kUntouched = 0xA5;

template <typename T>
T At(const std::uint8_t* bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes + offset, sizeof v);
    return v;
}
template <typename T>
void Put(std::uint8_t* bytes, std::size_t offset, T v) {
    std::memcpy(bytes + offset, &v, sizeof v);
}

// Bytes the kernel may write into, followed by a guard that it must not.
struct Area {
    explicit Area(std::size_t size) : used(size), bytes(size + 16, kUntouched) {}
    std::uint8_t* data() { return bytes.data(); }
    bool GuardIntact() const {
        for (std::size_t i = used; i < bytes.size(); ++i)
            if (bytes[i] != kUntouched) return false;
        return true;
    }
    std::size_t used;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> g_written;

std::int32_t CapturingWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    std::size_t size = 0;
    for (std::int32_t k = 0; k < count; ++k) {
        sim::TagInfo info;
        if (sim::CurrentDatabase()->GetTagInfo(TagRefIndex(refs[k]), info)) size += PackedSlotSize(info.type);
    }
    const auto* p = static_cast<const std::uint8_t*>(values);
    g_written.assign(p, p + size);
    return sim::Ops().write(task, refs, count, values);
}

class BoundaryLayoutTest : public KernelFixture {
protected:
    void TearDown() override {
        vdtest::ResetKernelAccess();
        KernelFixture::TearDown();
    }

    TaskId Task() const { return task_state().task_id; }

    // Lets the kernel report the change of `name` into the record at `raw`.
    void NextChanged(const std::string& name, std::uint8_t* raw) {
        TagRef ref = Ref(name);
        std::int32_t index = 0;
        ASSERT_EQ(kernel_next_changed(Task(), &ref, 1, &index, reinterpret_cast<ValueRecord*>(raw)), 0) << name;
    }
};

TEST(BoundaryLayout, BuildHasThePointerWidthItClaims) {
    EXPECT_EQ(sizeof(ValueRecord), kRecord.size);
    EXPECT_EQ(sizeof(TaskEnvironment), 268u);
    EXPECT_EQ(sizeof(HandlerWord), kPointer);
}

TEST_F(BoundaryLayoutTest, ChangedValuesLandAtTheRecordsOffsets) {
    {
        SetDb("i16", "-2");
        Area r(kRecord.size);
        NextChanged("i16", r.data());
        EXPECT_EQ(At<std::int16_t>(r.data(), 0), -2);
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        SetDb("i32", "-16909061");  // 0xFEFDFCFB
        Area r(kRecord.size);
        NextChanged("i32", r.data());
        EXPECT_EQ(At<std::uint32_t>(r.data(), 0), 0xFEFDFCFBu);
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        SetDb("real", "-6.25");
        Area r(kRecord.size);
        NextChanged("real", r.data());
        EXPECT_EQ(At<double>(r.data(), 0), -6.25);
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        SetDb("text", "layout");
        char text[12];
        std::memset(text, 'x', sizeof text);
        Area r(kRecord.size);
        Put(r.data(), 0, static_cast<char*>(text));
        Put<std::uint16_t>(r.data(), kRecord.capacity, 10);
        NextChanged("text", r.data());
        EXPECT_EQ(At<char*>(r.data(), 0), text);
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.capacity), 10);
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.length), 6);
        EXPECT_STREQ(text, "layout");
        EXPECT_EQ(text[10], 'x') << "the kernel wrote beyond the capacity";
        EXPECT_EQ(r.data()[kRecord.a], kUntouched) << "a text record ends at its length field";
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        sim::Value v;
        v.type = kTagBlock;
        v.bytes = "\x01\x02\x03";
        v.header = sim::BlockHeader{0x11223344u, 0x5566, 0x7788, 0x99AABBCCu, 0xDDEE};
        ASSERT_EQ(db_->SetValue(static_cast<std::uint32_t>(db_->FindTag("blk")), v), 0);
        std::uint8_t bytes[8] = {};
        Area r(kRecord.size);
        Put(r.data(), 0, static_cast<std::uint8_t*>(bytes));
        Put<std::uint16_t>(r.data(), kRecord.capacity, sizeof bytes);
        NextChanged("blk", r.data());
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.length), 3);
        EXPECT_EQ(bytes[2], 0x03);
        EXPECT_EQ(At<std::uint32_t>(r.data(), kRecord.a), 0x11223344u);
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.b), 0x5566);
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.c), 0x7788);
        EXPECT_EQ(At<std::uint32_t>(r.data(), kRecord.d), 0x99AABBCCu);
        EXPECT_EQ(At<std::uint16_t>(r.data(), kRecord.e), 0xDDEE);
        EXPECT_TRUE(r.GuardIntact());

        // The tag object takes the header over from the same bytes.
        TagObject blk(Ref("blk"));
        ValueRecord record;
        std::memcpy(&record, r.data(), sizeof record);
        blk.Assign(record);
        EXPECT_EQ(blk.Record().header_d, 0x99AABBCCu);
        EXPECT_EQ(blk.Record().header_e, 0xDDEE);
    }
}

TEST_F(BoundaryLayoutTest, TaskEnvironmentIsFilledWithin268Bytes) {
    Area env(268);
    ASSERT_EQ(kernel_task_environment(Task(), reinterpret_cast<TaskEnvironment*>(env.data())), 0);
    EXPECT_EQ(At<std::uint32_t>(env.data(), 0), kInvalidTagRef);
    EXPECT_EQ(At<std::uint32_t>(env.data(), 4), Ref("VDWINUT.STATUS"));
    EXPECT_EQ(At<std::uint32_t>(env.data(), 8), Ref("VDWINUT.MSG"));
    const char* app = std::getenv("VDAPP");
    EXPECT_STREQ(reinterpret_cast<const char*>(env.data() + 12), app ? std::string(app).substr(0, 63).c_str() : "");
    const char* root = std::getenv("VDROOT");
    EXPECT_STREQ(reinterpret_cast<const char*>(env.data() + 76), root ? std::string(root).substr(0, 63).c_str() : "");
    EXPECT_EQ(env.data()[12 + 63], 0) << "the application directory is cut inside its 64 bytes";
    EXPECT_EQ(env.data()[76 + 63], 0) << "the installation directory is cut inside its 64 bytes";
    EXPECT_EQ(env.data()[267], 0);
    EXPECT_TRUE(env.GuardIntact());
}

TEST_F(BoundaryLayoutTest, ReadFillsThePackedSlotsWithoutGaps) {
    SetDb("i16", "-300");
    SetDb("real", "0.125");
    SetDb("text", "packed");
    SetDb("i32", "123456789");
    SetDb("i16b", "4660");  // 0x1234
    // int16 | real | text: pointer, capacity, length | int32 | int16
    constexpr std::size_t kText = 10, kInt32 = 14 + kPointer, kLast = 18 + kPointer, kEnd = 20 + kPointer;
    static_assert(!kProduct || kEnd == 24);
    const TagRef refs[] = {Ref("i16"), Ref("real"), Ref("text"), Ref("i32"), Ref("i16b")};
    char text[16] = {};
    Area buf(kEnd);
    Put(buf.data(), kText, static_cast<char*>(text));
    Put<std::uint16_t>(buf.data(), kText + kPointer, sizeof text);
    ASSERT_EQ(kernel_read(Task(), refs, 5, buf.data()), 0);
    EXPECT_EQ(At<std::int16_t>(buf.data(), 0), -300);
    EXPECT_EQ(At<double>(buf.data(), 2), 0.125);
    EXPECT_EQ(At<char*>(buf.data(), kText), text);
    EXPECT_EQ(At<std::uint16_t>(buf.data(), kText + kPointer), sizeof text);
    EXPECT_EQ(At<std::uint16_t>(buf.data(), kText + kPointer + 2), 6);
    EXPECT_STREQ(text, "packed");
    EXPECT_EQ(At<std::int32_t>(buf.data(), kInt32), 123456789);
    EXPECT_EQ(At<std::int16_t>(buf.data(), kLast), 0x1234);
    EXPECT_TRUE(buf.GuardIntact());
}

TEST_F(BoundaryLayoutTest, BatchWriteHandsOverTheSamePackedLayout) {
    KernelOps ops = sim::Ops();
    ops.write = &CapturingWrite;
    kernel_bind_table(ops);
    g_written.clear();
    TagObject i32(Ref("i32")), blk(Ref("blk")), text(Ref("text")), i16(Ref("i16"));
    i32.SetInt(-70000);
    text.SetInt(4711);
    i16.SetInt(-3);
    TagObject* tags[] = {&i32, &blk, &text, &i16};
    ASSERT_EQ(BatchWrite(tags, 4), 0);
    // int32 | text: pointer, capacity, length | int16; the block has no slot
    ASSERT_EQ(g_written.size(), 10 + kPointer);
    const std::uint8_t* b = g_written.data();
    EXPECT_EQ(At<std::int32_t>(b, 0), -70000);
    EXPECT_EQ(At<const char*>(b, 4), text.AsText());
    EXPECT_EQ(At<std::uint16_t>(b, 4 + kPointer), 80);
    EXPECT_EQ(At<std::uint16_t>(b, 6 + kPointer), 4);
    EXPECT_EQ(At<std::int16_t>(b, 8 + kPointer), -3);
    EXPECT_EQ(Db("text"), "4711");
    EXPECT_EQ(Db("i16"), "-3");
}

struct Delivered {
    TagObject* tag = nullptr;
    void* argument = nullptr;
    std::int32_t value = 0;
};

void RecordDelivery(TagObject* tag, void* argument) {
    auto* d = static_cast<Delivered*>(argument);
    d->tag = tag;
    d->argument = argument;
    d->value = tag->AsInt();
}

TEST_F(BoundaryLayoutTest, HandlerWordsArePointerWide) {
    TriggerList* list = nullptr;
    TagObject trigger(Ref("i32"));
    Delivered delivered;
    ASSERT_EQ(BindTagObject(&list, &trigger, &RecordDelivery, &delivered), 0);
    TagEntry* entry = nullptr;
    ASSERT_EQ(trigger_list_find(list, Ref("i32"), &entry), 0);
    HandlerRecord* record = entry->handlers;
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->arg_count, 3);
    // tag object | handler | argument, one pointer-wide word each
    const auto* words = reinterpret_cast<const std::uint8_t*>(record->args);
    EXPECT_EQ(At<TagObject*>(words, 0), &trigger);
    EXPECT_EQ(At<TriggerHandler>(words, kPointer), &RecordDelivery);
    EXPECT_EQ(At<void*>(words, 2 * kPointer), &delivered);

    SetDb("i32", "-123456");
    EXPECT_EQ(trigger_list_poll(list, Task()), 0);
    EXPECT_EQ(delivered.tag, &trigger);
    EXPECT_EQ(delivered.argument, &delivered);
    EXPECT_EQ(delivered.value, -123456);
    EXPECT_EQ(trigger_list_destroy(list), 0);
}

}  // namespace
