#include "platform/message_table.h"
#include "platform/test_hooks.h"

#include "platform/error.h"

namespace win {

HMODULE LoadLibraryExA(LPCSTR, HANDLE, DWORD) {
    VD_FAIL_POINT(nullptr);
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, LPSTR buffer, DWORD size, va_list*) {
    VD_FAIL_POINT(0);
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

}  // namespace win
