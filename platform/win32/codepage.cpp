#include "platform/codepage.h"

#include "platform/error.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

static_assert(sizeof(wchar_t) == sizeof(WCHAR), "UTF-16 units are wchar_t on Windows");

UINT GetACP() { return ::GetACP(); }
UINT GetOEMCP() { return ::GetOEMCP(); }
BOOL IsDBCSLeadByte(BYTE test_char) { return ::IsDBCSLeadByte(test_char); }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
    VD_FAIL_POINT(0);
    return ::MultiByteToWideChar(CodePage, dwFlags, lpMultiByteStr, cbMultiByte,
                                 reinterpret_cast<wchar_t*>(lpWideCharStr), cchWideChar);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    VD_FAIL_POINT(0);
    return ::WideCharToMultiByte(CodePage, dwFlags, reinterpret_cast<const wchar_t*>(lpWideCharStr), cchWideChar,
                                 lpMultiByteStr, cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
}

}  // namespace win

namespace win::host {

void ReloadCodePages() {}

}  // namespace win::host
