// Thread-local last-error value, as GetLastError / SetLastError on Windows.
#pragma once

#include "platform/types.h"

namespace win {

DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace win
