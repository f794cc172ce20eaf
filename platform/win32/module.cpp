#include "platform/module.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

HMODULE GetModuleHandleA(LPCSTR module_name) {
    VD_FAIL_POINT(nullptr);
    return ::GetModuleHandleA(module_name);
}

}  // namespace win
