#include "bus/payload.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "frame/tag_object.h"
#include "kernel/kernel.h"
#include "support/utf8.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

struct IntRange {
    std::int64_t low, high;
    const char* reason;
};

IntRange RangeOf(std::int16_t type) {
    if (type == kTagInt32) return {INT32_MIN, INT32_MAX, "out of range for a 32-bit integer (-2147483648..2147483647)"};
    return {INT16_MIN, INT16_MAX, "out of range for a 16-bit integer (-32768..32767)"};
}

}  // namespace

bool ParseInteger(std::int16_t type, std::string_view text, std::int64_t& out, std::string& reason) {
    text = Trim(text);
    if (text.empty()) {
        reason = "empty payload, a number is expected";
        return false;
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Leading zeros do not count against the digit limit ("0" stays).
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    if (text.empty() || text.size() > 19) {
        reason = text.empty() ? "not an integer" : RangeOf(type).reason;
        for (char c : text)
            if (c < '0' || c > '9') reason = "not an integer";
        return false;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            reason = "not an integer";
            return false;
        }
        value = value * 10 + (c - '0');  // 19 digits cannot overflow 64 bits
    }
    if (negative) value = -value;
    IntRange range = RangeOf(type);
    if (value < range.low || value > range.high) {
        reason = range.reason;
        return false;
    }
    out = value;
    return true;
}

namespace {

bool ParseReal(std::string_view text, double& out, std::string& reason) {
    text = Trim(text);
    if (text.empty()) {
        reason = "empty payload, a number is expected";
        return false;
    }
    // One sign: from_chars reads a "-" itself (and refuses a second one)
    // but takes no "+", which goes first.
    if (text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            reason = "not a number";
            return false;
        }
    }
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        reason = "out of range for a real number";
        return false;
    }
    if (ec != std::errc() || end != text.data() + text.size()) {
        reason = "not a number";
        return false;
    }
    if (!std::isfinite(value)) {
        reason = "not a finite number";
        return false;
    }
    out = value;
    return true;
}

}  // namespace

bool BusCarriesType(std::int16_t type) {
    return type == kTagInt16 || type == kTagInt16Alt || type == kTagInt32 || type == kTagReal || type == kTagText;
}

std::string FormatPayload(const TagObject& value) {
    switch (value.Type()) {
        case kTagReal: {
            char buffer[64];
            auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value.AsDouble());
            return ec == std::errc() ? std::string(buffer, end) : std::string();
        }
        case kTagText: {
            const char* text = value.AsText();
            return *text == '\0' ? std::string(1, '\0') : CodePageToUtf8(text);
        }
        case kTagInt16:
        case kTagInt16Alt:
        case kTagInt32: return std::to_string(value.AsInt());
        default: return {};
    }
}

bool ParsePayload(std::string_view payload, TagObject& into, std::string& reason) {
    const std::int16_t type = into.Type();
    switch (type) {
        case kTagInt16:
        case kTagInt16Alt:
        case kTagInt32: {
            std::int64_t value = 0;
            if (!ParseInteger(type, payload, value, reason)) return false;
            into.SetInt(static_cast<std::int32_t>(value));
            return true;
        }
        case kTagReal: {
            double value = 0;
            if (!ParseReal(payload, value, reason)) return false;
            into.SetDouble(value);
            return true;
        }
        case kTagText: {
            if (payload.size() == 1 && payload[0] == '\0') payload = {};  // the empty text's own form
            // A UTF-8 character takes at most three times the bytes of its
            // code-page form (the four-byte ones stay four in UTF-8 and
            // exist nowhere else): longer payloads cannot fit and are not
            // converted at all.
            auto too_long = [] {
                return "text longer than " + std::to_string(kKernelTextCapacity) + " bytes in the station's code page (" +
                       std::to_string(StationCodePage()) + ")";
            };
            if (payload.size() > 3 * std::size_t{kKernelTextCapacity}) {
                reason = too_long();
                return false;
            }
            if (payload.find('\0') != std::string_view::npos) {
                reason = "text holds a zero byte";
                return false;
            }
            std::string text;
            if (!Utf8ToCodePage(payload, text, reason)) {
                reason = "text " + reason;
                return false;
            }
            if (text.size() > kKernelTextCapacity || text.size() > into.BufferSize()) {
                reason = too_long();
                return false;
            }
            into.SetText(text);
            return true;
        }
        default: reason = "tag type not carried by the bus"; return false;
    }
}

std::string JsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t n = Utf8SequenceLength(text.substr(i));
            if (n == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string JsonValue(const TagObject& value) {
    if (!value.IsConfigured()) return "null";
    if (value.Type() == kTagText) return JsonString(CodePageToUtf8(value.AsText()));
    if (value.Type() == kTagReal && !std::isfinite(value.AsDouble())) return JsonString(FormatPayload(value));
    return FormatPayload(value);
}
