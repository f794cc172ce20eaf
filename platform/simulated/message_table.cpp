#include "platform/message_table.h"
#include "platform/fault_points.h"

#include "platform/error.h"

namespace win {

HMODULE sys::LoadLibraryExA(LPCSTR, HANDLE, DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

DWORD sys::FormatMessageA(DWORD, const void*, DWORD, DWORD, LPSTR buffer, DWORD size, va_list*) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

}  // namespace win
