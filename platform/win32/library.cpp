#include "platform/library.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

HMODULE sys::LoadLibraryA(LPCSTR file_name) {
    return reinterpret_cast<HMODULE>(::LoadLibraryA(file_name));
}

FARPROC sys::GetProcAddress(HMODULE module, LPCSTR proc_name) {
    return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), proc_name));
}

BOOL sys::FreeLibrary(HMODULE module) {
    return ::FreeLibrary(static_cast<::HMODULE>(module));
}

}  // namespace win
