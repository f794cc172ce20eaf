// The computer's name: the real call.
#include "platform/computer_name.h"

#include <windows.h>

namespace win {

BOOL GetComputerNameA(LPSTR buffer, DWORD* size) {
    return ::GetComputerNameA(buffer, reinterpret_cast<LPDWORD>(size));
}

}  // namespace win
