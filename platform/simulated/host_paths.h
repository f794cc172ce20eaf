// Simulated host: Windows paths to host paths, by the drive mapping of the
// state directory's "drives.txt" (see platform/files.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace win::host {

// Host directory of a drive letter (any case), or empty when the drive does
// not exist. C: is "/" unless drives.txt maps it.
std::string DriveDirectory(char letter);

// GetLogicalDrives' mask: C plus every mapped letter.
DWORD DriveMask();

// Host path of a Windows path. False (with the last error set to
// ERROR_PATH_NOT_FOUND or ERROR_INVALID_NAME) for a missing drive, a
// network path or a device path.
bool ToHostPath(std::string_view windows_path, std::string& host_path);

// Windows form of an absolute host path, through the drive whose directory
// is the longest prefix of it (C: covers everything while it is "/").
std::string ToWindowsPath(std::string_view host_path);

// The name after "\\.\" when the path is a device path, else empty.
std::string DeviceName(std::string_view windows_path);

}  // namespace win::host
