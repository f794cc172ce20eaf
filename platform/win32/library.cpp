#include "platform/library.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

HMODULE LoadLibraryA(LPCSTR file_name) {
    VD_FAIL_POINT(nullptr);
    return reinterpret_cast<HMODULE>(::LoadLibraryA(file_name));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name) {
    VD_FAIL_POINT(nullptr);
    return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), proc_name));
}

BOOL FreeLibrary(HMODULE module) {
    VD_FAIL_POINT(FALSE);
    return ::FreeLibrary(static_cast<::HMODULE>(module));
}

}  // namespace win
