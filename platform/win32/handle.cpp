#include "platform/handle.h"

#include <windows.h>

namespace win {

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace win
