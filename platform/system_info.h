// System and process information: GetSystemDirectoryA, GetCommandLineA,
// GetModuleFileNameA and the version information of a file
// (GetFileVersionInfoSizeA, GetFileVersionInfoA, VerQueryValueA).
//
// Simulated host: the system directory is "C:\Windows\system32"; the
// command line is the program's arguments, each quoted when it holds a
// blank; the module file name is the Windows form of the program's path;
// no file carries version information.
#pragma once

#include "platform/library.h"
#include "platform/types.h"

namespace win {

inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

// Copies the system directory into `buffer` (`size` characters) and returns
// its length; when it does not fit, returns the size needed (with the
// terminator) and leaves the buffer alone. 0 on failure.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);

// The process's command line; the text stays valid for the process's life.
LPSTR GetCommandLineA();

// Path of the module's file (null: the program). Returns the length copied;
// a path that does not fit is cut to size-1 characters and terminated, the
// result is `size` and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR file_name, DWORD size);

// Size of the version information of a file, 0 when it has none (last
// error ERROR_RESOURCE_TYPE_NOT_FOUND or another code). `handle` (may be
// null) is set to 0.
DWORD GetFileVersionInfoSizeA(LPCSTR file_name, DWORD* handle);

// Copies the version information into `data` (`length` bytes); FALSE when
// the file has none.
BOOL GetFileVersionInfoA(LPCSTR file_name, DWORD handle, DWORD length, LPVOID data);

// Finds a value ("\StringFileInfo\040904B0\LegalTrademarks", ...) inside a
// block of GetFileVersionInfoA; FALSE when it is not there.
BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, UINT* length);

}  // namespace win
