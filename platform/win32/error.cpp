#include "platform/error.h"

#include <windows.h>

namespace win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

}  // namespace win
