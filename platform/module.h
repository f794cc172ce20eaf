// Loaded modules: GetModuleHandleA.
//
// The simulated host maps a Windows module name as LoadLibraryA does
// ("VDKERNEL" or "VDKERNEL.dll" -> libvdkernel.so) and answers whether that
// library is loaded in the process.
#pragma once

#include "platform/library.h"
#include "platform/types.h"

namespace win {

// The module of a library already loaded in the process (null: the
// program itself), without loading anything; null with ERROR_MOD_NOT_FOUND
// when it is not loaded.
HMODULE GetModuleHandleA(LPCSTR module_name);

}  // namespace win
