#include "support/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

// format_text into a roomy buffer, as a string.
template <typename... A>
std::string F(const char* format, A... args) {
    char buf[512];
    int n = format_text(buf, sizeof buf, format, args...);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
    return std::string(buf);
}

TEST(Format, TextCharactersAndPercent) {
    EXPECT_EQ(F("%s/ct/global.ct", "plant1"), "plant1/ct/global.ct");
    EXPECT_EQ(F("100%% %c%c", 'o', 'k'), "100% ok");
    EXPECT_EQ(F("%.3s|%5s|%-5s|%5.2s", "abcde", "ab", "ab", "xyz"), "abc|   ab|ab   |   xy");
    EXPECT_EQ(F("%05s", "ab"), "   ab");  // text pads with spaces even with "0"
    EXPECT_EQ(F("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(F("%q%-z|%"), "qz|");  // unknown conversions print alone, a trailing % nothing
    EXPECT_EQ(F("%*s|%-*s|%*s", 4, "a", 3, "b", -3, "c"), "   a|b  |c  ");
    // The precision bounds the read: the text need not be terminated.
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(F("%.3s", unterminated), "xyz");
    EXPECT_EQ(F(nullptr), "");
}

TEST(Format, Integers) {
    EXPECT_EQ(F("%5d|%-5d|%05d", 42, 42, -42), "   42|42   |-0042");
    EXPECT_EQ(F("%+d %+d %d", 7, -7, 0), "+7 -7 0");
    EXPECT_EQ(F("%.3d|%.0d|%.3d", 5, 0, -5), "005|0|-005");
    EXPECT_EQ(F("%d %i", INT_MIN, INT_MAX), "-2147483648 2147483647");
    EXPECT_EQ(F("%u %x %X %o", -1, 255, 255, 8), "4294967295 ff FF 10");
    EXPECT_EQ(F("%+u|%ld|%08.3x", 5, 12, 0xab), "5|12|000000ab");
    EXPECT_EQ(F("%*d|%.*d", 6, 1, 4, 2), "     1|0002");
}

TEST(Format, Reals) {
    EXPECT_EQ(F("%f|%.0f|%.1f|%.2f", 3.25, 2.5, 0.05, 1.005), "3.250000|3|0.1|1.00");  // half a unit added; 1.005 is below
    EXPECT_EQ(F("%8.3f|%-8.2f|%08.2f|%+.1f", 3.14159, -1.5, -1.5, 2.0), "   3.142|-1.50   |-0001.50|+2.0");
    EXPECT_EQ(F("%.3f", 999.9996), "1000.000");

    EXPECT_EQ(F("%e|%E|%.0e|%.2e", 0.0, 0.000123, 5.0, 9.999), "0.000000e+000|1.230000E-004|5e+000|1.00e+001");
    EXPECT_EQ(F("%12.2e|%-12.2e|", -2.5, 2.5), "  -2.50e+000|2.50e+000   |");

    EXPECT_EQ(F("%g|%g", 0.0001, 0.00001), "0.0001|1e-005");
    EXPECT_EQ(F("%g|%g", 100.0, 0.0), "100|0");
    EXPECT_EQ(F("%g|%G", 12345678.0, 1.5e-9), "1.234568e+007|1.5E-009");
    EXPECT_EQ(F("%.2g|%.1g|%.2g", 123.0, 123.0, 1.25), "123|1.2e+002|1.25");

    double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(F("%f|%e|%g", inf, -inf, std::nan("")), "+INF|-INF|NaN");
    EXPECT_EQ(F("%6f|%-6f|%06f", inf, -inf, inf), "  +INF|-INF  |  +INF");
}

TEST(Format, BufferBoundsAndHugeDirectives) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(format_text(buf, 5, "%s", "abcdefgh"), 4);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(buf[5], 'Z');  // nothing past the given size
    EXPECT_EQ(format_text(buf, 1, "abc"), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(format_text(buf, 0, "abc"), 0);
    EXPECT_EQ(buf[1], 'b');  // size 0: untouched
    EXPECT_EQ(format_text(nullptr, 10, "abc"), 0);

    // Widths and precisions far beyond the buffer are cut, not looped over.
    char small[32];
    EXPECT_EQ(format_text(small, sizeof small, "%999999999d", 1), 31);
    EXPECT_EQ(format_text(small, sizeof small, "%.2000000000f", 1.0), 31);
    EXPECT_EQ(std::string(small), "1.00000000000000000000000000000");
    EXPECT_EQ(format_text(small, sizeof small, "%99999999999999999999d", 1), 31);
    EXPECT_EQ(format_text(small, sizeof small, "%*d", INT_MIN, 5), 31);
    EXPECT_EQ(small[0], '5');
    EXPECT_EQ(format_text(small, sizeof small, "%f", 1.7976931348623157e308), 31);

    EXPECT_EQ(format_string("%s-%05d", "key", 12), "key-00012");
    EXPECT_EQ(format_string("%300d", 1).size(), 300u);
}

TEST(Format, FormatsFromOutsideReadOnlyTheArgumentsPassed) {
    // Flags, widths and stars of a conversion beyond the arguments are shown
    // with it; a text where a width is asked for is used up.
    EXPECT_EQ(F("%n%d %-08.3f%*d%.*s", 7), "n7 %-08.3f%*d%.*s");
    EXPECT_EQ(F("%s|%d|%c|%*d|%s", 107, "text", "t", "w", 5, "next"), "%s|%d|%c|%*d|next");
    EXPECT_EQ(F("%d|%.1f|%x", 2.9, 3, -2.5), "2|3.0|fffffffe");  // numbers convert
    EXPECT_EQ(F("%d|%d", 1e20, -1e20), "2147483647|-2147483648");
}

// The digits of the C library's formatter for the same value, with its
// exponent widened to three digits.
std::string Oracle(char conv, int precision, double v) {
    char format[16];
    std::snprintf(format, sizeof format, "%%.%d%c", precision, conv);
    std::string s(2048, '\0');
    s.resize(static_cast<std::size_t>(std::snprintf(s.data(), s.size(), format, v)));
    std::size_t e = s.find('e');
    if (e != std::string::npos && s.size() - e == 4) s.insert(e + 2, "0");
    return s;
}

// v lies exactly halfway between two neighbours at `precision` places of
// `conv`: the C library rounds such a tie to even, this formatter up.
bool ExactTie(char conv, int precision, double v) {
    std::string wide = Oracle(conv, precision + 1100, v);  // every digit of v
    std::size_t cut = wide.find('.') + 1 + static_cast<std::size_t>(precision);
    std::size_t end = conv == 'e' ? wide.find('e') : wide.size();
    return wide[cut] == '5' && wide.find_first_not_of('0', cut + 1) >= end;
}

TEST(Format, RealDigitsAreTheExactValueOfTheDouble) {
    // Beyond the oracle's precisions below.
    EXPECT_EQ(F("%.25f", 0.1), "0.1000000000000000055511151");

    EXPECT_EQ(F("%.3e|%.2f", 4.9406564584124654e-324, 0.125), "4.941e-324|0.13");  // subnormal; a tie rounds up

    // Against the C library over values of every size and precisions up to
    // 20: only exact ties may differ, and then this formatter rounds up.
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int> exponent(-330, 307);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        double v = i % 3 == 0 ? std::ldexp(static_cast<double>(random() % 100000), -static_cast<int>(random() % 12))
                              : mantissa(random) * std::pow(10.0, exponent(random));
        if (i % 2 == 1) v = -v;
        int precision = static_cast<int>(random() % 21);
        for (char conv : {'f', 'e'}) {
            if (conv == 'f' && std::fabs(v) > 1e40) continue;
            std::string mine = conv == 'f' ? format_string("%.*f", precision, v) : format_string("%.*e", precision, v);
            std::string theirs = Oracle(conv, precision, v);
            ++compared;
            if (mine != theirs) {
                EXPECT_TRUE(ExactTie(conv, precision, std::fabs(v))) << conv << precision << " " << theirs << " " << mine;
            }
        }
    }
    EXPECT_GT(compared, 4000);
}

}  // namespace
