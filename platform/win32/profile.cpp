// Initialisation files: the real calls.
#include "platform/profile.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

DWORD GetPrivateProfileStringA(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name) {
    VD_FAULT_ENTRY();
#if defined(VD_TEST_HOOKS)
    // A read that fails gives what an unreadable file gives.
    if (VD_FAULT_HIT()) {
        DWORD n = test::UnreadableProfileString(app_name, key_name, default_value, returned, size);
        SetLastError(VD_FAULT_ERROR());
        return n;
    }
#endif
    return ::GetPrivateProfileStringA(app_name, key_name, default_value, returned, size, file_name);
}

UINT GetPrivateProfileIntA(LPCSTR app_name, LPCSTR key_name, INT default_value, LPCSTR file_name) {
    VD_FAULT_ENTRY();
    if (VD_FAULT_HIT()) {
        SetLastError(VD_FAULT_ERROR());
        return static_cast<UINT>(default_value);
    }
    return ::GetPrivateProfileIntA(app_name, key_name, default_value, file_name);
}

}  // namespace win
