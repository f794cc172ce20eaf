// Initialisation files on the simulated host: a reader with the rules of
// the Windows calls (see platform/profile.h).
#include "platform/profile.h"
#include "platform/fault_points.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/simulated/host_paths.h"

namespace win {
namespace {

struct Entry {
    std::string key;
    std::string value;
    bool has_value = false;  // a line without "=" names a key but gives no value
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

std::vector<Section> Parse(std::string_view text) {
    std::vector<Section> sections;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.rfind(']');
            // A header without its closing bracket starts no section: its
            // line and the keys after it stay with the section before.
            if (close != std::string_view::npos) {
                sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
                continue;
            }
        }
        if (sections.empty()) continue;  // keys before the first section belong to none
        Entry entry;
        std::size_t eq = line.find('=');
        entry.key = std::string(Trim(line.substr(0, eq)));
        if (eq != std::string_view::npos) {
            std::string_view value = Trim(line.substr(eq + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            entry.value = std::string(value);
            entry.has_value = true;
        }
        sections.back().entries.push_back(std::move(entry));
    }
    return sections;
}

// The file's sections; false when it cannot be read.
bool Load(LPCSTR file_name, std::vector<Section>& sections) {
    if (file_name == nullptr || *file_name == '\0') return false;
    std::string path;
    if (!host::ToHostPath(file_name, path)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    sections = Parse(text);
    return true;
}

const Section* FindSection(const std::vector<Section>& sections, std::string_view name) {
    for (const Section& s : sections) {
        if (SameName(s.name, name)) return &s;
    }
    return nullptr;
}

// Copies a single text, cut at size-1.
DWORD CopyText(std::string_view text, LPSTR out, DWORD size) {
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n > 0) std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies a list of names, each ending in a zero, the list in one more; a
// list that does not fit is cut and ends in two zeros (result size-2).
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR out, DWORD size) {
    std::string list;
    for (std::string_view name : names) {
        list.append(name);
        list.push_back('\0');
    }
    if (list.size() + 1 <= size) {
        std::memcpy(out, list.data(), list.size());
        out[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, list.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

}  // namespace

DWORD sys::GetPrivateProfileStringA(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned,
                                    DWORD size, LPCSTR file_name) {
    if (returned == nullptr || size == 0) return 0;
    std::vector<Section> sections;
    bool loaded = Load(file_name, sections);

    if (app_name == nullptr) {
        std::vector<std::string_view> names;
        for (const Section& s : sections) names.push_back(s.name);
        if (!loaded) SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyList(names, returned, size);
    }
    const Section* section = FindSection(sections, app_name);
    if (key_name == nullptr) {
        std::vector<std::string_view> names;
        if (section != nullptr) {
            for (const Entry& e : section->entries) names.push_back(e.key);
        } else {
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
        return CopyList(names, returned, size);
    }
    if (section != nullptr) {
        for (const Entry& e : section->entries) {
            if (!SameName(e.key, key_name)) continue;
            if (!e.has_value) break;
            SetLastError(ERROR_SUCCESS);
            return CopyText(e.value, returned, size);
        }
    }
    std::string_view fallback = default_value == nullptr ? std::string_view() : std::string_view(default_value);
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    DWORD n = CopyText(fallback, returned, size);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return n;
}

UINT sys::GetPrivateProfileIntA(LPCSTR app_name, LPCSTR key_name, INT default_value, LPCSTR file_name) {
    char buffer[256];
    DWORD n = GetPrivateProfileStringA(app_name, key_name, "", buffer, sizeof buffer, file_name);
    if (n == 0) return static_cast<UINT>(default_value);
    const char* p = buffer;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    UINT value = 0;
    while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<UINT>(*p++ - '0');
    return negative ? 0u - value : value;
}

}  // namespace win
