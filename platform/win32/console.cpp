#include "platform/console.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

BOOL SetConsoleOutputCP(UINT code_page) {
    VD_FAIL_POINT(FALSE);
    return ::SetConsoleOutputCP(code_page);
}
BOOL SetConsoleCP(UINT code_page) {
    VD_FAIL_POINT(FALSE);
    return ::SetConsoleCP(code_page);
}
UINT GetConsoleCP() {
    VD_FAIL_POINT(0);
    return ::GetConsoleCP();
}
UINT GetConsoleOutputCP() {
    VD_FAIL_POINT(0);
    return ::GetConsoleOutputCP();
}

}  // namespace win
