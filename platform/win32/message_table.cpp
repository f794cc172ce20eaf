#include "platform/message_table.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

HMODULE sys::LoadLibraryExA(LPCSTR file_name, HANDLE file, DWORD flags) {
    return reinterpret_cast<HMODULE>(::LoadLibraryExA(file_name, file, flags));
}

DWORD sys::FormatMessageA(DWORD flags, const void* source, DWORD message_id, DWORD language_id, LPSTR buffer,
                          DWORD size, va_list* arguments) {
    return ::FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
}

}  // namespace win
