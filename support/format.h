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
//   other    that character alone ("%%" gives "%")
// Infinities print as "+INF" / "-INF", any other non-finite value as "NaN",
// padded like text. A "*" width below zero left-justifies; a "*" precision
// below zero means none. Output is never cut to the width, only to the
// caller's buffer.
//
// Real digits come from successive decimal scaling in double precision after
// half a unit of the last printed digit is added, so the last digits of
// values a double cannot hold exactly may differ from an exact conversion.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Supplies the arguments of the directives in order.
class FormatArgs {
public:
    virtual ~FormatArgs() = default;
    virtual int NextInt() = 0;
    virtual double NextDouble() = 0;
    virtual const char* NextText() = 0;
};

// Writes at most size - 1 characters and a terminating zero into `out` (of
// `size` bytes); returns the number of characters written. Nothing is
// written when `out` is null or `size` is 0 (result 0). A null format
// writes the empty text.
int format_text(char* out, std::size_t size, const char* format, ...);
int format_vtext(char* out, std::size_t size, const char* format, std::va_list args);
int format_args(char* out, std::size_t size, const char* format, FormatArgs& args);

// The whole formatted text, however long.
std::string format_string(const char* format, ...);
