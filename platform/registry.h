// Registry: RegOpenKeyExA, RegOpenKeyA, RegCreateKeyExA, RegCreateKeyA,
// RegQueryValueExA, RegSetValueExA, RegDeleteValueA, RegDeleteKeyA,
// RegEnumKeyExA, RegEnumValueA, RegCloseKey.
//
// Every function returns a Win32 error code as LONG (ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...) and, as on Windows, leaves
// GetLastError alone.
//
// Simulated host: the registry is the text file "registry.txt" of the host
// state directory (see platform/simulated/host_registry.h for its form). Key and
// value names are case-insensitive; every change is a read-modify-write of
// the whole file under a file lock, written atomically, so concurrent
// processes never lose an update and readers never see half a file. A file
// that cannot be parsed makes every call fail with ERROR_REGISTRY_CORRUPT and
// is never overwritten.
#pragma once

#include <cstdint>

#include "platform/time_types.h"
#include "platform/types.h"

namespace win {

struct SECURITY_ATTRIBUTES;  // platform/files.h

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

// The predefined keys, with the values Windows gives them (sign-extended).
inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000000u)));
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001u)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000002u)));
inline HKEY const HKEY_USERS =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000003u)));

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyExA options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Registry error codes (winerror.h values) besides those of platform/types.h.
inline constexpr DWORD ERROR_BADDB = 1009;
inline constexpr DWORD ERROR_BADKEY = 1010;
inline constexpr DWORD ERROR_CANTOPEN = 1011;
inline constexpr DWORD ERROR_CANTREAD = 1012;
inline constexpr DWORD ERROR_CANTWRITE = 1013;
inline constexpr DWORD ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;

// Opens an existing key. ERROR_FILE_NOT_FOUND when it does not exist. A null
// or empty subkey opens `key` itself again. Every open and create call
// returns ERROR_INVALID_PARAMETER for a null result pointer, on both sides.
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result);
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Opens a key, creating it and its missing parents when needed;
// `disposition` (may be null) receives REG_CREATED_NEW_KEY or
// REG_OPENED_EXISTING_KEY.
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options,
                     REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result,
                     LPDWORD disposition);
LONG RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Reads a value (null or empty name = the key's default value). `type` and
// `data` may be null; with `data` null only the size is reported in
// `*data_size`. A buffer too small gives ERROR_MORE_DATA with the size needed
// in `*data_size`. ERROR_FILE_NOT_FOUND for a missing value.
LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size);

// Writes a value of any type with the bytes given (for REG_SZ the size
// includes the terminating zero).
LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD data_size);

LONG RegDeleteValueA(HKEY key, LPCSTR value_name);

// Deletes a subkey that has no subkeys of its own (ERROR_ACCESS_DENIED
// otherwise); its values go with it.
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);

// The index-th subkey name (`*name_size` in: buffer size in characters, out:
// length without terminator). ERROR_MORE_DATA when the name does not fit,
// ERROR_NO_MORE_ITEMS past the last. `class_name`, `class_size` and
// `last_write` may be null.
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                   LPSTR class_name, LPDWORD class_size, FILETIME* last_write);

// The index-th value: name as for RegEnumKeyExA, type and data as for
// RegQueryValueExA.
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD data_size);

LONG RegCloseKey(HKEY key);

}  // namespace win
