#include "platform/registry.h"
#include "platform/fault_points.h"

#include "platform/files.h"
#include "platform/registry_dump.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace win {

namespace {

::HKEY Native(HKEY key) { return reinterpret_cast<::HKEY>(key); }

static_assert(sizeof(win::HKEY) == sizeof(::HKEY));

// Some implementations write through a null result pointer; refuse it here.
constexpr LONG kNoResult = static_cast<LONG>(ERROR_INVALID_PARAMETER);

}  // namespace

LONG sys::RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result) {
    if (result == nullptr) return kNoResult;
    return ::RegOpenKeyExA(Native(key), sub_key, options, desired, reinterpret_cast<::PHKEY>(result));
}

LONG sys::RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    if (result == nullptr) return kNoResult;
    return ::RegOpenKeyA(Native(key), sub_key, reinterpret_cast<::PHKEY>(result));
}

LONG sys::RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options,
                          REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                          LPDWORD disposition) {
    if (result == nullptr) return kNoResult;
    return ::RegCreateKeyExA(Native(key), sub_key, reserved, class_name, options, desired,
                             const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(security)),
                             reinterpret_cast<::PHKEY>(result), reinterpret_cast<::LPDWORD>(disposition));
}

LONG sys::RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
    if (result == nullptr) return kNoResult;
    return ::RegCreateKeyA(Native(key), sub_key, reinterpret_cast<::PHKEY>(result));
}

LONG sys::RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD data_size) {
    return ::RegQueryValueExA(Native(key), value_name, reinterpret_cast<::LPDWORD>(reserved),
                              reinterpret_cast<::LPDWORD>(type), data, reinterpret_cast<::LPDWORD>(data_size));
}

LONG sys::RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                         DWORD data_size) {
    return ::RegSetValueExA(Native(key), value_name, reserved, type, data, data_size);
}

LONG sys::RegDeleteValueA(HKEY key, LPCSTR value_name) {
    return ::RegDeleteValueA(Native(key), value_name);
}

LONG sys::RegDeleteKeyA(HKEY key, LPCSTR sub_key) {
    return ::RegDeleteKeyA(Native(key), sub_key);
}

LONG sys::RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                        LPSTR class_name, LPDWORD class_size, FILETIME* last_write) {
    return ::RegEnumKeyExA(Native(key), index, name, reinterpret_cast<::LPDWORD>(name_size),
                           reinterpret_cast<::LPDWORD>(reserved), class_name,
                           reinterpret_cast<::LPDWORD>(class_size), reinterpret_cast<::FILETIME*>(last_write));
}

LONG sys::RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved,
                        LPDWORD type, LPBYTE data, LPDWORD data_size) {
    return ::RegEnumValueA(Native(key), index, value_name, reinterpret_cast<::LPDWORD>(value_name_size),
                           reinterpret_cast<::LPDWORD>(reserved), reinterpret_cast<::LPDWORD>(type), data,
                           reinterpret_cast<::LPDWORD>(data_size));
}

LONG sys::RegCloseKey(HKEY key) {
    return ::RegCloseKey(Native(key));
}

}  // namespace win

// The listing reads the real registry; outside namespace win the Windows
// macros (HKEY_CURRENT_USER, REG_SZ, ...) name the real types.
namespace {

std::string Quoted(const char* data, std::size_t size) {
    std::string out = "\"";
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

// One value in the listing form of the simulated host's registry file.
std::string ValueLine(const std::string& name, ::DWORD type, const std::vector<unsigned char>& data) {
    std::string line = Quoted(name.data(), name.size()) + "=";
    const char* bytes = reinterpret_cast<const char*>(data.data());
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0) {
        line += type == REG_SZ ? "sz:" : "expand_sz:";
        line += Quoted(bytes, data.size() - 1);
        return line;
    }
    if (type == REG_DWORD && data.size() == 4) {
        char hex[16];
        unsigned v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned>(data[3]) << 24);
        std::snprintf(hex, sizeof hex, "dword:%08x", v);
        return line + hex;
    }
    char head[24];
    std::snprintf(head, sizeof head, "hex(%lu):", static_cast<unsigned long>(type));
    line += head;
    for (std::size_t i = 0; i < data.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : ",%02x", data[i]);
        line += hex;
    }
    return line;
}

void DumpKey(const char* path, std::string& text) {
    ::HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        text += "# HKEY_CURRENT_USER\\";
        text += path;
        text += " does not exist\n";
        return;
    }
    text += "[HKEY_CURRENT_USER\\";
    text += path;
    text += "]\n";
    for (::DWORD index = 0;; ++index) {
        char name[16384];
        ::DWORD name_size = sizeof name;
        ::DWORD type = 0;
        ::DWORD size = 0;
        if (::RegEnumValueA(key, index, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<unsigned char> data(size);
        name_size = sizeof name;
        if (::RegEnumValueA(key, index, name, &name_size, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            continue;
        }
        data.resize(size);
        text += ValueLine(std::string(name, name_size), type, data);
        text += '\n';
    }
    ::RegCloseKey(key);
}

}  // namespace

namespace win {

bool RegistryDumpText(std::string& text, std::string& error) {
    text.clear();
    error.clear();
    DumpKey("Control Panel\\Desktop", text);
    text += '\n';
    DumpKey("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", text);
    return true;
}

}  // namespace win
