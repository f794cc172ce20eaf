#include "frame/tag_object.h"

#include <cmath>
#include <limits>

#include "frame/change_binding.h"
#include "support/archive_writer.h"
#include "tests/support/log_fixture.h"

namespace {

class TagObjectTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(AttachWithOther());
    }
    TagObject Holding(const char* name, const std::string& text) {
        SetDb(name, text);
        TagObject t(Ref(name));
        EXPECT_EQ(t.Read(), 0);
        return t;
    }
};

TEST_F(TagObjectTest, ConstructionSetsUpEachType) {
    TagObject text(Ref("text")), blk(Ref("blk"));
    ASSERT_EQ(text.Type(), kTagText);
    EXPECT_EQ(text.Record().capacity, 80);
    EXPECT_STREQ(text.AsText(), "");
    ASSERT_EQ(blk.Type(), kTagBlock);
    EXPECT_EQ(blk.Record().capacity, 8192);
    EXPECT_EQ(blk.Record().header_a, 0xFFFFFFFFu);
    // The high half of a reference is carried, only the index names the tag.
    TagObject high(Ref("i32", 0x1234));
    EXPECT_EQ(high.Type(), kTagInt32);
    EXPECT_EQ(high.Ref(), Ref("i32", 0x1234));
    // A type the task has already, with a text size of its own: no kernel call.
    win::test::FailCalls(kernel_op_name(kOpTagTypes), kKernelErrNoDatabase);
    TagObject whole(Ref("long"), kTagText, kKernelTextCapacity);
    EXPECT_EQ(whole.BufferSize(), kKernelTextCapacity);
    EXPECT_EQ(TagObject(Ref("i16"), 6).IsConfigured(), 0);  // a type code the task does not know
    // Failures give not configured, and a failed type query leaves no error behind.
    EXPECT_EQ(TagObject(Ref("i16")).IsConfigured(), 0);  // the fault above
    for (TagRef ref : {Ref("none"), TagRef{0x00000FFFu}, TagRef{0x0001FFFFu}}) {
        TagObject t(ref);
        EXPECT_EQ(t.Type(), kTagNotConfigured) << ref;
        EXPECT_EQ(t.Ref(), kInvalidTagRef) << ref;
    }
    EXPECT_EQ(kernel_last_error(task_state().task_id), 0);
}

TEST_F(TagObjectTest, GlobalIdentifierResolvesThroughTheDomain) {
    const std::filesystem::path& dir = dir_;
    std::filesystem::create_directories(dir / "line1" / "ct");
    std::filesystem::create_directories(dir / "ct");
    {
        CtArchive ct{};
        ASSERT_EQ(ct_create(&ct, dir.string().c_str(), "ct/domain.ct"), CT_OK);
        ASSERT_EQ(ct_add_table(&ct, 1, "DOMAIN", nullptr, 0, 44), CT_OK);
        char rec[44] = "line1";
        ASSERT_EQ(ct_append_records(&ct, rec, sizeof rec, 1), CT_OK);
        ASSERT_EQ(ct_close(&ct), CT_OK);
        ASSERT_EQ(ct_create(&ct, dir.string().c_str(), "line1/ct/global.ct"), CT_OK);
        ASSERT_EQ(ct_add_table(&ct, 1, "GLOBAL", nullptr, 0, 8), CT_OK);
        std::uint32_t row[2] = {5, Ref("i32")};
        ASSERT_EQ(ct_append_records(&ct, row, sizeof row, 1), CT_OK);
        ASSERT_EQ(ct_close(&ct), CT_OK);
    }
    TaskState& state = task_state();
    copy_fixed(state.vd_app, kEnvDirSize, dir.string().c_str());
    copy_fixed(state.vd_domain, kEnvDomainSize, "LINE1");

    TagObject stop(GlobalTagId{5});
    EXPECT_EQ(stop.Type(), kTagInt32);
    EXPECT_EQ(stop.Ref(), Ref("i32"));
    EXPECT_STREQ(state.vd_domain, "LINE1") << "the task's domain value is not lower-cased";
}

