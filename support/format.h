// The library's own printf-style formatter.
//
// A directive is "%", then at most one of "-" (left-justify) or "+" (plus
// sign on signed decimal and real numbers), an optional "0" (pad numbers
// with zeros after the sign), a width (digits or "*"), optionally "." and a
// precision (digits or "*"), an optional "l" (accepted, no effect: the
// argument is still an int), and the conversion:
//   d i      int, signed decimal; the precision (0 counts as 1) is the
//            minimum number of digits
//   u o x X  int taken as unsigned: decimal, octal, hex (X upper case)
//   c        int, one character
//   s        text; the precision cuts it; a null pointer prints "(null)"
//   f        double, fixed point, default precision 6, no "." at precision 0
//   e E      double, d.ddddde+ddd: always three exponent digits
//   g G      double: e style when the decimal exponent is below -4 or above
//            the precision, else f style; trailing zeros and a bare point
//            are removed
//   other    that character alone ("%%" gives "%"; "%n" gives "n", so
//            nothing is ever written through an argument)
// Infinities print as "+INF" / "-INF", any other non-finite value as "NaN",
// padded like text. A "*" width below zero left-justifies; a "*" precision
// below zero means none. Output is never cut to the width, only to the
// caller's buffer.
//
// Real digits are the exact decimal value of the double rounded half up at
// the last printed digit: a value a double holds exactly prints exactly
// (255.0 under "%.15f" is 255.000000000000000), and only a value a double
// cannot hold (0.1, 1.005) shows the digits of its nearest double.
//
// Arguments are a counted list of typed values, so formatting never reads
// more than the caller passed; the format may come from outside (a message
// catalog an integrator edits). The rules for a format that does not match
// its arguments:
//   - a directive (with its "*" parts) for which no argument is left is
//     written as it stands, "%" included: "%s of %s" with one text "disk"
//     gives "disk of %s";
//   - a number directive takes an integer or a real (a real is truncated
//     toward zero, saturating at the int range), a real directive takes
//     either kind, "%s" and "*" take only their own kind: an argument of
//     another kind is used up and the directive written as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

// One argument of a directive: an integer, a real or a text.
class FormatArg {
public:
    enum class Kind : std::uint8_t { Integer, Real, Text };

    constexpr FormatArg() : kind_(Kind::Integer) {}
    template <typename T>
        requires(std::is_integral_v<T> || std::is_enum_v<T>)
    constexpr FormatArg(T v) : kind_(Kind::Integer), integer_(static_cast<std::int64_t>(v)) {}
    template <typename T>
        requires std::is_floating_point_v<T>
    constexpr FormatArg(T v) : kind_(Kind::Real), real_(static_cast<double>(v)) {}
    constexpr FormatArg(const char* text) : kind_(Kind::Text), text_(text) {}

    Kind kind() const { return kind_; }
    std::int64_t integer() const { return integer_; }
    double real() const { return real_; }
    const char* text() const { return text_; }

private:
    Kind kind_;
    std::int64_t integer_ = 0;
    double real_ = 0.0;
    const char* text_ = nullptr;
};

// Writes at most size - 1 characters and a terminating zero into `out` (of
// `size` bytes); returns the number of characters written. Nothing is
// written when `out` is null or `size` is 0 (result 0). A null format
// writes the empty text.
int format_args(char* out, std::size_t size, const char* format, std::span<const FormatArg> args);

// The whole formatted text, however long.
std::string format_string_args(const char* format, std::span<const FormatArg> args);

template <typename... A>
int format_text(char* out, std::size_t size, const char* format, const A&... args) {
    const FormatArg list[sizeof...(A) + 1] = {FormatArg(args)...};
    return format_args(out, size, format, std::span<const FormatArg>(list, sizeof...(A)));
}

template <typename... A>
std::string format_string(const char* format, const A&... args) {
    const FormatArg list[sizeof...(A) + 1] = {FormatArg(args)...};
    return format_string_args(format, std::span<const FormatArg>(list, sizeof...(A)));
}
