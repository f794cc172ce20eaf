// Tag lists and the readable form of values.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>

#include "sim/sim.h"

namespace sim {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string_view NextWord(std::string_view& s) {
    s = Trim(s);
    std::size_t end = 0;
    while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end]))) ++end;
    std::string_view word = s.substr(0, end);
    s.remove_prefix(end);
    return word;
}

bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size()) return false;
    if (v < low || v > high) return false;
    out = v;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxTagName) return false;
    for (char c : name)
        if (std::isspace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) < 0x21) return false;
    return name.front() != '#';
}

}  // namespace

bool ParseTagType(std::string_view word, std::int16_t& type) {
    struct Name {
        const char* word;
        std::int16_t type;
    };
    static const Name kNames[] = {
        {"int16", kTagInt16}, {"int16b", kTagInt16Alt}, {"real", kTagReal},   {"text", kTagText},
        {"int32", kTagInt32}, {"block", kTagBlock},     {"none", kTagNotConfigured},
    };
    for (const Name& n : kNames)
        if (word == n.word) {
            type = n.type;
            return true;
        }
    std::int64_t code = 0;
    if (ParseInteger(word, -3, 5, code) && IsValidTagType(static_cast<std::int16_t>(code))) {
        type = static_cast<std::int16_t>(code);
        return true;
    }
    return false;
}

const char* TagTypeName(std::int16_t type) {
    switch (type) {
        case kTagInt16: return "int16";
        case kTagInt16Alt: return "int16b";
        case kTagReal: return "real";
        case kTagText: return "text";
        case kTagInt32: return "int32";
        case kTagBlock: return "block";
        case kTagNotConfigured: return "none";
        default: return "?";
    }
}

bool ParseTagList(std::string_view text, std::vector<TagSpec>& out, std::string& error) {
    out.clear();
    std::set<std::string, std::less<>> names;
    int line_no = 0;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++line_no;
        std::string where = "line " + std::to_string(line_no) + ": ";
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view rest = Trim(line);
        if (rest.empty() || rest.front() == '#') continue;
        TagSpec spec;
        std::string_view name = NextWord(rest);
        std::string_view type_word = NextWord(rest);
        if (!ValidName(name)) {
            error = where + "tag name \"" + std::string(name) + "\" is not valid (1 to " +
                    std::to_string(kMaxTagName) + " visible characters)";
            return false;
        }
        if (type_word.empty()) {
            error = where + "tag " + std::string(name) + " has no type";
            return false;
        }
        if (!ParseTagType(type_word, spec.type)) {
            error = where + "unknown tag type \"" + std::string(type_word) + "\"";
            return false;
        }
        if (names.count(name) != 0) {
            error = where + "tag " + std::string(name) + " is defined twice";
            return false;
        }
        rest = Trim(rest);
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
        spec.name = std::string(name);
        spec.initial = std::string(rest);
        if (spec.type != kTagNotConfigured) {
            Value v;
            std::string why;
            if (!ParseValue(spec.type, spec.initial, v, why)) {
                error = where + "initial value of " + spec.name + ": " + why;
                return false;
            }
        }
        names.insert(spec.name);
        out.push_back(std::move(spec));
    }
    return true;
}

bool ParseValue(std::int16_t type, std::string_view text, Value& out, std::string& error) {
    out = Value{};
    out.type = type;
    switch (type) {
        case kTagInt16:
        case kTagInt16Alt:
        case kTagInt32: {
            bool wide = type == kTagInt32;
            std::int64_t low = wide ? INT32_MIN : INT16_MIN, high = wide ? INT32_MAX : INT16_MAX;
            if (Trim(text).empty()) return true;  // no initial value: 0
            if (!ParseInteger(text, low, high, out.integer)) {
                error = "\"" + std::string(text) + "\" is not an integer from " + std::to_string(low) + " to " +
                        std::to_string(high);
                return false;
            }
            return true;
        }
        case kTagReal: {
            std::string t(Trim(text));
            if (t.empty()) return true;
            char* end = nullptr;
            out.real = std::strtod(t.c_str(), &end);
            if (end == t.c_str() || *end != '\0') {
                error = "\"" + t + "\" is not a number";
                return false;
            }
            return true;
        }
        case kTagText:
            if (text.size() > kKernelTextCapacity) {
                error = "the text has " + std::to_string(text.size()) + " characters; a text tag holds at most " +
                        std::to_string(kKernelTextCapacity);
                return false;
            }
            out.bytes = std::string(text);
            return true;
        case kTagBlock: {
            std::string_view t = Trim(text);
            if (t == "-") t = {};
            std::string bytes;
            int high = -1;
            for (char c : t) {
                if (std::isspace(static_cast<unsigned char>(c))) continue;
                int d = HexDigit(c);
                if (d < 0) {
                    error = "a block value is written as hex digit pairs";
                    return false;
                }
                if (high < 0) {
                    high = d;
                } else {
                    bytes.push_back(static_cast<char>(high * 16 + d));
                    high = -1;
                }
            }
            if (high >= 0) {
                error = "a block value needs an even number of hex digits";
                return false;
            }
            if (bytes.size() > kKernelBlockCapacity) {
                error = "the block has " + std::to_string(bytes.size()) + " bytes; a block tag holds at most " +
                        std::to_string(kKernelBlockCapacity);
                return false;
            }
            out.bytes = std::move(bytes);
            return true;
        }
        default:
            error = "the tag is not configured and holds no value";
            return false;
    }
}

std::string FormatValue(const Value& value, bool quoted) {
    switch (value.type) {
        case kTagInt16:
        case kTagInt16Alt:
        case kTagInt32: return std::to_string(value.integer);
        case kTagReal: {
            char buf[64];
            auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value.real);
            return ec == std::errc() ? std::string(buf, ptr) : std::string("?");
        }
        case kTagText: return quoted ? "\"" + value.bytes + "\"" : value.bytes;
        case kTagBlock: {
            static const char kHex[] = "0123456789abcdef";
            std::string s;
            for (unsigned char c : value.bytes) {
                s.push_back(kHex[c >> 4]);
                s.push_back(kHex[c & 15]);
            }
            return s.empty() ? std::string("-") : s;
        }
        default: return "(not configured)";
    }
}

}  // namespace sim
