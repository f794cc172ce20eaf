// The conversion rules between tag values and bus payloads, and the trigger
// values of commands (the refusals the bridge's end-to-end tests send are
// not repeated here). Tag objects of a known type need no kernel.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bus/bus_rows.h"
#include "bus/payload.h"
#include "support/utf8.h"

namespace {

TagObject Tag(std::int16_t type) { return TagObject(1, type, kKernelTextCapacity); }

// The value read, as its payload; "refused: <reason>" (the value untouched).
std::string Read(std::int16_t type, std::string_view text) {
    TagObject v = Tag(type);
    if (type == kTagText) v.SetText("untouched");
    const std::string before = FormatPayload(v);
    std::string reason;
    if (ParsePayload(text, v, reason)) return FormatPayload(v);
    EXPECT_EQ(FormatPayload(v), before) << text;
    return "refused: " + reason;
}

TEST(Payload, EachTypeReadsItsOwnFormAndRefusalsSayWhy) {
    const std::string range16 = "refused: out of range for a 16-bit integer (-32768..32767)";
    const std::string range32 = "refused: out of range for a 32-bit integer (-2147483648..2147483647)";
    struct Case {
        std::int16_t type;
        std::string text, expected;
    };
    const Case cases[] = {
        {kTagInt16Alt, "32767", "32767"},  // -32768 and 2147483647: the bridge's end-to-end writes
        {kTagInt16, " +17\r\n", "17"},
        {kTagInt16Alt, "-32769", range16},
        {kTagInt32, "-2147483648", "-2147483648"},
        {kTagInt32, "-2147483649", range32},
        {kTagInt32, "40000", "40000"},  // the 16-bit range is not a 32-bit tag's
        {kTagInt16, "99999999999999999999999", range16},
        {kTagInt16, "1.5", "refused: not an integer"},
        {kTagInt32, "123456789012345678901x", "refused: not an integer"},
        {kTagInt16, "  ", "refused: empty payload, a number is expected"},
        // Leading zeros do not count as digits; a second sign is refused.
        {kTagInt16, "0000000000000000000042", "42"},
        {kTagInt32, "-00000000000000000000002147483648", "-2147483648"},
        {kTagInt16, "00000000000000000000032768", range16},
        {kTagInt32, "+-5", "refused: not an integer"},
        {kTagReal, "-+5", "refused: not a number"},
        // Reals go out in the shortest form that reads back to the same number.
        {kTagReal, "-0.1", "-0.1"},
        {kTagReal, "1e-300", "1e-300"},
        {kTagReal, "123456789.125", "123456789.125"},
        {kTagReal, "+1e3", "1000"},
        {kTagReal, "1.7976931348623157e308", "1.7976931348623157e+308"},
        {kTagReal, "1e999", "refused: out of range for a real number"},
        {kTagReal, "-inf", "refused: not a finite number"},
        {kTagReal, "0x10", "refused: not a number"},
        {kTagText, "  Night shift ", "  Night shift "},
        {kTagText, std::string(kKernelTextCapacity, 'x'), std::string(kKernelTextCapacity, 'x')},
        // The empty text: an empty payload or one zero byte in, one zero byte out.
        {kTagText, "", std::string(1, '\0')},
        {kTagText, std::string(1, '\0'), std::string(1, '\0')},
        {kTagText, std::string(2, '\0'), "refused: text holds a zero byte"},
        {kTagBlock, "00", "refused: tag type not carried by the bus"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.type, c.text), c.expected) << c.type << " " << c.text;
}

// Texts are UTF-8 on the wire and in the station's code page in the tag;
// the limit is in bytes of the code page, counted after the conversion.
TEST(Payload, TextsAreUtf8OnTheWireAndCodePageInTheTag) {
    if (StationCodePage() != 1252) GTEST_SKIP() << "the station's code page is not 1252 here";
    TagObject v = Tag(kTagText);
    std::string reason;
    ASSERT_TRUE(ParsePayload("l\xC3\xADnea 3 \xE2\x82\xAC", v, reason)) << reason;
    EXPECT_STREQ(v.AsText(), "l\xEDnea 3 \x80");
    EXPECT_EQ(FormatPayload(v), "l\xC3\xADnea 3 \xE2\x82\xAC");
    EXPECT_EQ(JsonValue(v), "\"l\xC3\xADnea 3 \xE2\x82\xAC\"");
    EXPECT_EQ(Read(kTagText, "\xE6\x97\xA5"),
              "refused: text holds a character the station's code page (1252) cannot show (U+65E5)");
    EXPECT_EQ(Read(kTagText, "ok\xC3"), "refused: text is not valid UTF-8");
    std::string euro;
    for (std::size_t i = 0; i < kKernelTextCapacity; ++i) euro += "\xE2\x82\xAC";  // three bytes each
    EXPECT_EQ(Read(kTagText, euro), euro);
    const std::string too_long = "refused: text longer than 255 bytes in the station's code page (1252)";
    for (const std::string& text : {euro + "\xE2\x82\xAC", std::string(kKernelTextCapacity + 1, 'A')})
        EXPECT_EQ(Read(kTagText, text), too_long);
}

TEST(Payload, JsonOfAnyBytesIsValid) {
    // Quotes, backslashes and controls escaped; UTF-8 and DEL kept as they are.
    EXPECT_EQ(JsonString("a\"b\\c\n\x01\b\f\x1F\x7F\xC3\xA9\xE6\x97\xA5"),
              "\"a\\\"b\\\\c\\n\\u0001\\b\\f\\u001f\x7F\xC3\xA9\xE6\x97\xA5\"");
    // Each byte outside valid UTF-8 becomes U+FFFD, the rest stays.
    EXPECT_EQ(JsonString("\xE9x\xE6\x97\xED\xA0\x80"),
              "\"\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(JsonValue(Tag(kTagReal).SetDouble(std::numeric_limits<double>::infinity())), "\"inf\"");
    EXPECT_EQ(JsonValue(Tag(kTagReal).SetDouble(-1.5)), "-1.5");
    EXPECT_EQ(JsonValue(Tag(kTagText).SetText("42")), "\"42\"");
    EXPECT_EQ(JsonValue(Tag(kTagText)), "\"\"");
    EXPECT_EQ(JsonValue(TagObject()), "null");  // a result that could not be read
}

TEST(Payload, CommandTriggerValuesAlwaysChange) {
    struct Case {
        std::int16_t type;
        std::int32_t value, different, next;
    };
    for (const Case& c : {Case{kTagInt16, 0, 1, 1}, Case{kTagInt16, 41, 0, 42}, Case{kTagInt16, 32767, 0, 1},
                          Case{kTagInt16Alt, -3, 0, 1}, Case{kTagInt32, 32767, 0, 32768},
                          Case{kTagInt32, 2147483647, 0, 1}}) {
        TagObject v = Tag(c.type), other = Tag(c.type);
        v.SetInt(c.value);
        SetDifferent(other, v);
        EXPECT_EQ(other.AsInt(), c.different) << c.value;
        EXPECT_FALSE(SameValue(other, v));
        EXPECT_EQ(NextCount(v), c.next) << c.value;
    }
    TagObject text = Tag(kTagText), other = Tag(kTagText), real = Tag(kTagReal), other_real = Tag(kTagReal);
    SetDifferent(other, text);
    EXPECT_STREQ(other.AsText(), " ");
    SetDifferent(other, text.SetText("go"));
    EXPECT_STREQ(other.AsText(), "");
    SetDifferent(other_real, real.SetDouble(0.5));
    EXPECT_EQ(other_real.AsDouble(), 0.0);
    EXPECT_TRUE(SameValue(text, Tag(kTagText).SetText("go")));
}

}  // namespace
