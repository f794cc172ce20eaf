#include "platform/handle.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

BOOL sys::CloseHandle(HANDLE handle) {
    return ::CloseHandle(handle);
}

}  // namespace win
