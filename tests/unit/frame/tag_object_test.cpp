#include "frame/tag_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/archive.h"
#include "support/archive_writer.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tags_fixture.h"

namespace fs = std::filesystem;
using tagtest::KernelFixture;

namespace {

class TagObjectTest : public KernelFixture {
protected:
    // A text tag holding exactly these bytes (up to its terminator).
    TagObject TextHolding(const char* bytes, std::size_t n) {
        TagObject t(Ref("text"));
        std::vector<char> src(n + 1, 0);
        std::memcpy(src.data(), bytes, n);
        ValueRecord rec = t.Record();
        rec.SetText(src.data());
        rec.capacity = static_cast<std::uint16_t>(src.size());
        t.Assign(rec);
        return t;
    }
    TagObject Real(double v) {
        TagObject t(Ref("real"));
        ValueRecord rec = t.Record();
        rec.SetReal(v);
        t.Assign(rec);
        return t;
    }
};

TEST_F(TagObjectTest, ConstructionSetsUpEachType) {
    TagObject i16(Ref("i16"));
    EXPECT_EQ(i16.Type(), kTagInt16);
    EXPECT_EQ(i16.IsConfigured(), 1);
    EXPECT_EQ(i16.Ref(), Ref("i16"));

    TagObject text(Ref("text"));
    ASSERT_EQ(text.Type(), kTagText);
    ValueRecord rec = text.Record();
    EXPECT_NE(rec.Text(), nullptr);
    EXPECT_EQ(rec.capacity, 80);
    EXPECT_EQ(rec.length, 0);
    EXPECT_STREQ(text.AsText(), "");

    TagObject blk(Ref("blk"));
    ASSERT_EQ(blk.Type(), kTagBlock);
    rec = blk.Record();
    EXPECT_NE(rec.Bytes(), nullptr);
    EXPECT_EQ(rec.capacity, 8192);
    EXPECT_EQ(rec.length, 0);
    EXPECT_EQ(rec.header_a, 0xFFFFFFFFu);
    EXPECT_EQ(rec.header_b | rec.header_c | rec.header_d | rec.header_e, 0u);

    // The high half of a reference is carried, only the index names the tag.
    TagObject high(Ref("i32", 0x1234));
    EXPECT_EQ(high.Type(), kTagInt32);
    EXPECT_EQ(high.Ref(), Ref("i32", 0x1234));
}

TEST_F(TagObjectTest, FailedConstructionGivesNotConfigured) {
    auto expect_unusable = [](const TagObject& t) {
        EXPECT_EQ(t.IsConfigured(), 0);
        EXPECT_EQ(t.Type(), kTagNotConfigured);
        EXPECT_EQ(t.Ref(), kInvalidTagRef);
    };
    expect_unusable(TagObject(Ref("none")));  // the database has it as not configured
    expect_unusable(TagObject(TagRef{0x00000FFFu}));  // beyond the database
    // The failed type query leaves no error behind.
    EXPECT_EQ(kernel_last_error(task_state().task_id), 0);
    expect_unusable(TagObject(kInvalidTagRef));
    expect_unusable(TagObject(TagRef{0x0001FFFFu}));  // low half "no tag"
    expect_unusable(TagObject());

    // Not attached: nothing is asked of the kernel.
    TaskId id = task_state().task_id;
    task_state().task_id = kNoTask;
    expect_unusable(TagObject(Ref("i16")));
    expect_unusable(TagObject(GlobalTagId{5}));
    task_state().task_id = id;

    // The kernel refusing the type query.
    sim::InjectFault(kOpTagTypes, 1, kKernelErrNoDatabase);
    expect_unusable(TagObject(Ref("i16")));
    EXPECT_EQ(kernel_last_error(task_state().task_id), 0);
}

TEST_F(TagObjectTest, GlobalIdentifierResolvesThroughTheDomain) {
    vdtest::ScratchDir scratch("tagobj_dom_");
    const fs::path& dir = scratch.Dir();
    fs::create_directories(dir / "ct");
    fs::create_directories(dir / "line1" / "ct");
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
        std::uint32_t unknown[2] = {6, 0x0FFF};
        ASSERT_EQ(ct_append_records(&ct, unknown, sizeof unknown, 1), CT_OK);
        ASSERT_EQ(ct_close(&ct), CT_OK);
    }
    TaskState& state = task_state();
    copy_fixed(state.vd_app, kEnvDirSize, dir.string().c_str());
    copy_fixed(state.vd_domain, kEnvDomainSize, "LINE1");

    TagObject stop(GlobalTagId{5});
    EXPECT_EQ(stop.Type(), kTagInt32);
    EXPECT_EQ(stop.Ref(), Ref("i32"));
    EXPECT_STREQ(state.vd_domain, "LINE1") << "the task's domain value is not lower-cased";

