// Initialisation files: the real calls.
#include "platform/profile.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

DWORD sys::GetPrivateProfileStringA(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned,
                                    DWORD size, LPCSTR file_name) {
    return ::GetPrivateProfileStringA(app_name, key_name, default_value, returned, size, file_name);
}

UINT sys::GetPrivateProfileIntA(LPCSTR app_name, LPCSTR key_name, INT default_value, LPCSTR file_name) {
    return ::GetPrivateProfileIntA(app_name, key_name, default_value, file_name);
}

}  // namespace win
