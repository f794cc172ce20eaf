#include "platform/module.h"

#include <windows.h>

namespace win {

HMODULE GetModuleHandleA(LPCSTR module_name) { return ::GetModuleHandleA(module_name); }

}  // namespace win
