// Simulated host: the registry file "registry.txt" of the state directory.
//
// One readable text file. Blank lines and lines starting with "#" are
// ignored. A key starts with its full path in brackets, the root by its
// Windows name:
//     [HKEY_CURRENT_USER\Control Panel\Desktop]
// followed by its values, one a line, name in quotes, "=", type and data:
//     "ScreenSaveActive"=sz:"1"              REG_SZ (the terminating zero implied)
//     "Path"=expand_sz:"%SystemRoot%\x5c"    REG_EXPAND_SZ
//     "List"=multi_sz:"one","two"            REG_MULTI_SZ
//     "Count"=dword:0000000a                 REG_DWORD (4 bytes, little-endian)
//     "Blob"=hex:01,02,ff                    REG_BINARY
//     "Odd"=hex(11):00,01                    any type number with raw bytes
// Quoted texts escape "\" and '"' with a backslash and any other byte below
// 0x20 or above 0x7E as \xHH; key paths write such bytes, "%", "[" and "]"
// as %HH. "" is the key's default value. Key and value names compare
// case-insensitively (ASCII), and a key's parents exist implicitly.
// The canonical form written back lists the keys in order, each key with
// values or without subkeys, and uses the plain forms above only when they
// give back the stored bytes exactly (else hex(N)).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace win::host {

struct RegistryValue {
    std::string name;
    DWORD type = 0;
    std::string data;  // raw bytes
};

struct RegistryKey {
    std::string path;  // "HKEY_CURRENT_USER\Control Panel\Desktop", case as created
    std::vector<RegistryValue> values;
};

// Orders paths so that a key's subkeys follow it directly ("\\" sorts
// before every other character).
struct PathLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// Keys by their lower-case path; the four roots are always present.
struct RegistryData {
    std::map<std::string, RegistryKey, PathLess> keys;
};

// The empty registry: the four roots.
RegistryData EmptyRegistry();

// False with "line N: reason" in `error` for a malformed text; `data` is
// then unspecified.
bool ParseRegistry(std::string_view text, RegistryData& data, std::string& error);

// The canonical text of `data`.
std::string FormatRegistry(const RegistryData& data);

// Host path of the registry file.
std::string RegistryFile();

// The current registry in canonical form; false with the file name and
// reason in `error` when the file is unreadable or malformed.
bool DumpRegistry(std::string& text, std::string& error);

}  // namespace win::host
