// The conversion rules between tag values and bus payloads (the refusals the
// bridge's end-to-end tests send are not repeated here).
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bus/payload.h"
#include "frame/kernel.h"

namespace {

BusValue Parsed(std::int16_t type, std::string_view text) {
    BusValue v;
    std::string reason;
    EXPECT_TRUE(ParsePayload(type, text, v, reason)) << text << ": " << reason;
    return v;
}

std::string Refusal(std::int16_t type, std::string_view text) {
    BusValue v;
    v.type = kTagText;
    v.text = "untouched";
    std::string reason;
    EXPECT_FALSE(ParsePayload(type, text, v, reason)) << text;
    EXPECT_EQ(v.text, "untouched");  // a refused payload leaves the value alone
    return reason;
}

TEST(Payload, IntegersAreTakenToTheEndsOfTheirRangeAndRefusalsSayWhy) {
    EXPECT_EQ(Parsed(kTagInt16, "-32768").integer, -32768);
    EXPECT_EQ(Parsed(kTagInt16Alt, "32767").integer, 32767);
    EXPECT_EQ(Parsed(kTagInt16, " +17\r\n").integer, 17);
    EXPECT_NE(Refusal(kTagInt16Alt, "-32769").find("out of range"), std::string::npos);

    EXPECT_EQ(Parsed(kTagInt32, "-2147483648").integer, -2147483648LL);
    EXPECT_EQ(Parsed(kTagInt32, "2147483647").integer, 2147483647LL);
    EXPECT_NE(Refusal(kTagInt32, "-2147483649").find("32-bit"), std::string::npos);
    // A 16-bit range does not apply to 32-bit tags, nor the other way round.
    EXPECT_EQ(Parsed(kTagInt32, "40000").integer, 40000);
    EXPECT_NE(Refusal(kTagInt16, "99999999999999999999999").find("out of range"), std::string::npos);
    EXPECT_EQ(Refusal(kTagInt16, "1.5"), "not an integer");
    EXPECT_EQ(Refusal(kTagInt16, "-"), "not an integer");
    EXPECT_EQ(Refusal(kTagInt16, "1 2"), "not an integer");
    EXPECT_EQ(Refusal(kTagInt32, "123456789012345678901x"), "not an integer");
    EXPECT_NE(Refusal(kTagInt16, "  ").find("empty"), std::string::npos);
}

TEST(Payload, RealsAreFiniteDecimalNumbers) {
    EXPECT_EQ(Parsed(kTagReal, "-0.25").real, -0.25);
    EXPECT_EQ(Parsed(kTagReal, "+1e3").real, 1000.0);
    EXPECT_EQ(Parsed(kTagReal, "1.7976931348623157e308").real, std::numeric_limits<double>::max());
    EXPECT_EQ(Refusal(kTagReal, "-inf"), "not a finite number");
    EXPECT_EQ(Refusal(kTagReal, "0x10"), "not a number");
}

TEST(Payload, TextsAreTakenAsTheyAreUpToTheKernelCapacity) {
    EXPECT_EQ(Parsed(kTagText, "  Night shift ").text, "  Night shift ");
    EXPECT_EQ(Parsed(kTagText, "").text, "");
    EXPECT_EQ(Parsed(kTagText, std::string(kKernelTextCapacity, 'x')).text.size(), kKernelTextCapacity);
    EXPECT_EQ(Refusal(kTagBlock, "00"), "tag type not carried by the bus");
}

TEST(Payload, ValuesGoOutAsTheReaderTakesThemBack) {
    for (double d : {12.5, -0.1, 1e-300, 123456789.125, std::numeric_limits<double>::max()}) {
        BusValue v;
        v.type = kTagReal;
        v.real = d;
        EXPECT_EQ(Parsed(kTagReal, FormatPayload(v)).real, d) << FormatPayload(v);
    }
    BusValue i;
    i.type = kTagInt32;
    i.integer = -2147483648LL;
    EXPECT_EQ(FormatPayload(i), "-2147483648");

    // Change records as the kernel fills them: 16-bit, 32-bit, real, text.
    ValueRecord r{};
    r.SetInt32(-70000);
    EXPECT_EQ(FormatRecord(kTagInt32, r), "-70000");
    EXPECT_EQ(FormatRecord(kTagInt16, r), std::to_string(static_cast<std::int16_t>(-70000 & 0xFFFF)));
    r.SetReal(2.75);
    EXPECT_EQ(FormatRecord(kTagReal, r), "2.75");
    char text[8] = {'O', 'K', '!', 'x', 'y', 'z', 'w', 'v'};
    r = ValueRecord{};
    r.SetText(text);
    r.capacity = sizeof text;
    r.length = 3;  // the kernel's length wins over the bytes behind it
    EXPECT_EQ(FormatRecord(kTagText, r), "OK!");
    r.length = 200;  // never past the capacity
    EXPECT_EQ(FormatRecord(kTagText, r), "OK!xyzwv");
    EXPECT_EQ(FormatRecord(kTagBlock, r), "");
}

TEST(Payload, CommandTriggerValuesAlwaysChange) {
    BusValue v;
    v.type = kTagInt16;
    v.integer = 0;
    EXPECT_EQ(DifferentValue(v).integer, 1);
    v.integer = 5;
    EXPECT_EQ(DifferentValue(v).integer, 0);
    BusValue t;
    t.type = kTagText;
    EXPECT_EQ(DifferentValue(t).text, " ");
    t.text = "go";
    EXPECT_EQ(DifferentValue(t).text, "");

    v.integer = 41;
    EXPECT_EQ(NextCount(v).integer, 42);
    v.integer = 32767;
    EXPECT_EQ(NextCount(v).integer, 1);  // wraps past 0
    v.integer = -3;
    EXPECT_EQ(NextCount(v).integer, 1);
    v.type = kTagInt32;
    v.integer = 32767;
    EXPECT_EQ(NextCount(v).integer, 32768);
    v.integer = 2147483647;
    EXPECT_EQ(NextCount(v).integer, 1);
}

TEST(Payload, JsonOfAnyBytesIsValid) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\xe9"), "\"a\\\"b\\\\c\\n\\u0001\\u00e9\"");
    BusValue r;
    r.type = kTagReal;
    r.real = std::numeric_limits<double>::infinity();
    EXPECT_EQ(JsonValue(r), "\"inf\"");
    r.real = -1.5;
    EXPECT_EQ(JsonValue(r), "-1.5");
    BusValue t;
    t.type = kTagText;
    t.text = "42";
    EXPECT_EQ(JsonValue(t), "\"42\"");
}

}  // namespace
