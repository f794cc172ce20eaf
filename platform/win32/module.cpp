#include "platform/module.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

HMODULE sys::GetModuleHandleA(LPCSTR module_name) {
    return ::GetModuleHandleA(module_name);
}

}  // namespace win
