// The computer's name: GetComputerNameA.
//
// Simulated host: the host name of the machine (gethostname), cut at the
// first dot.
#pragma once

#include "platform/types.h"

namespace win {

inline constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;

// Copies the name into `buffer` (*size characters with the terminator)
// and sets *size to its length. FALSE when it does not fit (*size is then
// the size needed, last error ERROR_BUFFER_OVERFLOW) or cannot be read.
BOOL GetComputerNameA(LPSTR buffer, DWORD* size);

}  // namespace win
