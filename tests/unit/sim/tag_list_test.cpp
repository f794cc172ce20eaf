// Tag lists and readable values.
#include <gtest/gtest.h>

#include "sim/sim.h"

namespace {

TEST(TagList, ParsesNamesTypesAndInitialValues) {
    std::vector<sim::TagSpec> tags;
    std::string error;
    ASSERT_TRUE(sim::ParseTagList("# comment\r\n\n  A int16 -3\nB 4 12\nC text \"  two words \"\nD text\n"
                                  "E block 00ff\nF none\nG real 1e3\n",
                                  tags, error))
        << error;
    ASSERT_EQ(tags.size(), 7u);
    EXPECT_EQ(tags[0].name, "A");
    EXPECT_EQ(tags[0].type, kTagInt16);
    EXPECT_EQ(tags[1].type, kTagInt32);
    EXPECT_EQ(tags[2].initial, "  two words ");
    EXPECT_EQ(tags[3].initial, "");
    EXPECT_EQ(tags[4].type, kTagBlock);
    EXPECT_EQ(tags[5].type, kTagNotConfigured);
    EXPECT_EQ(tags[6].type, kTagReal);
}

TEST(TagList, RejectsBadLinesNamingTheLine) {
    std::vector<sim::TagSpec> tags;
    std::string error;
    EXPECT_FALSE(sim::ParseTagList("A int16\nA int32\n", tags, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_NE(error.find("twice"), std::string::npos) << error;
    EXPECT_FALSE(sim::ParseTagList("A float 1\n", tags, error));
    EXPECT_NE(error.find("unknown tag type"), std::string::npos) << error;
    EXPECT_FALSE(sim::ParseTagList("A\n", tags, error));
    EXPECT_FALSE(sim::ParseTagList("A int16 40000\n", tags, error));
    EXPECT_FALSE(sim::ParseTagList("A 7 0\n", tags, error));
    EXPECT_FALSE(sim::ParseTagList(std::string(64, 'N') + " int16 0\n", tags, error));
    EXPECT_TRUE(sim::ParseTagList(std::string(63, 'N') + " int16 0\n", tags, error)) << error;
}

TEST(TagValues, FitTheirTypesOrAreRefused) {
    sim::Value v;
    std::string error;
    EXPECT_TRUE(sim::ParseValue(kTagInt16, "-32768", v, error));
    EXPECT_EQ(v.integer, -32768);
    EXPECT_FALSE(sim::ParseValue(kTagInt16, "32768", v, error));
    EXPECT_FALSE(sim::ParseValue(kTagInt16, "12abc", v, error));
    EXPECT_TRUE(sim::ParseValue(kTagInt32, "+2147483647", v, error));
    EXPECT_FALSE(sim::ParseValue(kTagInt32, "2147483648", v, error));
    EXPECT_TRUE(sim::ParseValue(kTagReal, "-2.9", v, error));
    EXPECT_EQ(sim::FormatValue(v), "-2.9");
    EXPECT_FALSE(sim::ParseValue(kTagReal, "2.9x", v, error));
    EXPECT_TRUE(sim::ParseValue(kTagText, std::string(kKernelTextCapacity, 'x'), v, error));
    EXPECT_FALSE(sim::ParseValue(kTagText, std::string(kKernelTextCapacity + 1, 'x'), v, error));
    EXPECT_TRUE(sim::ParseValue(kTagBlock, "00 Ff 10", v, error));
    EXPECT_EQ(v.bytes, std::string("\x00\xff\x10", 3));
    EXPECT_EQ(sim::FormatValue(v), "00ff10");
    EXPECT_FALSE(sim::ParseValue(kTagBlock, "abc", v, error));
    EXPECT_FALSE(sim::ParseValue(kTagBlock, "zz", v, error));
    EXPECT_FALSE(sim::ParseValue(kTagBlock, std::string(2 * (kKernelBlockCapacity + 1), '0'), v, error));
    EXPECT_FALSE(sim::ParseValue(kTagNotConfigured, "1", v, error));
}

TEST(TagValues, DatabaseRefusesValuesOfTheWrongKind) {
    std::vector<sim::TagSpec> tags = {{"N", kTagInt16, "1"}, {"T", kTagText, ""}, {"X", kTagNotConfigured, ""}};
    std::string error;
    auto db = sim::Database::CreateInProcess(tags, error);
    ASSERT_TRUE(db) << error;
    sim::Value text;
    text.type = kTagText;
    text.bytes = "abc";
    EXPECT_EQ(db->SetValue(0, text), kKernelErrWrongType);
    EXPECT_EQ(db->SetValue(2, text), kKernelErrWrongType);
    EXPECT_EQ(db->SetValue(9, text), kKernelErrUnknownTag);
    text.bytes.assign(kKernelTextCapacity + 1, 'y');
    EXPECT_EQ(db->SetValue(1, text), kKernelErrTooLong);
    sim::Value big;
    big.type = kTagInt16;
    big.integer = 40000;
    EXPECT_EQ(db->SetValue(0, big), kKernelErrTooLong);
    sim::Value v;
    ASSERT_TRUE(db->GetValue(0, v));
    EXPECT_EQ(v.integer, 1);
    EXPECT_EQ(db->FindTag("T"), 1);
    EXPECT_EQ(db->FindTag("nope"), -1);
}

}  // namespace
