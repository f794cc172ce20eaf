// System parameters and window messages: SystemParametersInfoA for the
// screen-saver settings, GetDesktopWindow, SendMessageA.
//
// Simulated host: the screen-saver settings live where Windows keeps them,
// in the simulated registry under HKEY_CURRENT_USER "Control Panel\Desktop":
// "ScreenSaveActive" ("1" / "0"), "ScreenSaveTimeOut" (seconds as text,
// 900 when absent) and "ScreenSaverIsSecure" ("1" / "0"), all REG_SZ.
// Starting the screen saver (WM_SYSCOMMAND / SC_SCREENSAVE to the desktop
// window) appends the line "screensaver start" to "screensaver.log" in the
// state directory.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace win {

struct HWND__;
using HWND = HWND__*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT SPI_GETSCREENSAVETIMEOUT = 14;
inline constexpr UINT SPI_SETSCREENSAVETIMEOUT = 15;
inline constexpr UINT SPI_GETSCREENSAVEACTIVE = 16;
inline constexpr UINT SPI_SETSCREENSAVEACTIVE = 17;
inline constexpr UINT SPI_GETSCREENSAVESECURE = 0x0076;
inline constexpr UINT SPI_SETSCREENSAVESECURE = 0x0077;

inline constexpr UINT SPIF_UPDATEINIFILE = 0x1;
inline constexpr UINT SPIF_SENDCHANGE = 0x2;

inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr WPARAM SC_SCREENSAVE = 0xF140;

// Nonzero on success. The GET actions write a 32-bit value (BOOL or
// seconds) through `pv_param`, which must not be null (FALSE with
// ERROR_INVALID_PARAMETER); the SET actions take the value in `ui_param`.
// Any other action: FALSE with ERROR_INVALID_PARAMETER on the simulated
// host.
BOOL SystemParametersInfoA(UINT action, UINT ui_param, LPVOID pv_param, UINT win_ini);

HWND GetDesktopWindow();

LRESULT SendMessageA(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

}  // namespace win
