// The packed records that cross the kernel boundary, checked byte by byte
// in what the kernel wrote: the value record of a change, the task
// environment record and the handler argument words (the packed buffer of a
// batch write is checked by the batch transfer tests). The offsets are
// written out for the 32-bit product (4-byte pointers) and for the 64-bit
// builds (8-byte pointer slot), not derived from the structures under test.
#include "frame/tag_object.h"
#include "frame/dispatch.h"
#include "frame/trigger_list.h"
#include "tests/support/log_fixture.h"

using logtest::At;

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

class BoundaryLayoutTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(Attach());
    }

    TaskId Task() const { return task_state().task_id; }

    // Lets the kernel report the change of `name` into the record at `raw`.
    void NextChanged(const std::string& name, std::uint8_t* raw) {
        TagRef ref = Ref(name);
        std::int32_t index = 0;
        ASSERT_EQ(kernel_next_changed(Task(), &ref, 1, &index, reinterpret_cast<ValueRecord*>(raw)), 0) << name;
    }
};

TEST_F(BoundaryLayoutTest, ChangedValuesLandAtTheRecordsOffsets) {
    const struct {
        const char* name;
        const char* value;
        std::uint64_t bits;  // little-endian, the first `size` bytes
        std::size_t size;
    } numbers[] = {{"i16", "-2", 0xFFFE, 2}, {"i32", "-16909061", 0xFEFDFCFB, 4}, {"real", "-6.25", 0xC019000000000000, 8}};
    for (const auto& n : numbers) {
        SetDb(n.name, n.value);
        Area r(kRecord.size);
        NextChanged(n.name, r.data());
        EXPECT_EQ(std::memcmp(r.data(), &n.bits, n.size), 0) << n.name;
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
    }
}

TEST_F(BoundaryLayoutTest, TaskEnvironmentIsFilledWithin268Bytes) {
    Area env(268);
    ASSERT_EQ(kernel_task_environment(Task(), reinterpret_cast<TaskEnvironment*>(env.data())), 0);
    EXPECT_EQ(At<std::uint32_t>(env.data(), 0), kInvalidTagRef);
    EXPECT_EQ(At<std::uint32_t>(env.data(), 4), Ref("VDWINUT.STATUS"));
    EXPECT_EQ(At<std::uint32_t>(env.data(), 8), Ref("VDWINUT.MSG"));
    // The application and installation directories, each cut inside its 64 bytes.
    for (const auto& [offset, name] : {std::pair<std::size_t, const char*>{12, "VDAPP"}, {76, "VDROOT"}}) {
        const char* dir = std::getenv(name);
        const std::string expected = dir != nullptr ? std::string(dir).substr(0, 63) : "";
        EXPECT_STREQ(reinterpret_cast<const char*>(env.data() + offset), expected.c_str());
        EXPECT_EQ(env.data()[offset + 63], 0) << name;
    }
    EXPECT_EQ(env.data()[267], 0);
    EXPECT_TRUE(env.GuardIntact());
}

// Delivery to the handler is checked by the task's dispatch tests.
void Ignore(TagObject*, void*) {}

TEST_F(BoundaryLayoutTest, HandlerWordsArePointerWide) {
    TriggerList* list = nullptr;
    TagObject trigger(Ref("i32"));
    int argument = 0;
    ASSERT_EQ(BindTagObject(&list, &trigger, &Ignore, &argument), 0);
    TagEntry* entry = nullptr;
    ASSERT_EQ(trigger_list_find(list, Ref("i32"), &entry), 0);
    HandlerRecord* record = entry->handlers;
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->arg_count, 3);
    // tag object | handler | argument, one pointer-wide word each
    const auto* words = reinterpret_cast<const std::uint8_t*>(record->args);
    EXPECT_EQ(At<TagObject*>(words, 0), &trigger);
    EXPECT_EQ(At<TriggerHandler>(words, kPointer), &Ignore);
    EXPECT_EQ(At<void*>(words, 2 * kPointer), &argument);
    EXPECT_EQ(trigger_list_destroy(list), 0);
}

}  // namespace
