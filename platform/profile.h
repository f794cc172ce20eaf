// Initialisation files: GetPrivateProfileStringA, GetPrivateProfileIntA.
//
// File form: sections "[name]", lines "key=value"; section and key names
// compare without regard to case, the first matching section and the first
// matching key in it win; blanks around names and values are dropped; a
// value enclosed in a pair of matching quotes (double or single) loses
// them; lines starting with ";" are comments; a "[" line without its "]"
// starts no section; keys before the first section belong to none. A
// missing file reads as empty.
//
// Simulated host: a reader with exactly these rules over the host file of
// the path (drive letters as in platform/files.h).
#pragma once

#include "platform/types.h"

namespace win {

// Copies the value of `key_name` in section `app_name` into `returned`
// (`size` bytes) and returns the number of characters copied, without the
// terminator. Missing file, section or key: `default_value` (null = "",
// trailing blanks dropped) with ERROR_FILE_NOT_FOUND as the last error. A
// value that does not fit is cut to size-1 characters and the result is
// size-1.
// Null `key_name`: every key of the section; null `app_name`: every section
// name; each name ends in a zero and the list in one more zero. A list that
// does not fit is cut, ends in two zeros, and the result is size-2.
// Size 0 or a null buffer copies nothing and returns 0.
DWORD GetPrivateProfileStringA(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name);

// The value as a decimal integer (leading blanks, an optional sign, the
// digits up to the first other character; 0 when there are none), or
// `default_value` when the key is missing or empty.
UINT GetPrivateProfileIntA(LPCSTR app_name, LPCSTR key_name, INT default_value, LPCSTR file_name);

}  // namespace win
