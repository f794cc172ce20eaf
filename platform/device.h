// Device control: DeviceIoControl, CTL_CODE and its METHOD_ / FILE_
// constants. Devices are opened with CreateFileA on "\\.\NAME"
// (platform/files.h) and closed with CloseHandle.
//
// Simulated host: a device exists only while the state directory holds
// "devices/NAME". Every request to it is appended as one line to
// "devices.log" in the state directory:
//     NAME code=0xCCCCCCCC in=HEX
// (HEX: the input bytes, two lower-case digits each, empty for none). The
// request succeeds with no output bytes; tests make it fail through the
// fault switch (platform/test_hooks.h).
#pragma once

#include "platform/files.h"
#include "platform/types.h"

namespace win {

inline constexpr DWORD METHOD_BUFFERED = 0;
inline constexpr DWORD METHOD_IN_DIRECT = 1;
inline constexpr DWORD METHOD_OUT_DIRECT = 2;
inline constexpr DWORD METHOD_NEITHER = 3;

inline constexpr DWORD FILE_ANY_ACCESS = 0;
inline constexpr DWORD FILE_READ_ACCESS = 1;
inline constexpr DWORD FILE_WRITE_ACCESS = 2;

inline constexpr DWORD ERROR_GEN_FAILURE = 31;

constexpr DWORD CTL_CODE(DWORD device_type, DWORD function, DWORD method, DWORD access) {
    return (device_type << 16) | (access << 14) | (function << 2) | method;
}

// Synchronous only: `overlapped` must be null. *bytes_returned (may be
// null) receives the output byte count.
BOOL DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                     LPVOID out_buffer, DWORD out_buffer_size, DWORD* bytes_returned, LPOVERLAPPED overlapped);

}  // namespace win