TEST_F(TagObjectTest, GettersConvertEveryType) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kSkip = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* tag;
        const char* value;
        std::int32_t as_int;
        std::int16_t as_short;
        double as_double;     // kSkip: not compared
        const char* as_text;  // nullptr: not compared
    };
    const Row rows[] = {
        {"i16", "-300", -300, -300, -300.0, "-300"},
        {"i32", "70000", 70000, 4464, 70000.0, "70000"},
        // Texts that start like a number convert; overflowing digits saturate.
        {"text", "12abc", 12, 12, 12.0, "12abc"},
        {"text", "+7", 7, 7, 7.0, nullptr},
        {"text", "-", 0, 0, 0.0, nullptr},
        {"text", "-2.75x", -2, -2, -2.75, nullptr},
        {"text", "99999999999", kMax, -1, kSkip, nullptr},
        {"text", "-99999999999", kMin, 0, kSkip, nullptr},
        // Not starting like a number: the raw bytes in the result's width.
        {"text", " 12", 0x00323120, 0x3120, kSkip, nullptr},
        {"text", "A", 0x41, 0x41, kSkip, nullptr},
        // Reals truncate toward zero; the short is the low 16 bits of the
        // truncated number whatever its size (2^40 + 12345 gives 12345).
        {"real", "2.9", 2, 2, 2.9, "2.900000"},
        {"real", "-2.9", -2, -2, -2.9, "-2.900000"},
        {"real", "70000.7", 70000, 4464, 70000.7, nullptr},
        {"real", "3e9", kMax, 24064, 3e9, nullptr},
        {"real", "-3e9", kMin, -24064, -3e9, nullptr},
        {"real", "1099511640121.9", kMax, 12345, kSkip, nullptr},
        {"real", "-1e20", kMin, 0, kSkip, nullptr},
        {"real", "inf", kMax, 0, kSkip, nullptr},
        {"real", "nan", 0, 0, kSkip, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.tag) + " " + r.value);
        TagObject t = Holding(r.tag, r.value);
        EXPECT_EQ(t.AsInt(), r.as_int);
        EXPECT_EQ(t.AsShort(), r.as_short);
        EXPECT_TRUE(std::isnan(r.as_double) || t.AsDouble() == r.as_double) << t.AsDouble();
        EXPECT_STREQ(t.AsText(), r.as_text != nullptr ? r.as_text : t.AsText());
    }
    double d;
    std::memcpy(&d, "ABCDEFGH", 8);
    EXPECT_EQ(Holding("text", "ABCDEFGH").AsDouble(), d);
    std::string big = Holding("real", "1e300").AsText();
    EXPECT_GT(big.size(), 300u);
    EXPECT_EQ(big.substr(0, 2), "10");
    EXPECT_EQ(big.substr(big.size() - 7), ".000000");
}

TEST_F(TagObjectTest, SettersConvertIntoTheTagsType) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    TagObject i16(Ref("i16")), real(Ref("real")), text(Ref("text")), i32(Ref("i32"));
    EXPECT_EQ(i16.SetInt(70000).AsInt(), 4464);
    EXPECT_EQ(i16.SetUnsigned(0xFFFFFFFFu).AsInt(), -1);
    EXPECT_EQ(real.SetInt(-1).AsDouble(), -1.0);
    EXPECT_EQ(real.SetUnsigned(0xFFFFFFFFu).AsDouble(), 4294967295.0);
    EXPECT_STREQ(text.SetUnsigned(0xFFFFFFFFu).AsText(), "4294967295");
    EXPECT_EQ(text.SetInt(kMin).Record().length, 11);
    EXPECT_STREQ(text.AsText(), "-2147483648");
    EXPECT_EQ(i32.SetUnsigned(0x80000000u).AsInt(), kMin);
    // Reals into integers as AsInt and AsShort give them; texts cut to the buffer.
    EXPECT_EQ(i32.SetDouble(-2.9).AsInt(), -2);
    EXPECT_EQ(i16.SetDouble(3e9).AsInt(), 24064);
    EXPECT_EQ(real.SetDouble(0.25).AsDouble(), 0.25);
    EXPECT_STREQ(text.SetText(std::string("a\0b", 3)).AsText(), "a");
    EXPECT_EQ(text.Record().length, 1);
    EXPECT_EQ(i32.SetText("5").AsInt(), -2) << "a number is left as it is";
}

