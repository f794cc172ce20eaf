// Console code pages: SetConsoleOutputCP, SetConsoleCP, GetConsoleCP,
// GetConsoleOutputCP.
//
// The simulated host has a console whose code pages start at the host's
// OEM code page (codepage.h) and accept 437, 850, 852, 866, 874, 932, 936,
// 949, 950, 1250-1258, 20127, 28591, 65001; any other value fails with
// ERROR_INVALID_PARAMETER.
#pragma once

#include "platform/types.h"

namespace win {

BOOL SetConsoleOutputCP(UINT code_page);
BOOL SetConsoleCP(UINT code_page);
// 0 when the process has no console.
UINT GetConsoleCP();
UINT GetConsoleOutputCP();

}  // namespace win
