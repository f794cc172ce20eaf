#include "support/format.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Longest text format_string builds; a directive asking for more (a huge
// width or precision) is cut there.
constexpr std::size_t kStringLimit = 16u << 20;

// Real digits past this many are zeros in double arithmetic (every scaling
// step pushes the lowest set bit up); they are emitted as counted zeros.
constexpr int kMaxRealDigits = 1100;

// Output into a bounded buffer or a string; Put reports false once full.
class Sink {
public:
    Sink(char* out, std::size_t size) : out_(out), cap_(size == 0 ? 0 : size - 1) {}
    explicit Sink(std::string* text) : text_(text), cap_(kStringLimit) {}

    bool Full() const { return len_ >= cap_; }
    bool Put(char c) {
        if (Full()) return false;
        if (text_ != nullptr) {
            text_->push_back(c);
        } else {
            out_[len_] = c;
        }
        ++len_;
        return true;
    }
    void Put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n && Put(s[i]); ++i) {
        }
    }
    void Repeat(char c, std::int64_t n) {
        for (std::int64_t i = 0; i < n && Put(c); ++i) {
        }
    }
    std::size_t Finish() {
        if (text_ == nullptr && out_ != nullptr) out_[len_] = '\0';
        return len_;
    }

private:
    char* out_ = nullptr;
    std::string* text_ = nullptr;
    std::size_t cap_;
    std::size_t len_ = 0;
};

struct Spec {
    bool left = false;
    bool plus = false;
    bool zero = false;
    int width = -1;
    int precision = -1;
};

// One converted item: sign, zeros, body, counted zeros, suffix.
struct Piece {
    char sign = 0;
    std::int64_t lead_zeros = 0;
    std::string body;
    std::int64_t trail_zeros = 0;
    std::string suffix;
};

void Emit(Sink& sink, const Spec& spec, const Piece& p, bool numeric) {
    std::int64_t length = (p.sign != 0 ? 1 : 0) + p.lead_zeros + static_cast<std::int64_t>(p.body.size()) +
                          p.trail_zeros + static_cast<std::int64_t>(p.suffix.size());
    std::int64_t pad = spec.width > length ? spec.width - length : 0;
    bool zero_pad = numeric && spec.zero && !spec.left;
    if (!spec.left && !zero_pad) sink.Repeat(' ', pad);
    if (p.sign != 0) sink.Put(p.sign);
    if (zero_pad) sink.Repeat('0', pad);
    sink.Repeat('0', p.lead_zeros);
    sink.Put(p.body.data(), p.body.size());
    sink.Repeat('0', p.trail_zeros);
    sink.Put(p.suffix.data(), p.suffix.size());
    if (spec.left) sink.Repeat(' ', pad);
}

void EmitText(Sink& sink, const Spec& spec, const char* text, std::size_t n) {
    Piece p;
    p.body.assign(text, n);
    Emit(sink, spec, p, false);
}

std::string Digits(std::uint64_t v, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buf[32];
    int n = 0;
    do {
        buf[n++] = set[v % base];
        v /= base;
    } while (v != 0);
    std::string out;
    while (n > 0) out += buf[--n];
    return out;
}

void Integer(Sink& sink, const Spec& spec, int value, char conv) {
    Piece p;
    std::uint64_t magnitude = 0;
    unsigned base = 10;
    if (conv == 'd' || conv == 'i') {
        std::int64_t v = value;
        if (v < 0) {
            p.sign = '-';
            magnitude = static_cast<std::uint64_t>(-v);
        } else {
            if (spec.plus) p.sign = '+';
            magnitude = static_cast<std::uint64_t>(v);
        }
    } else {
        magnitude = static_cast<unsigned int>(value);
        base = conv == 'o' ? 8 : (conv == 'u' ? 10 : 16);
    }
    p.body = Digits(magnitude, base, conv == 'X');
    std::int64_t min_digits = spec.precision <= 0 ? 1 : spec.precision;
    if (min_digits > static_cast<std::int64_t>(p.body.size())) {
        p.lead_zeros = min_digits - static_cast<std::int64_t>(p.body.size());
    }
    Emit(sink, spec, p, true);
}

