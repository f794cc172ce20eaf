// Kernel object handles: CloseHandle for every handle the platform layer
// hands out (files, devices, semaphores, ...).
#pragma once

#include "platform/types.h"

namespace win {

BOOL CloseHandle(HANDLE handle);

}  // namespace win
