#include "platform/system_params.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

BOOL sys::SystemParametersInfoA(UINT action, UINT ui_param, LPVOID pv_param, UINT win_ini) {
    return ::SystemParametersInfoA(action, ui_param, pv_param, win_ini);
}

HWND GetDesktopWindow() { return reinterpret_cast<HWND>(::GetDesktopWindow()); }

LRESULT SendMessageA(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    return ::SendMessageA(reinterpret_cast<::HWND>(window), message, w_param, l_param);
}

}  // namespace win
