#include "platform/library.h"

#include <windows.h>

namespace win {

HMODULE LoadLibraryA(LPCSTR file_name) { return reinterpret_cast<HMODULE>(::LoadLibraryA(file_name)); }

FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name) {
    return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), proc_name));
}

BOOL FreeLibrary(HMODULE module) { return ::FreeLibrary(static_cast<::HMODULE>(module)); }

}  // namespace win
