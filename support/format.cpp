#include "support/format.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Longest text format_string builds; a directive asking for more (a huge
// width or precision) is cut there.
constexpr std::size_t kStringLimit = 16u << 20;

// Longest exact decimal form of a double: 309 integer digits, or 1074
// fractional digits (the smallest subnormal is 2^-1074).
constexpr int kMaxIntegerDigits = 310;
constexpr int kMaxFractionDigits = 1074;

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

// Exact decimal digits of a finite v >= 0: `digits` holds the integer part
// followed by `fraction` fractional digits, with no point. A double is
// m * 2^k with a 53-bit m, so it has at most 1074 fractional digits and
// every one of them is produced.
struct Decimal {
    std::string digits;
    int fraction = 0;
};

Decimal ExactDecimal(double v) {
    int exp2 = 0;
    std::frexp(v, &exp2);
    int fraction = 53 - exp2;
    if (fraction < 0) fraction = 0;
    if (fraction > kMaxFractionDigits) fraction = kMaxFractionDigits;
    char buffer[kMaxIntegerDigits + 2 + kMaxFractionDigits];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, fraction);
    Decimal d;
    d.fraction = fraction;
    d.digits.reserve(static_cast<std::size_t>(result.ptr - buffer));
    for (const char* p = buffer; p != result.ptr; ++p) {
        if (*p != '.') d.digits += *p;
    }
    return d;
}

// Rounds the first `keep` digits half up (a tie goes up); returns the kept
// digits, one longer when the carry runs out of the front.
std::string RoundHalfUp(const std::string& digits, std::size_t keep) {
    if (keep >= digits.size()) return digits;
    std::string kept = digits.substr(0, keep);
    if (digits[keep] < '5') return kept;
    std::size_t i = kept.size();
    while (i > 0) {
        --i;
        if (kept[i] != '9') {
            ++kept[i];
            return kept;
        }
        kept[i] = '0';
    }
    return "1" + kept;
}

// Fixed point: integer digits, then "." and `precision` digits.
void FixedBody(double v, int precision, Piece& p) {
    Decimal d = ExactDecimal(v);
    int shown = precision < d.fraction ? precision : d.fraction;
    std::size_t integer_digits = d.digits.size() - static_cast<std::size_t>(d.fraction);
    std::string kept = RoundHalfUp(d.digits, integer_digits + static_cast<std::size_t>(shown));
    std::size_t point = kept.size() - static_cast<std::size_t>(shown);
    std::size_t first = 0;  // no leading zeros before the units digit
    while (first + 1 < point && kept[first] == '0') ++first;
    p.body = kept.substr(first, point - first);
    if (precision > 0) {
        p.body += '.';
        p.body += kept.substr(point);
        p.trail_zeros = precision - shown;
    }
}

// Mantissa digits of the exponent form (1 + precision of them, rounded);
// returns the decimal exponent. Zero has exponent 0.
int ExponentDigits(double v, int precision, std::string& mantissa) {
    Decimal d = ExactDecimal(v);
    std::size_t lead = d.digits.find_first_not_of('0');
    if (lead == std::string::npos) {
        mantissa.assign(1, '0');
        return 0;
    }
    int exp = static_cast<int>(d.digits.size()) - d.fraction - 1 - static_cast<int>(lead);
    std::string significant = d.digits.substr(lead);
    std::size_t keep = static_cast<std::size_t>(precision) + 1;
    mantissa = RoundHalfUp(significant, keep);
    if (keep < significant.size() && mantissa.size() > keep) {
        // The carry added a digit in front: 9.99 -> 10.0
        mantissa.pop_back();
        ++exp;
    }
    return exp;
}

