// Leaving Windows and locking the workstation: ExitWindowsEx,
// LockWorkStation.
//
// Simulated host: nothing is shut down, logged off or locked. Each call
// appends one line to "shutdown.log" in the state directory:
// "exitwindows flags=0xFF reason=0xRRRRRRRR" or "lock", and succeeds.
#pragma once

#include "platform/types.h"

namespace win {

inline constexpr UINT EWX_LOGOFF = 0;
inline constexpr UINT EWX_SHUTDOWN = 0x1;
inline constexpr UINT EWX_REBOOT = 0x2;
inline constexpr UINT EWX_FORCE = 0x4;
inline constexpr UINT EWX_POWEROFF = 0x8;

BOOL ExitWindowsEx(UINT flags, DWORD reason);

BOOL LockWorkStation();

}  // namespace win
