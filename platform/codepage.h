// Code pages: GetACP, GetOEMCP, IsDBCSLeadByte, and the conversions between
// a code page and UTF-16, MultiByteToWideChar and WideCharToMultiByte.
//
// The simulated host reads its code pages from the file "codepages" of the
// host state directory (lines "ACP=<n>" and "OEMCP=<n>"); without it the
// ANSI code page is 1252 and the OEM code page 437. The values are read at
// first use and stay for the process, as on Windows. It converts the code
// pages 1252, 437, 850 and 65001 (UTF-8), without look-alike ("best fit")
// replacements; any other code page is not installed there.
#pragma once

#include "platform/types.h"

namespace win {

// A UTF-16 code unit (wchar_t on Windows, of the same size).
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPBOOL = BOOL*;

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_OEMCP = 1;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD MB_PRECOMPOSED = 0x01;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

UINT GetACP();
UINT GetOEMCP();

// Whether the byte can be the first byte of a double-byte character in the
// ANSI code page.
BOOL IsDBCSLeadByte(BYTE test_char);

// `cbMultiByte` bytes of `lpMultiByteStr` (-1: up to and with its zero
// byte) in code page `CodePage` (CP_ACP, CP_OEMCP or a number) as UTF-16.
// The number of units written, or with `cchWideChar` 0 the number needed;
// 0 on failure: ERROR_INVALID_PARAMETER (no text, an empty one, a code page
// not installed), ERROR_INVALID_FLAGS, ERROR_INSUFFICIENT_BUFFER, and
// ERROR_NO_UNICODE_TRANSLATION with MB_ERR_INVALID_CHARS when a byte
// sequence is invalid in the code page (without it: U+FFFD).
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);

// `cchWideChar` units of UTF-16 (-1: with its zero unit) in code page
// `CodePage`. The number of bytes written, or with `cbMultiByte` 0 the
// number needed; 0 on failure as above. A character the code page lacks
// becomes the first byte of `lpDefaultChar` (null: "?") and sets
// `*lpUsedDefaultChar`; with WC_NO_BEST_FIT_CHARS it is never replaced by a
// look-alike. For CP_UTF8 the flags are 0 or WC_ERR_INVALID_CHARS (a lone
// surrogate fails instead of becoming U+FFFD) and both default arguments
// must be null.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

}  // namespace win

namespace win::host {

// Reads the simulated host's code pages again (after a test changed the
// state file). Nothing on Windows.
void ReloadCodePages();

}  // namespace win::host