// However a text comes in (set, assigned, read), it is cut and terminated
// within the tag's own 80-byte buffer, and written back as it stands.
TEST_F(TagObjectTest, TextsAreCutToTheBuffer) {
    TagObject text(Ref("text"));
    char* own = text.Record().Text();
    auto kept = [&](const std::string& expected) {
        EXPECT_EQ(std::string(text.AsText()), expected);
        EXPECT_EQ(text.Record().length, expected.size());
        EXPECT_EQ(text.Record().Text(), own);
    };
    text.SetText(std::string(90, 'y'));
    kept(std::string(80, 'y'));
    std::string longer = "a" + std::string(299, 'x');
    ValueRecord rec{};
    rec.SetText(longer.data());
    rec.capacity = 301;
    text.Assign(rec);
    kept(longer.substr(0, 80));
    char unterminated[4] = {'a', 'b', 'c', 'd'};  // cut at its capacity
    rec.SetText(unterminated);
    rec.capacity = 3;
    text.Assign(rec);
    kept("abc");
    SetDb("text", std::string(200, 'L'));
    EXPECT_EQ(text.Read(), 0);
    kept(std::string(80, 'L'));
    EXPECT_EQ(text.Write(), 1);
    EXPECT_EQ(Db("text"), std::string(80, 'L'));
}

TEST_F(TagObjectTest, AssignedBlockGrowsAndKeepsItsHeader) {
    TagObject blk(Ref("blk"));
    std::vector<std::uint8_t> big(10000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ValueRecord rec{};
    rec.SetBytes(big.data());
    rec.capacity = rec.length = 10000;
    rec.header_a = 0x01020304u, rec.header_b = 5, rec.header_c = 6, rec.header_d = 0x0708090Au, rec.header_e = 11;
    blk.Assign(rec);
    const ValueRecord now = blk.Record();
    EXPECT_EQ(now.capacity + now.length, 20000);
    ASSERT_NE(now.Bytes(), big.data());
    EXPECT_EQ(std::memcmp(now.Bytes(), big.data(), big.size()), 0);
    EXPECT_EQ(std::memcmp(&now.header_a, &rec.header_a, sizeof rec - offsetof(ValueRecord, header_a)), 0);
    // A smaller source reuses the buffer; a length beyond its capacity is cut.
    std::uint8_t small[4] = {9, 8, 7, 6};
    rec.SetBytes(small);
    rec.capacity = 4;
    rec.length = 60000;
    blk.Assign(rec);
    EXPECT_EQ(blk.Record().Bytes(), now.Bytes());
    EXPECT_EQ(blk.Record().capacity, 10000);
    EXPECT_EQ(blk.Record().length, 4) << "no more than the source holds";
    EXPECT_EQ(blk.Record().Bytes()[0], 9);
}

TEST_F(TagObjectTest, MoveTakesTheBufferAlong) {
    TagObject a(Ref("text"));
    a.SetInt(42);
    TagObject b(std::move(a)), c;
    EXPECT_EQ(a.IsConfigured(), 0);
    EXPECT_EQ(b.Record().Text(), b.AsText());
    c = std::move(b);
    EXPECT_STREQ(c.AsText(), "42");
    EXPECT_EQ(c.Ref(), Ref("text"));
}

int g_message_writes = 0;
std::int32_t CountingWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    for (std::int32_t i = 0; i < count; ++i)
        if (refs[i] == task_state().environment.message_tag) ++g_message_writes;
    return sim::Ops().write(task, refs, count, values);
}

