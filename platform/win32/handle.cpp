#include "platform/handle.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

BOOL CloseHandle(HANDLE handle) {
    VD_FAIL_POINT(FALSE);
    return ::CloseHandle(handle);
}

}  // namespace win
