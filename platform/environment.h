// Process environment: GetEnvironmentVariableA, SetEnvironmentVariableA.
#pragma once

#include "platform/types.h"

namespace win {

inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

// Copies the value with its terminator into `buffer` and returns its length
// (without the terminator). When `size` is too small nothing is copied and
// the result is the size needed, terminator included. An absent variable
// gives 0 with GetLastError ERROR_ENVVAR_NOT_FOUND; an empty value gives 0
// with the last error left at ERROR_SUCCESS.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

// Sets the variable, or removes it when `value` is null. Also updates the C
// runtime's copy (getenv) so both views agree.
BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

}  // namespace win