// Half a unit of the digit `precision` places after the point (0 once it
// falls below the smallest double).
double HalfUnit(int precision) {
    double r = 0.5;
    for (int i = 0; i < precision && r != 0.0; ++i) r /= 10.0;
    return r;
}

// v > 0 scaled into [1, 10) by decimal steps; returns the exponent.
int ScaleToUnit(double& v) {
    int exp = 0;
    while (v >= 10.0) {
        v /= 10.0;
        ++exp;
    }
    while (v < 1.0) {
        v *= 10.0;
        --exp;
    }
    return exp;
}

// Next digit of a scaled mantissa.
char NextDigit(double& m) {
    int d = static_cast<int>(m);
    if (d < 0) d = 0;
    if (d > 9) d = 9;
    m = (m - d) * 10.0;
    return static_cast<char>('0' + d);
}

// Fixed point: integer digits, then "." and `precision` digits.
void FixedBody(double v, int precision, Piece& p) {
    int digits = precision < kMaxRealDigits ? precision : kMaxRealDigits;
    p.trail_zeros = precision - digits;
    v += HalfUnit(precision);
    double m = v;
    if (v < 1.0) {
        p.body = "0";
        m = v * 10.0;
    } else {
        int exp = ScaleToUnit(m);
        for (int i = 0; i <= exp; ++i) p.body += NextDigit(m);
    }
    if (precision > 0) {
        p.body += '.';
        for (int i = 0; i < digits; ++i) p.body += NextDigit(m);
    }
}

// Mantissa of the exponent form rounded at `precision`; returns the exponent.
int ExponentMantissa(double v, int precision, double& m) {
    m = v;
    if (v == 0.0) return 0;
    int exp = ScaleToUnit(m);
    m += HalfUnit(precision);
    if (m >= 10.0) {
        m /= 10.0;
        ++exp;
    }
    return exp;
}

void ExponentBody(double v, int precision, bool upper, Piece& p) {
    int digits = precision < kMaxRealDigits ? precision : kMaxRealDigits;
    p.trail_zeros = precision - digits;
    double m = 0;
    int exp = ExponentMantissa(v, precision, m);
    p.body += NextDigit(m);
    if (precision > 0) {
        p.body += '.';
        for (int i = 0; i < digits; ++i) p.body += NextDigit(m);
    }
    p.suffix = upper ? "E" : "e";
    p.suffix += exp < 0 ? '-' : '+';
    int a = exp < 0 ? -exp : exp;
    p.suffix += static_cast<char>('0' + (a / 100) % 10);
    p.suffix += static_cast<char>('0' + (a / 10) % 10);
    p.suffix += static_cast<char>('0' + a % 10);
}

void StripZeros(Piece& p) {
    p.trail_zeros = 0;
    if (p.body.find('.') == std::string::npos) return;
    while (!p.body.empty() && p.body.back() == '0') p.body.pop_back();
    if (!p.body.empty() && p.body.back() == '.') p.body.pop_back();
}

void Real(Sink& sink, const Spec& spec, double value, char conv) {
    if (!std::isfinite(value)) {
        const char* word = std::isnan(value) ? "NaN" : (value > 0 ? "+INF" : "-INF");
        EmitText(sink, spec, word, std::strlen(word));
        return;
    }
    Piece p;
    if (std::signbit(value)) {
        p.sign = '-';
        value = -value;
    } else if (spec.plus) {
        p.sign = '+';
    }
    int precision = spec.precision < 0 ? 6 : spec.precision;
    bool upper = conv == 'E' || conv == 'G';
    if (conv == 'f') {
        FixedBody(value, precision, p);
    } else if (conv == 'e' || conv == 'E') {
        ExponentBody(value, precision, upper, p);
    } else {
        double m = 0;
        int exp = ExponentMantissa(value, precision, m);
        if (exp < -4 || exp > precision) {
            ExponentBody(value, precision, upper, p);
        } else {
            FixedBody(value, precision, p);
        }
        StripZeros(p);
    }
    Emit(sink, spec, p, true);
}

