// Screen-saver settings of the simulated host, kept in the simulated
// registry under HKEY_CURRENT_USER "Control Panel\Desktop" as Windows keeps
// them; starting the screen saver is recorded in "screensaver.log".
#include "platform/system_params.h"
#include "platform/fault_points.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/error.h"
#include "platform/simulated/host_state.h"
#include "platform/registry.h"

namespace win {

namespace {

constexpr char kDesktopKey[] = "Control Panel\\Desktop";
constexpr UINT kDefaultTimeout = 900;

// The value as text, or `fallback` when the key or value is missing or not
// a text.
std::string ReadText(const char* name, const char* fallback) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return fallback;
    char buffer[64] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return fallback;
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

bool WriteText(const char* name, const std::string& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

BOOL Store(UINT value, LPVOID pv_param) {
    if (pv_param == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<UINT*>(pv_param) = value;
    return TRUE;
}

BOOL Written(bool ok) {
    if (!ok) SetLastError(ERROR_ACCESS_DENIED);
    return ok ? TRUE : FALSE;
}

UINT Flag(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10) != 0 ? 1 : 0; }

struct DesktopWindow {
    int tag = 0;
};
DesktopWindow desktop_window;

}  // namespace

BOOL sys::SystemParametersInfoA(UINT action, UINT ui_param, LPVOID pv_param, UINT win_ini) {
    switch (action) {
        case SPI_GETSCREENSAVEACTIVE: return Store(Flag(ReadText("ScreenSaveActive", "0")), pv_param);
        case SPI_SETSCREENSAVEACTIVE: return Written(WriteText("ScreenSaveActive", ui_param != 0 ? "1" : "0"));
        case SPI_GETSCREENSAVETIMEOUT: {
            std::string text = ReadText("ScreenSaveTimeOut", "");
            char* end = nullptr;
            unsigned long v = std::strtoul(text.c_str(), &end, 10);
            return Store(end != text.c_str() ? static_cast<UINT>(v) : kDefaultTimeout, pv_param);
        }
        case SPI_SETSCREENSAVETIMEOUT: return Written(WriteText("ScreenSaveTimeOut", std::to_string(ui_param)));
        case SPI_GETSCREENSAVESECURE: return Store(Flag(ReadText("ScreenSaverIsSecure", "0")), pv_param);
        case SPI_SETSCREENSAVESECURE: return Written(WriteText("ScreenSaverIsSecure", ui_param != 0 ? "1" : "0"));
        default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
}

HWND GetDesktopWindow() { return reinterpret_cast<HWND>(&desktop_window); }

LRESULT SendMessageA(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (window == GetDesktopWindow() && message == WM_SYSCOMMAND && (w_param & 0xFFF0) == SC_SCREENSAVE) {
        host::AppendLine("screensaver.log", "screensaver start");
    }
    return 0;
}

}  // namespace win
