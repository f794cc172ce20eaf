#include "platform/environment.h"
#include "platform/test_hooks.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace win {

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    VD_FAIL_POINT(0);
    return ::GetEnvironmentVariableA(name, buffer, size);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    VD_FAIL_POINT(FALSE);
    if (!::SetEnvironmentVariableA(name, value)) return FALSE;
    // Keep the C runtime's copy (getenv) in step; "NAME=" removes it there.
    std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
    ::_putenv(entry.c_str());
    return TRUE;
}

}  // namespace win
