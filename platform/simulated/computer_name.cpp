// The computer's name on the simulated host: the machine's host name.
#include "platform/computer_name.h"

#include <unistd.h>

#include <cstring>

#include "platform/error.h"

namespace win {

BOOL GetComputerNameA(LPSTR buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    name[strcspn(name, ".")] = '\0';
    DWORD length = static_cast<DWORD>(std::strlen(name));
    if (length + 1 > *size) {
        *size = length + 1;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(buffer, name, length + 1);
    *size = length;
    return TRUE;
}

}  // namespace win