    EXPECT_EQ(TagObject(GlobalTagId{7}).IsConfigured(), 0);   // not listed
    EXPECT_EQ(TagObject(GlobalTagId{6}).IsConfigured(), 0);   // listed, but the kernel has no such tag
    copy_fixed(state.vd_domain, kEnvDomainSize, "nowhere");
    EXPECT_EQ(TagObject(GlobalTagId{5}).Ref(), kInvalidTagRef);
    copy_fixed(state.vd_app, kEnvDirSize, (dir / "missing").string().c_str());
    EXPECT_EQ(TagObject(GlobalTagId{5}).IsConfigured(), 0);
}

TEST_F(TagObjectTest, TextGettersTellNumbersFromRawBytes) {
    EXPECT_EQ(TextHolding("12abc", 5).AsInt(), 12);
    EXPECT_EQ(TextHolding("+7", 2).AsShort(), 7);
    EXPECT_EQ(TextHolding("-", 1).AsInt(), 0);
    EXPECT_DOUBLE_EQ(TextHolding("-2.75x", 6).AsDouble(), -2.75);
    EXPECT_EQ(TextHolding("70000", 5).AsShort(), 4464);

    // Not starting like a number: the raw bytes in the result's width.
    EXPECT_EQ(TextHolding(" 12", 3).AsInt(), 0x00323120);
    EXPECT_EQ(TextHolding("A", 1).AsShort(), 0x0041);
    double d;
    std::memcpy(&d, "ABCDEFGH", 8);
    EXPECT_EQ(TextHolding("ABCDEFGH", 8).AsDouble(), d);

    // Overflowing digits saturate rather than wrap.
    EXPECT_EQ(TextHolding("99999999999", 11).AsInt(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(TextHolding("-99999999999", 12).AsLong(), std::numeric_limits<std::int32_t>::min());
}

TEST_F(TagObjectTest, RealGettersTruncateTowardZero) {
    EXPECT_EQ(Real(2.9).AsInt(), 2);
    EXPECT_EQ(Real(-2.9).AsInt(), -2);
    EXPECT_EQ(Real(70000.7).AsShort(), 4464);
    // Beyond 32 bits the short is still the low 16 bits of the truncated number.
    EXPECT_EQ(Real(3e9).AsShort(), 24064);
    EXPECT_EQ(Real(-3e9).AsShort(), -24064);
    EXPECT_EQ(Real(1099511640121.9).AsShort(), 12345);  // 2^40 + 12345
    EXPECT_EQ(Real(std::numeric_limits<double>::infinity()).AsShort(), 0);
    EXPECT_EQ(Real(1e20).AsInt(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(Real(-1e20).AsLong(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(Real(std::nan("")).AsInt(), 0);
    EXPECT_STREQ(Real(2.9).AsText(), "2.900000");
    std::string big = Real(1e300).AsText();
    EXPECT_GT(big.size(), 300u);
    EXPECT_EQ(big.substr(0, 2), "10");
    EXPECT_EQ(big.substr(big.size() - 7), ".000000");
}

TEST_F(TagObjectTest, IntegerGettersAndTexts) {
    TagObject i32(Ref("i32"));
    ValueRecord rec = i32.Record();
    rec.SetInt32(70000);
    i32.Assign(rec);
    EXPECT_EQ(i32.AsInt(), 70000);
    EXPECT_EQ(i32.AsShort(), 4464);
    EXPECT_DOUBLE_EQ(i32.AsDouble(), 70000.0);
    EXPECT_STREQ(i32.AsText(), "70000");

    TagObject i16(Ref("i16b"));
    EXPECT_EQ(i16.Type(), kTagInt16Alt);
    rec = i16.Record();
    rec.SetInt16(-5);
    i16.Assign(rec);
    EXPECT_EQ(i16.AsInt(), -5);
    EXPECT_EQ(i16.AsShort(), -5);
    EXPECT_STREQ(i16.AsText(), "-5");

    // Blocks and unusable tags convert to nothing.
    TagObject blk(Ref("blk")), none;
    for (const TagObject* t : {&blk, &none}) {
        EXPECT_EQ(t->AsInt(), 0);
        EXPECT_EQ(t->AsShort(), 0);
        EXPECT_EQ(t->AsDouble(), 0.0);
        EXPECT_STREQ(t->AsText(), "");
    }
}

TEST_F(TagObjectTest, SettersConvertIntoTheTagsType) {
    TagObject i16(Ref("i16")), real(Ref("real")), text(Ref("text")), i32(Ref("i32"));
    EXPECT_EQ(&i16.SetInt(70000), &i16);
    EXPECT_EQ(i16.AsInt(), 4464);
    i16.SetUnsigned(0xFFFFFFFFu);
    EXPECT_EQ(i16.AsInt(), -1);

    real.SetInt(-1);
    EXPECT_EQ(real.AsDouble(), -1.0);
    real.SetUnsigned(0xFFFFFFFFu);
    EXPECT_EQ(real.AsDouble(), 4294967295.0);

    text.SetUnsigned(0xFFFFFFFFu);
    EXPECT_STREQ(text.AsText(), "4294967295");
    EXPECT_EQ(text.Record().length, 10);
    text.SetInt(std::numeric_limits<std::int32_t>::min());
    EXPECT_STREQ(text.AsText(), "-2147483648");
    EXPECT_EQ(text.Record().length, 11);

    i32.SetUnsigned(0x80000000u);
    EXPECT_EQ(i32.AsInt(), std::numeric_limits<std::int32_t>::min());

    TagObject blk(Ref("blk")), none;
    ValueRecord before = blk.Record();
    blk.SetInt(7).SetUnsigned(9);
    ValueRecord after = blk.Record();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "a block is left alone";
    EXPECT_EQ(&none.SetInt(4), &none);
    EXPECT_EQ(none.AsInt(), 0);
    EXPECT_STREQ(none.AsText(), "");
}

TEST_F(TagObjectTest, AssignedTextIsCutToTheBuffer) {
    TagObject text(Ref("text"));
    char* own = text.Record().Text();
    std::string longer(300, 'x');
    longer[0] = 'a';
    ValueRecord rec{};
    rec.SetText(longer.data());
    rec.capacity = 301;
    text.Assign(rec);
    EXPECT_EQ(text.Record().Text(), own) << "the text stays in the tag's own buffer";
    EXPECT_EQ(std::string(text.AsText()), longer.substr(0, 80));
    EXPECT_EQ(text.Record().length, 80);
    EXPECT_EQ(text.TextLength(), 80);

    // A source that is not terminated within its capacity is cut there.
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    rec.SetText(unterminated);
    rec.capacity = 3;
    text.Assign(rec);
    EXPECT_STREQ(text.AsText(), "abc");
    EXPECT_EQ(text.Record().length, 3);

    // A null source empties the text; numbers carry over whole records.
    rec.SetText(nullptr);
    text.Assign(rec);
    EXPECT_STREQ(text.AsText(), "");
    EXPECT_EQ(text.Record().length, 0);
    EXPECT_EQ(text.Record().capacity, 80);

    TagObject none;
    none.Assign(rec);
    EXPECT_EQ(none.IsConfigured(), 0);
}

TEST_F(TagObjectTest, AssignedBlockGrowsAndKeepsItsHeader) {
    auto blk = std::make_unique<TagObject>(Ref("blk"));
    std::vector<std::uint8_t> big(10000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ValueRecord rec{};
    rec.SetBytes(big.data());
    rec.capacity = 10000;
    rec.length = 10000;
    rec.header_a = 0x01020304u;
    rec.header_b = 5;
    rec.header_c = 6;
    rec.header_d = 0x0708090Au;
    rec.header_e = 11;
    blk->Assign(rec);
    ValueRecord now = blk->Record();
    EXPECT_EQ(now.capacity, 10000);
    EXPECT_EQ(blk->BufferSize(), 10000u);
    EXPECT_EQ(now.length, 10000);
    ASSERT_NE(now.Bytes(), big.data());
    EXPECT_EQ(std::memcmp(now.Bytes(), big.data(), big.size()), 0);
    EXPECT_EQ(now.header_a, 0x01020304u);
    EXPECT_EQ(now.header_b, 5);
    EXPECT_EQ(now.header_c, 6);
    EXPECT_EQ(now.header_d, 0x0708090Au);
    EXPECT_EQ(now.header_e, 11);

    // A smaller source reuses the buffer; a length beyond its capacity is cut.
    std::uint8_t small[4] = {9, 8, 7, 6};
    rec.SetBytes(small);
    rec.capacity = 4;
    rec.length = 60000;
    blk->Assign(rec);
    EXPECT_EQ(blk->Record().Bytes(), now.Bytes());
    EXPECT_EQ(blk->Record().capacity, 10000);
    EXPECT_EQ(blk->Record().length, 4) << "no more than the source holds";
    rec.length = 4;
    blk->Assign(rec);
    EXPECT_EQ(blk->Record().length, 4);
    EXPECT_EQ(blk->Record().Bytes()[0], 9);
    rec.SetBytes(nullptr);
    rec.length = 4;
    blk->Assign(rec);
    EXPECT_EQ(blk->Record().length, 0);
    blk.reset();  // the grown buffer is released (the leak checker sees it)
}

TEST_F(TagObjectTest, MoveTakesTheBufferAlong) {
    TagObject a(Ref("text"));
    a.SetInt(42);
    TagObject b(std::move(a));
    EXPECT_EQ(a.IsConfigured(), 0);
    EXPECT_STREQ(a.AsText(), "");
    EXPECT_STREQ(b.AsText(), "42");
    EXPECT_EQ(b.Record().Text(), b.AsText());
    TagObject c;
    c = std::move(b);
    EXPECT_STREQ(c.AsText(), "42");
    EXPECT_EQ(c.Ref(), Ref("text"));
}

TEST_F(TagObjectTest, ReadAndWriteThroughTheKernel) {
    TagObject i16(Ref("i16")), real(Ref("real")), text(Ref("text")), i32(Ref("i32"));
    EXPECT_EQ(i16.Read(), 0);
    EXPECT_EQ(real.Read(), 0);
    EXPECT_EQ(text.Read(), 0);
    EXPECT_EQ(i32.Read(), 0);
    EXPECT_EQ(i16.AsInt(), 5);
    EXPECT_DOUBLE_EQ(real.AsDouble(), 2.5);
    EXPECT_STREQ(text.AsText(), "hello");
    EXPECT_EQ(text.Record().length, 5);
    EXPECT_EQ(i32.AsInt(), 70000);

    EXPECT_EQ(i16.SetInt(-9).Write(), 1);
    EXPECT_EQ(real.SetInt(3).WriteResult(), 1);
    EXPECT_EQ(text.SetInt(123).Write(), 1);
    EXPECT_EQ(i32.SetUnsigned(4000000000u).WriteResult(), 1);
    EXPECT_EQ(Db("i16"), "-9");
    EXPECT_EQ(Db("real"), sim::FormatValue(sim::Value{kTagReal, 0, 3.0, {}, {}}));
    EXPECT_EQ(Db("text"), "123") << "written with its current length";
    EXPECT_EQ(Db("i32"), "-294967296");

    // A database text longer than the tag's buffer arrives cut and terminated.
    SetDb("long", std::string(200, 'L'));
    TagObject lng(Ref("long"));
    EXPECT_EQ(lng.Read(), 0);
    EXPECT_EQ(std::string(lng.AsText()), std::string(80, 'L'));
    EXPECT_EQ(lng.Record().length, 80);
    EXPECT_EQ(lng.Write(), 1);
    EXPECT_EQ(Db("long"), std::string(80, 'L'));
}

// Writes of the message tag: one per status message.
int g_message_writes = 0;
std::int32_t CountingWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    for (std::int32_t i = 0; i < count; ++i)
        if (refs[i] == task_state().environment.message_tag) ++g_message_writes;
    return sim::Ops().write(task, refs, count, values);
}

TEST_F(TagObjectTest, WriteFailuresAreReportedOnce) {
    KernelOps ops = sim::Ops();
    ops.write = &CountingWrite;
    kernel_bind_table(ops);
    TagObject i16(Ref("i16"));
    auto reports = [](auto&& call) {
        g_message_writes = 0;
        call();
        return g_message_writes;
    };
    sim::InjectFault(kOpWrite, 1, kKernelErrNoDatabase);
    EXPECT_EQ(reports([&] { EXPECT_EQ(i16.SetInt(1).Write(), 0); }), 1);
    EXPECT_EQ(StatusText(), "VDERROR 8");
    EXPECT_EQ(Db("i16"), "5") << "the failed write changed nothing";
    EXPECT_EQ(i16.AsInt(), 1) << "the tag keeps the value it sent";

    sim::InjectFault(kOpWriteResult, 1, kKernelErrUnknownTag);
    EXPECT_EQ(reports([&] { EXPECT_EQ(i16.WriteResult(), 0); }), 1);
    EXPECT_EQ(StatusText(), "VDERROR 3");

    // The kernel's out-of-memory code is left unreported by the batch and
    // reported by the tag object.
    sim::InjectFault(kOpWrite, 1, 2);
    EXPECT_EQ(reports([&] { EXPECT_EQ(i16.Write(), 0); }), 1);
    EXPECT_EQ(StatusText(), "VDERROR 2");
    sim::InjectFault(kOpWriteResult, 1, 2);
    EXPECT_EQ(reports([&] { EXPECT_EQ(i16.WriteResult(), 0); }), 1);

    // A failed read is returned (and reported by the batch read).
    sim::InjectFault(kOpRead, 1, kKernelErrNotAttached);
    EXPECT_EQ(i16.Read(), kKernelErrNotAttached);
    EXPECT_EQ(StatusText(), "VDERROR 1");
    EXPECT_EQ(i16.AsInt(), 1);
}

}  // namespace
