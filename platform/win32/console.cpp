#include "platform/console.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

BOOL sys::SetConsoleOutputCP(UINT code_page) {
    return ::SetConsoleOutputCP(code_page);
}
BOOL sys::SetConsoleCP(UINT code_page) {
    return ::SetConsoleCP(code_page);
}
UINT sys::GetConsoleCP() {
    return ::GetConsoleCP();
}
UINT sys::GetConsoleOutputCP() {
    return ::GetConsoleOutputCP();
}

}  // namespace win