TEST_F(TagObjectTest, WriteFailuresAreReportedOnceAndQuietOnesNot) {
    KernelOps ops = sim::Ops();
    ops.write = &CountingWrite;
    kernel_bind_table(ops);
    TagObject i16(Ref("i16"));
    auto reports = [](auto&& call) {
        g_message_writes = 0;
        call();
        return g_message_writes;
    };
    // The kernel's out-of-memory code (2) is left unreported by the batch
    // and reported by the tag object.
    for (std::int32_t code : {std::int32_t{kKernelErrNoDatabase}, std::int32_t{2}}) {
        win::test::FailCalls(kernel_op_name(kOpWrite), code);
        EXPECT_EQ(reports([&] { EXPECT_EQ(i16.SetInt(1).Write(), 0); }), 1);
        EXPECT_EQ(MessageTag(), "VDERROR " + std::to_string(code));
        win::test::FailCalls(kernel_op_name(kOpWriteResult), code);
        EXPECT_EQ(reports([&] { EXPECT_EQ(i16.WriteResult(), 0); }), 1);
    }
    EXPECT_EQ(Db("i16"), "5") << "the failed write changed nothing";
    EXPECT_EQ(i16.AsInt(), 1) << "the tag keeps the value it sent";

    win::test::FailCalls(kernel_op_name(kOpRead), kKernelErrNotAttached);
    EXPECT_EQ(i16.Read(), kKernelErrNotAttached);

    // The quiet ones return the code and report nothing.
    win::test::FailCalls(kernel_op_name(kOpRead), kKernelErrUnknownTag);
    win::test::FailCalls(kernel_op_name(kOpWrite), kKernelErrNoDatabase);
    EXPECT_EQ(reports([&] {
                  EXPECT_EQ(i16.ReadQuiet(), kKernelErrUnknownTag);
                  EXPECT_EQ(i16.SetInt(9).WriteQuiet(), kKernelErrNoDatabase);
              }),
              0);
    EXPECT_EQ(Db("i16"), "5");
}

struct Changes {
    std::string text;
    int calls = 0;
    void Changed(TagObject& tag) { text = tag.AsText(), ++calls; }
};

// Texts as whole as the kernel holds them, where the task asks for it: read,
// written, and at each change of a bound tag object (the scans grow to it).
TEST_F(TagObjectTest, AWholeTextTagObjectTakesTheKernelsFullTextAlsoWhenBound) {
    TaskBase task("BIND", "binding");  // inert beside the fixture's task: only its list is used
    TagObject whole(Ref("long"), kTagText, kKernelTextCapacity), small(Ref("text"));
    Changes of_whole, of_small;
    BindChange<&Changes::Changed>(task, whole, of_whole);
    BindChange<&Changes::Changed>(task, small, of_small);
    ASSERT_NE(task.trigger_list, nullptr);
    EXPECT_EQ(task.trigger_list->text_size, kKernelTextCapacity);
    SetDb("long", std::string(200, 'L'));
    SetDb("text", std::string(100, 'T'));
    for (int i = 0; i < 3 && (of_whole.calls == 0 || of_small.calls == 0); ++i)
        trigger_list_poll(task.trigger_list, task_state().task_id);
    EXPECT_EQ(of_whole.text, std::string(200, 'L'));
    EXPECT_EQ(of_small.text, std::string(80, 'T'));
    EXPECT_EQ(of_whole.calls, 1);
    trigger_list_destroy(task.trigger_list);
    EXPECT_EQ(whole.SetText(std::string(kKernelTextCapacity, 'W')).WriteQuiet(), 0);
    EXPECT_EQ(Db("long"), std::string(kKernelTextCapacity, 'W'));
    SetDb("long", std::string(201, 'M'));
    EXPECT_EQ(whole.ReadQuiet(), 0);
    EXPECT_EQ(whole.Record().length, 201);
}

}  // namespace
