#include "platform/disk.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

static_assert(sizeof(win::ULARGE_INTEGER) == sizeof(::ULARGE_INTEGER));

BOOL sys::GetDiskFreeSpaceExA(LPCSTR directory_name, ULARGE_INTEGER* free_bytes_available_to_caller,
                              ULARGE_INTEGER* total_number_of_bytes, ULARGE_INTEGER* total_number_of_free_bytes) {
    return ::GetDiskFreeSpaceExA(directory_name, reinterpret_cast<::PULARGE_INTEGER>(free_bytes_available_to_caller),
                                 reinterpret_cast<::PULARGE_INTEGER>(total_number_of_bytes),
                                 reinterpret_cast<::PULARGE_INTEGER>(total_number_of_free_bytes));
}

}  // namespace win
