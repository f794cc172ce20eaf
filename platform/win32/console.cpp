#include "platform/console.h"

#include <windows.h>

namespace win {

BOOL SetConsoleOutputCP(UINT code_page) { return ::SetConsoleOutputCP(code_page); }
BOOL SetConsoleCP(UINT code_page) { return ::SetConsoleCP(code_page); }
UINT GetConsoleCP() { return ::GetConsoleCP(); }
UINT GetConsoleOutputCP() { return ::GetConsoleOutputCP(); }

}  // namespace win