// Reads a run of digits, saturating far above any useful size.
int ReadNumber(const char*& f) {
    int n = 0;
    while (*f >= '0' && *f <= '9') {
        if (n < INT_MAX / 10 - 1) n = n * 10 + (*f - '0');
        ++f;
    }
    return n;
}

void Run(Sink& sink, const char* f, FormatArgs& args) {
    if (f == nullptr) return;
    while (*f != '\0' && !sink.Full()) {
        if (*f != '%') {
            sink.Put(*f++);
            continue;
        }
        ++f;
        if (*f == '\0') break;  // a lone "%" at the end writes nothing
        Spec spec;
        if (*f == '-') {
            spec.left = true;
            ++f;
        } else if (*f == '+') {
            spec.plus = true;
            ++f;
        }
        if (*f == '0') {
            spec.zero = true;
            ++f;
        }
        if (*f == '*') {
            int w = args.NextInt();
            if (w < 0) {
                spec.left = true;
                w = w == INT_MIN ? INT_MAX : -w;
            }
            spec.width = w;
            ++f;
        } else if (*f >= '0' && *f <= '9') {
            spec.width = ReadNumber(f);
        }
        if (*f == '.') {
            ++f;
            if (*f == '*') {
                int pr = args.NextInt();
                spec.precision = pr < 0 ? -1 : pr;
                ++f;
            } else {
                spec.precision = ReadNumber(f);
            }
        }
        if (*f == 'l') ++f;
        char conv = *f;
        if (conv == '\0') break;
        ++f;
        switch (conv) {
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
            Integer(sink, spec, args.NextInt(), conv);
            break;
        case 'c': {
            char c = static_cast<char>(args.NextInt());
            EmitText(sink, spec, &c, 1);
            break;
        }
        case 's': {
            const char* s = args.NextText();
            if (s == nullptr) s = "(null)";
            std::size_t n = 0;
            // Never read past the precision: the text need not be terminated there.
            while ((spec.precision < 0 || n < static_cast<std::size_t>(spec.precision)) && s[n] != '\0') ++n;
            EmitText(sink, spec, s, n);
            break;
        }
        case 'f': case 'e': case 'E': case 'g': case 'G':
            Real(sink, spec, args.NextDouble(), conv);
            break;
        default:
            sink.Put(conv);
            break;
        }
    }
}

class VaArgs : public FormatArgs {
public:
    explicit VaArgs(std::va_list args) { va_copy(args_, args); }
    ~VaArgs() override { va_end(args_); }
    int NextInt() override { return va_arg(args_, int); }
    double NextDouble() override { return va_arg(args_, double); }
    const char* NextText() override { return va_arg(args_, const char*); }

private:
    std::va_list args_;
};

}  // namespace

int format_args(char* out, std::size_t size, const char* format, FormatArgs& args) {
    if (out == nullptr || size == 0) return 0;
    Sink sink(out, size);
    Run(sink, format, args);
    return static_cast<int>(sink.Finish());
}

int format_vtext(char* out, std::size_t size, const char* format, std::va_list args) {
    VaArgs source(args);
    return format_args(out, size, format, source);
}

int format_text(char* out, std::size_t size, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    int n = format_vtext(out, size, format, args);
    va_end(args);
    return n;
}

std::string format_string(const char* format, ...) {
    std::string text;
    std::va_list args;
    va_start(args, format);
    VaArgs source(args);
    va_end(args);
    Sink sink(&text);
    Run(sink, format, source);
    return text;
}
