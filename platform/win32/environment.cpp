#include "platform/environment.h"
#include "platform/fault_points.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace win {

DWORD sys::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    return ::GetEnvironmentVariableA(name, buffer, size);
}

BOOL sys::SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
    if (!::SetEnvironmentVariableA(name, value)) return FALSE;
    // Keep the C runtime's copy (getenv) in step; "NAME=" removes it there.
    std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
    ::_putenv(entry.c_str());
    return TRUE;
}

}  // namespace win
