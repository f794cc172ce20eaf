// System and process information: the real calls.
#include "platform/system_info.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    VD_FAIL_POINT(0);
    return ::GetSystemDirectoryA(buffer, size);
}

LPSTR GetCommandLineA() { return ::GetCommandLineA(); }

DWORD GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size) {
    VD_FAIL_POINT(0);
    return ::GetModuleFileNameA(static_cast<::HMODULE>(module), file_name, size);
}

DWORD GetFileVersionInfoSizeA(LPCSTR file_name, DWORD* handle) {
    VD_FAIL_POINT(0);
    return ::GetFileVersionInfoSizeA(file_name, reinterpret_cast<LPDWORD>(handle));
}

BOOL GetFileVersionInfoA(LPCSTR file_name, DWORD handle, DWORD length, LPVOID data) {
    VD_FAIL_POINT(FALSE);
    return ::GetFileVersionInfoA(file_name, handle, length, data);
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, UINT* length) {
    VD_FAIL_POINT(FALSE);
    return ::VerQueryValueA(block, sub_block, buffer, reinterpret_cast<PUINT>(length));
}

}  // namespace win
