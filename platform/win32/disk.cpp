#include "platform/disk.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

static_assert(sizeof(win::ULARGE_INTEGER) == sizeof(::ULARGE_INTEGER));

BOOL GetDiskFreeSpaceExA(LPCSTR directory_name, ULARGE_INTEGER* free_bytes_available_to_caller,
                         ULARGE_INTEGER* total_number_of_bytes, ULARGE_INTEGER* total_number_of_free_bytes) {
    VD_FAIL_POINT(FALSE);
    return ::GetDiskFreeSpaceExA(directory_name, reinterpret_cast<::PULARGE_INTEGER>(free_bytes_available_to_caller),
                                 reinterpret_cast<::PULARGE_INTEGER>(total_number_of_bytes),
                                 reinterpret_cast<::PULARGE_INTEGER>(total_number_of_free_bytes));
}

}  // namespace win
