#include "platform/simulated/host_registry.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/simulated/host_state.h"
#include "platform/registry.h"

namespace win::host {

namespace {

const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendHex(std::string& out, unsigned char c) {
    static const char kDigits[] = "0123456789abcdef";
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            out += "\\x";
            AppendHex(out, c);
        } else {
            out += ch;
        }
    }
    out += '"';
    return out;
}

std::string EscapePath(std::string_view s) {
    std::string out;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E || c == '%' || c == '[' || c == ']') {
            out += '%';
            AppendHex(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

// Reads one quoted text at `pos`; false on a malformed quote or escape.
bool ReadQuoted(std::string_view line, std::size_t& pos, std::string& out, std::string& why) {
    out.clear();
    if (pos >= line.size() || line[pos] != '"') {
        why = "expected '\"'";
        return false;
    }
    ++pos;
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size()) break;
        char e = line[pos++];
        if (e == '\\' || e == '"') {
            out += e;
        } else if (e == 'x') {
            int hi = pos < line.size() ? HexDigit(line[pos]) : -1;
            int lo = pos + 1 < line.size() ? HexDigit(line[pos + 1]) : -1;
            if (hi < 0 || lo < 0) {
                why = "bad \\x escape";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
        } else {
            why = "unknown escape";
            return false;
        }
    }
    why = "unterminated quote";
    return false;
}

// Comma-separated hex bytes ("" = none).
bool ReadHexBytes(std::string_view s, std::string& out, std::string& why) {
    out.clear();
    if (s.empty()) return true;
    std::size_t pos = 0;
    for (;;) {
        int hi = pos < s.size() ? HexDigit(s[pos]) : -1;
        int lo = pos + 1 < s.size() ? HexDigit(s[pos + 1]) : -1;
        if (hi < 0 || lo < 0) {
            why = "bad hex byte";
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        if (pos == s.size()) return true;
        if (s[pos] != ',') {
            why = "expected ',' between hex bytes";
            return false;
        }
        ++pos;
    }
}

bool ReadValue(std::string_view line, RegistryValue& value, std::string& why) {
    std::size_t pos = 0;
    if (!ReadQuoted(line, pos, value.name, why)) return false;
    if (pos >= line.size() || line[pos] != '=') {
        why = "expected '=' after the value name";
        return false;
    }
    ++pos;
    std::size_t colon = line.find(':', pos);
    if (colon == std::string_view::npos) {
        why = "expected TYPE:DATA";
        return false;
    }
    std::string_view type = line.substr(pos, colon - pos);
    std::string_view rest = line.substr(colon + 1);
    value.data.clear();
    if (type == "sz" || type == "expand_sz") {
        value.type = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        std::size_t at = 0;
        if (!ReadQuoted(rest, at, value.data, why)) return false;
        if (at != rest.size()) {
            why = "text after the quoted data";
            return false;
        }
        value.data += '\0';
        return true;
    }
    if (type == "multi_sz") {
        value.type = REG_MULTI_SZ;
        std::size_t at = 0;
        while (at < rest.size()) {
            std::string item;
            if (!ReadQuoted(rest, at, item, why)) return false;
            value.data += item;
            value.data += '\0';
            if (at == rest.size()) break;
            if (rest[at] != ',') {
                why = "expected ',' between texts";
                return false;
            }
            ++at;
            if (at == rest.size()) {
                why = "text expected after ','";
                return false;
            }
        }
        value.data += '\0';
        return true;
    }
    if (type == "dword") {
        value.type = REG_DWORD;
        if (rest.empty() || rest.size() > 8) {
            why = "dword needs 1 to 8 hex digits";
            return false;
        }
        DWORD v = 0;
        for (char c : rest) {
            int d = HexDigit(c);
            if (d < 0) {
                why = "bad dword digit";
                return false;
            }
            v = v * 16 + static_cast<DWORD>(d);
        }
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (type == "hex") {
        value.type = REG_BINARY;
        return ReadHexBytes(rest, value.data, why);
    }
    if (type.size() > 5 && type.substr(0, 4) == "hex(" && type.back() == ')') {
        std::string_view digits = type.substr(4, type.size() - 5);
        if (digits.empty() || digits.size() > 10) {
            why = "bad type number";
            return false;
        }
        unsigned long long n = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                why = "bad type number";
                return false;
            }
            n = n * 10 + static_cast<unsigned>(c - '0');
        }
        if (n > 0xFFFFFFFFull) {
            why = "type number out of range";
            return false;
        }
        value.type = static_cast<DWORD>(n);
        return ReadHexBytes(rest, value.data, why);
    }
    why = "unknown value type";
    return false;
}

// Splits an unescaped key path into its lower-case map key, checking the
// root and that no level is empty.
bool CheckPath(const std::string& path, std::string& why) {
    std::size_t slash = path.find('\\');
    std::string root = Lower(path.substr(0, slash));
    bool known = false;
    for (const char* r : kRoots) known = known || root == Lower(r);
    if (!known) {
        why = "unknown root key";
        return false;
    }
    if (slash == std::string::npos) return true;
    std::size_t start = slash + 1;
    for (;;) {
        std::size_t next = path.find('\\', start);
        std::size_t len = (next == std::string::npos ? path.size() : next) - start;
        if (len == 0) {
            why = "empty key name in the path";
            return false;
        }
        if (len > 255) {
            why = "key name longer than 255 characters";
            return false;
        }
        if (next == std::string::npos) return true;
        start = next + 1;
    }
}

bool ReadKeyLine(std::string_view line, std::string& path, std::string& why) {
    if (line.size() < 2 || line.back() != ']') {
        why = "expected ']' at the end of the key line";
        return false;
    }
    path.clear();
    std::string_view body = line.substr(1, line.size() - 2);
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c == '[' || c == ']') {
            why = "bracket inside a key path";
            return false;
        }
        if (c != '%') {
            path += c;
            continue;
        }
        int hi = i + 1 < body.size() ? HexDigit(body[i + 1]) : -1;
        int lo = i + 2 < body.size() ? HexDigit(body[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            why = "bad % escape in a key path";
            return false;
        }
        path += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return CheckPath(path, why);
}

// The root's spelling is always the Windows one.
std::string CanonicalRoot(const std::string& path) {
    std::size_t slash = path.find('\\');
    std::string root = Lower(path.substr(0, slash));
    for (const char* r : kRoots) {
        if (root == Lower(r)) return std::string(r) + (slash == std::string::npos ? "" : path.substr(slash));
    }
    return path;
}

std::string FormatValue(const RegistryValue& v);

bool SameAfterRoundTrip(const RegistryValue& v, const std::string& line) {
    RegistryValue back;
    std::string why;
    return ReadValue(line, back, why) && back.type == v.type && back.data == v.data && back.name == v.name;
}

std::string FormatValue(const RegistryValue& v) {
    std::string head = Quote(v.name) + "=";
    const std::string& d = v.data;
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && !d.empty() && d.back() == '\0' &&
        d.find('\0') == d.size() - 1) {
        std::string line =
            head + (v.type == REG_SZ ? "sz:" : "expand_sz:") + Quote(std::string_view(d).substr(0, d.size() - 1));
        if (SameAfterRoundTrip(v, line)) return line;
    }
    if (v.type == REG_MULTI_SZ && d.size() >= 2 && d.back() == '\0') {
        std::string line = head + "multi_sz:";
        std::string_view body(d.data(), d.size() - 1);
        std::size_t start = 0;
        bool first = true;
        while (start < body.size()) {
            std::size_t end = body.find('\0', start);
            if (end == std::string_view::npos) break;
            if (!first) line += ',';
            first = false;
            line += Quote(body.substr(start, end - start));
            start = end + 1;
        }
        if (SameAfterRoundTrip(v, line)) return line;
    }
    if (v.type == REG_DWORD && d.size() == 4) {
        DWORD n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(d[static_cast<std::size_t>(i)]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(n));
        return head + buf;
    }
    std::string line = head;
    if (v.type == REG_BINARY) {
        line += "hex:";
    } else {
        line += "hex(" + std::to_string(v.type) + "):";
    }
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (i > 0) line += ',';
        AppendHex(line, static_cast<unsigned char>(d[i]));
    }
    return line;
}

}  // namespace

