// Disk space: GetDiskFreeSpaceExA.
//
// Simulated host: the directory is a Windows path ("C:\", "D:\dir"); its
// drive letter maps to a host directory as in platform/files.h (C: is "/"
// unless "drives.txt" maps it) and the figures come from statvfs of that
// directory. A test controls the figures through the state directory's
// "diskspace.txt": each line is a drive letter and ":", then either three
// byte counts (free to the caller, total, total free; the third may be left
// out and then equals the first). A listed drive needs no mapping.
// Blank lines and lines starting with "#" are ignored.
#pragma once

#include "platform/types.h"

namespace win {

// Nonzero on success; each output pointer may be null. FALSE with
// ERROR_PATH_NOT_FOUND (no such drive or directory), ERROR_NOT_READY (no
// medium) or ERROR_INVALID_PARAMETER (null or malformed path).
BOOL GetDiskFreeSpaceExA(LPCSTR directory_name, ULARGE_INTEGER* free_bytes_available_to_caller,
                         ULARGE_INTEGER* total_number_of_bytes, ULARGE_INTEGER* total_number_of_free_bytes);

}  // namespace win
