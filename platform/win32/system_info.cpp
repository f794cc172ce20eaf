// System and process information: the real calls.
#include "platform/system_info.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

UINT sys::GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return ::GetSystemDirectoryA(buffer, size);
}

LPSTR GetCommandLineA() { return ::GetCommandLineA(); }

DWORD sys::GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size) {
    return ::GetModuleFileNameA(static_cast<::HMODULE>(module), file_name, size);
}

DWORD sys::GetFileVersionInfoSizeA(LPCSTR file_name, DWORD* handle) {
    return ::GetFileVersionInfoSizeA(file_name, reinterpret_cast<::LPDWORD>(handle));
}

BOOL sys::GetFileVersionInfoA(LPCSTR file_name, DWORD handle, DWORD length, LPVOID data) {
    return ::GetFileVersionInfoA(file_name, handle, length, data);
}

BOOL sys::VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, UINT* length) {
    return ::VerQueryValueA(block, sub_block, buffer, reinterpret_cast<PUINT>(length));
}

}  // namespace win
