#include "platform/codepage.h"

#include "platform/error.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

static_assert(sizeof(wchar_t) == sizeof(WCHAR), "UTF-16 units are wchar_t on Windows");

UINT GetACP() { return ::GetACP(); }
UINT GetOEMCP() { return ::GetOEMCP(); }
BOOL IsDBCSLeadByte(BYTE test_char) { return ::IsDBCSLeadByte(test_char); }

int sys::MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                             int cchWideChar) {
    return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte,
                                 reinterpret_cast<wchar_t*>(lpWideCharStr), cchWideChar);
}

int sys::WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                             int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    return ::WideCharToMultiByte(CodePage, dwFlags, reinterpret_cast<const wchar_t*>(lpWideCharStr), cchWideChar,
                                 lpMultiByteStr, cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
}

}  // namespace win

namespace win::host {

void ReloadCodePages() {}

}  // namespace win::host
