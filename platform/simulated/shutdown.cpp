// Exit and lock on the simulated host: recorded as lines of "shutdown.log"
// in the state directory, never carried out.
#include "platform/shutdown.h"
#include "platform/test_hooks.h"

#include <cstdio>

#include "platform/simulated/host_state.h"

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
    char line[64];
    std::snprintf(line, sizeof line, "exitwindows flags=0x%02X reason=0x%08X", static_cast<unsigned>(flags),
                  static_cast<unsigned>(reason));
    host::AppendLine("shutdown.log", line);
    return TRUE;
}

BOOL LockWorkStation() {
    VD_FAIL_POINT(FALSE);
#if defined(VD_TEST_SEAMS)
    if (test_hooks_set) return test_hooks.lock_workstation != nullptr ? test_hooks.lock_workstation() : TRUE;
#endif
    host::AppendLine("shutdown.log", "lock");
    return TRUE;
}

}  // namespace win
