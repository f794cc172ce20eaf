// Simulated host: the state directory that holds the registry file, the
// event log, debugger output and the records of exit, lock and device
// requests, so that a person or a test can inspect them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace win::host {

// $VDHOST, else ".host" under the application directory ($VDAPP), else
// ".host" under the current directory. Created on first use.
std::string StateDir();

// Full path of a file in the state directory.
std::string StatePath(std::string_view name);

// The lines of a file of the state directory (none when it is missing),
// each handed to `line` without its newline; read with plain system calls,
// as the disk and drive figures are read at every call.
void ForEachStateLine(std::string_view file, const std::function<void(std::string_view)>& line);

// Appends one line (a newline is added) to a file of the state directory,
// under an exclusive file lock so lines of several processes never mix.
bool AppendLine(std::string_view file, std::string_view line);

// Writes a whole file atomically: a temporary file in the same directory,
// flushed, then renamed over the target. Returns false on any failure and
// leaves the old file as it was.
bool WriteFileAtomic(const std::string& path, std::string_view content);

}  // namespace win::host