bool PathLess::operator()(const std::string& a, const std::string& b) const {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = a[i] == '\\' ? 1 : static_cast<unsigned char>(a[i]);
        unsigned char y = b[i] == '\\' ? 1 : static_cast<unsigned char>(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

RegistryData EmptyRegistry() {
    RegistryData data;
    for (const char* r : kRoots) data.keys[Lower(r)].path = r;
    return data;
}

bool ParseRegistry(std::string_view text, RegistryData& data, std::string& error) {
    data = EmptyRegistry();
    RegistryKey* current = nullptr;
    std::size_t line_no = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        std::string why;
        if (line.front() == '[') {
            std::string path;
            if (!ReadKeyLine(line, path, why)) {
                error = "line " + std::to_string(line_no) + ": " + why;
                return false;
            }
            path = CanonicalRoot(path);
            // The key and every parent exist.
            for (std::size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
                RegistryKey& parent = data.keys[Lower(path.substr(0, cut))];
                if (parent.path.empty()) parent.path = path.substr(0, cut);
            }
            current = &data.keys[Lower(path)];
            if (current->path.empty()) current->path = path;
            continue;
        }
        if (line.front() != '"') {
            error = "line " + std::to_string(line_no) + ": expected a [key] or a \"value\" line";
            return false;
        }
        if (current == nullptr) {
            error = "line " + std::to_string(line_no) + ": value before the first key";
            return false;
        }
        RegistryValue value;
        if (!ReadValue(line, value, why)) {
            error = "line " + std::to_string(line_no) + ": " + why;
            return false;
        }
        std::string name = Lower(value.name);
        for (const RegistryValue& v : current->values) {
            if (Lower(v.name) == name) {
                error = "line " + std::to_string(line_no) + ": value " + Quote(value.name) + " given twice";
                return false;
            }
        }
        current->values.push_back(std::move(value));
    }
    return true;
}

std::string FormatRegistry(const RegistryData& data) {
    std::string out = "# Registry of the simulated host: [key path] lines, then \"name\"=type:data lines.\n";
    for (auto it = data.keys.begin(); it != data.keys.end(); ++it) {
        const RegistryKey& key = it->second;
        auto next = std::next(it);
        bool has_child = next != data.keys.end() && next->first.size() > it->first.size() &&
                         next->first.compare(0, it->first.size(), it->first) == 0 &&
                         next->first[it->first.size()] == '\\';
        if (key.values.empty() && (has_child || key.path.find('\\') == std::string::npos)) continue;
        out += "\n[" + EscapePath(key.path) + "]\n";
        for (const RegistryValue& v : key.values) out += FormatValue(v) + "\n";
    }
    return out;
}

std::string RegistryFile() { return StatePath("registry.txt"); }

bool DumpRegistry(std::string& text, std::string& error) {
    text.clear();
    std::string path = RegistryFile();
    std::ifstream in(path, std::ios::binary);
    RegistryData data = EmptyRegistry();
    if (in) {
        std::stringstream content;
        content << in.rdbuf();
        if (!ParseRegistry(content.str(), data, error)) {
            error = path + ": " + error;
            return false;
        }
    }
    text = FormatRegistry(data);
    return true;
}

}  // namespace win::host
