// Debugger output: the real call.
#include "platform/debug_output.h"

#include <windows.h>

namespace win {

void OutputDebugStringA(LPCSTR text) { ::OutputDebugStringA(text); }

}  // namespace win
