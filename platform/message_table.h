// Message tables of a library: LoadLibraryExA as a data file and
// FormatMessageA from that module. Used to check the event message library
// renders the task's events; the task itself never loads it.
//
// The simulated host has no message tables: LoadLibraryExA returns null
// with ERROR_NOT_SUPPORTED.
#pragma once

#include <cstdarg>

#include "platform/library.h"
#include "platform/types.h"

namespace win {

inline constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;

HMODULE LoadLibraryExA(LPCSTR file_name, HANDLE file, DWORD flags);

// Writes at most `size` characters including the terminating zero; returns
// the count written without it, 0 on failure.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments);

}  // namespace win
