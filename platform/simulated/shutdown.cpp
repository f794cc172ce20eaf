// Exit and lock on the simulated host: recorded as lines of "shutdown.log"
// in the state directory, never carried out.
#include "platform/shutdown.h"
#include "platform/fault_points.h"

#include <cstdio>

#include "platform/simulated/host_state.h"

namespace win {

BOOL sys::ExitWindowsEx(UINT flags, DWORD reason) {
    char line[64];
    std::snprintf(line, sizeof line, "exitwindows flags=0x%02X reason=0x%08X", static_cast<unsigned>(flags),
                  static_cast<unsigned>(reason));
    host::AppendLine("shutdown.log", line);
    return TRUE;
}

BOOL sys::LockWorkStation() {
    host::AppendLine("shutdown.log", "lock");
    return TRUE;
}

}  // namespace win
