// Debugger output: OutputDebugStringA.
//
// Simulated host: each call appends one line to "debug.txt" in the host
// state directory: the text without its final line end ("\n" or "\r\n"),
// other CR and LF characters shown as "\r" and "\n" (and "\" as "\\"), so
// one call is always one line.
#pragma once

#include "platform/types.h"

namespace win {

void OutputDebugStringA(LPCSTR text);

}  // namespace win
