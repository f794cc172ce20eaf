// The conversion rules between tag values and bus payloads (the refusals the
// bridge's end-to-end tests send are not repeated here).
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bus/payload.h"
#include "kernel/kernel.h"
#include "support/utf8.h"

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
    // Leading zeros do not count as digits; a second sign is refused.
    EXPECT_EQ(Parsed(kTagInt16, "0000000000000000000042").integer, 42);
    EXPECT_EQ(Parsed(kTagInt32, "-00000000000000000000002147483648").integer, -2147483648LL);
    EXPECT_EQ(Parsed(kTagInt16, "+0000000000000000000000").integer, 0);
    EXPECT_NE(Refusal(kTagInt16, "00000000000000000000032768").find("out of range"), std::string::npos);
    for (const char* doubled : {"+-5", "-+5", "++5", "--5"}) {
        EXPECT_EQ(Refusal(kTagInt32, doubled), "not an integer");
        EXPECT_EQ(Refusal(kTagReal, doubled), "not a number");
    }
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
    EXPECT_EQ(Parsed(kTagText, std::string(kKernelTextCapacity, 'x')).text.size(), kKernelTextCapacity);
    EXPECT_EQ(Refusal(kTagBlock, "00"), "tag type not carried by the bus");
    // The empty text: an empty payload or one zero byte in, one zero byte out.
    EXPECT_EQ(Parsed(kTagText, "").text, "");
    EXPECT_EQ(Parsed(kTagText, std::string(1, '\0')).text, "");
    EXPECT_EQ(Refusal(kTagText, std::string(2, '\0')), "text holds a zero byte");
    BusValue empty;
    empty.type = kTagText;
    EXPECT_EQ(FormatPayload(empty), std::string(1, '\0'));
    EXPECT_EQ(JsonValue(empty), "\"\"");
}

// Texts are UTF-8 on the wire and in the station's code page in the tag.
TEST(Payload, TextsAreUtf8OnTheWireAndCodePageInTheTag) {
    if (StationCodePage() != 1252) GTEST_SKIP() << "the station's code page is not 1252 here";
    BusValue v = Parsed(kTagText, "l\xC3\xADnea 3 \xE2\x82\xAC");
    EXPECT_EQ(v.text, "l\xEDnea 3 \x80");
    EXPECT_EQ(FormatPayload(v), "l\xC3\xADnea 3 \xE2\x82\xAC");
    EXPECT_EQ(JsonValue(v), "\"l\xC3\xADnea 3 \xE2\x82\xAC\"");
    char text[] = "\xE9t\xE9";
    ValueRecord r{};
    r.SetText(text);
    r.capacity = sizeof text;
    r.length = 3;
    EXPECT_EQ(FormatRecord(kTagText, r), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Refusal(kTagText, "\xE6\x97\xA5"), "text holds a character the station's code page (1252) cannot show (U+65E5)");
    EXPECT_EQ(Refusal(kTagText, "ok\xC3"), "text is not valid UTF-8");
    // The limit is in bytes of the code page, counted after the conversion.
    std::string e_acute;
    for (int i = 0; i < 128; ++i) e_acute += "\xC3\xA9";
    EXPECT_EQ(Parsed(kTagText, e_acute).text, std::string(128, '\xE9'));
    std::string euro;
    for (std::size_t i = 0; i < kKernelTextCapacity; ++i) euro += "\xE2\x82\xAC";  // three bytes each
    EXPECT_EQ(Parsed(kTagText, euro).text.size(), kKernelTextCapacity);
    const std::string too_long = "text longer than 255 bytes in the station's code page (1252)";
    EXPECT_EQ(Refusal(kTagText, e_acute + e_acute), too_long);
    EXPECT_EQ(Refusal(kTagText, euro + "\xE2\x82\xAC"), too_long);
    EXPECT_EQ(Refusal(kTagText, std::string(kKernelTextCapacity + 1, 'A')), too_long);
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
    // Quotes, backslashes and controls escaped; UTF-8 and DEL kept as they are.
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\b\f\x1F\x7F\xC3\xA9\xE6\x97\xA5"),
              "\"a\\\"b\\\\c\\n\\u0001\\b\\f\\u001f\x7F\xC3\xA9\xE6\x97\xA5\"");
    // Each byte outside valid UTF-8 becomes U+FFFD, the rest stays.
    EXPECT_EQ(JsonString("\xE9x\xE6\x97\xED\xA0\x80"),
              "\"\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
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
