#include "platform/device.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

BOOL sys::DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                          LPVOID out_buffer, DWORD out_buffer_size, DWORD* bytes_returned, LPOVERLAPPED overlapped) {
    ::DWORD done = 0;
    BOOL ok = ::DeviceIoControl(device, io_control_code, in_buffer, in_buffer_size, out_buffer, out_buffer_size,
                                &done, reinterpret_cast<::LPOVERLAPPED>(overlapped));
    if (bytes_returned != nullptr) *bytes_returned = done;
    return ok;
}

}  // namespace win