void ExponentBody(double v, int precision, bool upper, Piece& p) {
    std::string mantissa;
    int exp = ExponentDigits(v, precision, mantissa);
    p.body += mantissa[0];
    if (precision > 0) {
        p.body += '.';
        p.body += mantissa.substr(1);
        p.trail_zeros = precision - static_cast<std::int64_t>(mantissa.size() - 1);
    }
    p.suffix.assign(1, upper ? 'E' : 'e');
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
        std::string mantissa;
        int exp = ExponentDigits(value, precision, mantissa);
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

// The caller's arguments, handed out in order; an argument of the wrong
// kind or none at all makes the directive write itself as it stands.
class ArgList {
public:
    explicit ArgList(std::span<const FormatArg> args) : args_(args) {}

    const FormatArg* Next() { return next_ < args_.size() ? &args_[next_++] : nullptr; }
    bool Int(int& out) {
        const FormatArg* a = Next();
        if (a == nullptr) return false;
        switch (a->kind()) {
            case FormatArg::Kind::Integer:
                out = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(a->integer())));
                return true;
            case FormatArg::Kind::Real: out = Truncated(a->real()); return true;
            default: return false;
        }
    }
    bool Real(double& out) {
        const FormatArg* a = Next();
        if (a == nullptr) return false;
        switch (a->kind()) {
            case FormatArg::Kind::Integer:
                out = static_cast<double>(a->integer());
                return true;
            case FormatArg::Kind::Real: out = a->real(); return true;
            default: return false;
        }
    }
    bool Text(const char*& out) {
        const FormatArg* a = Next();
        if (a == nullptr || a->kind() != FormatArg::Kind::Text) return false;
        out = a->text();
        return true;
    }

private:
    static int Truncated(double v) {
        if (std::isnan(v)) return 0;
        if (v >= 2147483647.0) return INT_MAX;
        if (v <= -2147483648.0) return INT_MIN;
        return static_cast<int>(v);
    }
    std::span<const FormatArg> args_;
    std::size_t next_ = 0;
};

void Run(Sink& sink, const char* f, std::span<const FormatArg> list) {
    if (f == nullptr) return;
    ArgList args(list);
    while (*f != '\0' && !sink.Full()) {
        if (*f != '%') {
            sink.Put(*f++);
            continue;
        }
        const char* directive = f;
        ++f;
        if (*f == '\0') break;  // a lone "%" at the end writes nothing
        bool matched = true;  // every argument the directive asked for was there
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
            int w = 0;
            matched = args.Int(w) && matched;
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
                int pr = 0;
                matched = args.Int(pr) && matched;
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
        case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': {
            int v = 0;
            if (args.Int(v) && matched) {
                Integer(sink, spec, v, conv);
            } else {
                sink.Put(directive, static_cast<std::size_t>(f - directive));
            }
            break;
        }
        case 'c': {
            int v = 0;
            if (args.Int(v) && matched) {
                char c = static_cast<char>(v);
                EmitText(sink, spec, &c, 1);
            } else {
                sink.Put(directive, static_cast<std::size_t>(f - directive));
            }
            break;
        }
        case 's': {
            const char* s = nullptr;
            if (!args.Text(s) || !matched) {
                sink.Put(directive, static_cast<std::size_t>(f - directive));
                break;
            }
            if (s == nullptr) s = "(null)";
            std::size_t n = 0;
            // Never read past the precision: the text need not be terminated there.
            while ((spec.precision < 0 || n < static_cast<std::size_t>(spec.precision)) && s[n] != '\0') ++n;
            EmitText(sink, spec, s, n);
            break;
        }
        case 'f': case 'e': case 'E': case 'g': case 'G': {
            double v = 0;
            if (args.Real(v) && matched) {
                Real(sink, spec, v, conv);
            } else {
                sink.Put(directive, static_cast<std::size_t>(f - directive));
            }
            break;
        }
        default:
            sink.Put(conv);
            break;
        }
    }
}

}  // namespace

int format_args(char* out, std::size_t size, const char* format, std::span<const FormatArg> args) {
    if (out == nullptr || size == 0) return 0;
    Sink sink(out, size);
    Run(sink, format, args);
    return static_cast<int>(sink.Finish());
}

std::string format_string_args(const char* format, std::span<const FormatArg> args) {
    std::string text;
    Sink sink(&text);
    Run(sink, format, args);
    return text;
}
