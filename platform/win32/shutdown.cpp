// The real exit and lock calls (test builds can replace them at run time:
// platform/test_hooks.h).
#include "platform/shutdown.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

BOOL sys::ExitWindowsEx(UINT flags, DWORD reason) {
    return ::ExitWindowsEx(flags, reason);
}

BOOL sys::LockWorkStation() {
    return ::LockWorkStation();
}

}  // namespace win
