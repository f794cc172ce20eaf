// The real exit and lock calls. Objects compiled with VD_TEST_SEAMS (the
// unit tests' own copy of this file) can divert them to recording hooks, so
// tests under a Windows emulation never leave the session.
#include "platform/shutdown.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

#if defined(VD_TEST_SEAMS)
namespace {
ShutdownTestHooks test_hooks{};
bool test_hooks_set = false;
}  // namespace

void SetShutdownTestHooks(const ShutdownTestHooks* hooks) {
    test_hooks_set = hooks != nullptr;
    if (hooks != nullptr) test_hooks = *hooks;
}
#endif

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
    VD_FAIL_POINT(FALSE);
#if defined(VD_TEST_SEAMS)
    if (test_hooks_set) return test_hooks.exit_windows != nullptr ? test_hooks.exit_windows(flags, reason) : TRUE;
#endif
    return ::ExitWindowsEx(flags, reason);
}

BOOL LockWorkStation() {
    VD_FAIL_POINT(FALSE);
#if defined(VD_TEST_SEAMS)
    if (test_hooks_set) return test_hooks.lock_workstation != nullptr ? test_hooks.lock_workstation() : TRUE;
#endif
    return ::LockWorkStation();
}

}  // namespace win
