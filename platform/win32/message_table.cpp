#include "platform/message_table.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

HMODULE LoadLibraryExA(LPCSTR file_name, HANDLE file, DWORD flags) {
    VD_FAIL_POINT(nullptr);
    return reinterpret_cast<HMODULE>(::LoadLibraryExA(file_name, file, flags));
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments) {
    VD_FAIL_POINT(0);
    return ::FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
}

}  // namespace win
