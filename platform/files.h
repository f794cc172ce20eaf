// Files, directories and drives: CreateFileA, ReadFile, WriteFile,
// DeleteFileA, MoveFileExA, CreateDirectoryA, RemoveDirectoryA, FindFirstFileA,
// FindNextFileA, FindClose, GetFileAttributesA, GetLogicalDrives,
// FileTimeToSystemTime, GetCurrentDirectoryA, SetCurrentDirectoryA,
// GetTempPathA, GetTempFileNameA, and crt_fopen for C runtime streams.
//
// Paths are Windows paths ("C:\dir\file", "\dir", "dir\file",
// "\\host\share\file", "\\.\DEVICE"); "/" is accepted as a separator.
//
// Simulated host: drive letters map to host directories. C: is "/" unless
// the state directory's file "drives.txt" says otherwise; each of its lines
// is a letter, ":", blanks and a host directory, e.g.
//     D: /srv/data
// (blank lines and lines starting with "#" are ignored). A rooted path
// without a drive ("\dir") is on drive C; a relative path is relative to the
// host's working directory. GetLogicalDrives reports C and every mapped
// letter. Network paths ("\\host\...") do not exist on the simulated host.
// Device paths "\\.\NAME" exist only while the state directory holds the
// file "devices/NAME" (see platform/simulated/host_device.h).
#pragma once

#include <cstdio>

#include "platform/time_types.h"
#include "platform/types.h"

namespace win {

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// Asynchronous I/O is not used: the OVERLAPPED argument must be null.
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};
static_assert(sizeof(WIN32_FIND_DATAA) == 320);

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;

inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// INVALID_HANDLE_VALUE on failure (GetLastError: ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_FILE_EXISTS, ERROR_ACCESS_DENIED, ...).
// The handle is closed with CloseHandle.
HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, DWORD* bytes_read,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, DWORD* bytes_written,
               LPOVERLAPPED overlapped);

BOOL DeleteFileA(LPCSTR file_name);

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;

// Renames a file; with MOVEFILE_REPLACE_EXISTING an existing target file is
// replaced (a directory never is).
BOOL MoveFileExA(LPCSTR existing_name, LPCSTR new_name, DWORD flags);

// FALSE with ERROR_ALREADY_EXISTS when the directory exists,
// ERROR_PATH_NOT_FOUND when its parent does not.
BOOL CreateDirectoryA(LPCSTR path_name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR path_name);

// Pattern in the last component: "*" and "?" wildcards ("*.*" matches every
// name). INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when nothing
// matches; FindNextFileA gives FALSE with ERROR_NO_MORE_FILES at the end.
HANDLE FindFirstFileA(LPCSTR file_name, WIN32_FIND_DATAA* find_data);
BOOL FindNextFileA(HANDLE find_file, WIN32_FIND_DATAA* find_data);
BOOL FindClose(HANDLE find_file);

// INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD GetFileAttributesA(LPCSTR file_name);

// Bit 0 = A: ... bit 25 = Z:.
DWORD GetLogicalDrives();

// UTC file time to calendar time; FALSE for a time past year 30827.
BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);

// Length copied (without terminator), or the size needed (with terminator)
// when `size` is too small, or 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path_name);

// The directory for temporary files, ending with "\"; same result rules as
// GetCurrentDirectoryA.
DWORD GetTempPathA(DWORD size, LPSTR buffer);

// Writes "<path>\<prefix up to 3 chars><hex>.tmp" into `temp_file_name`
// (MAX_PATH bytes) and, when `unique` is 0, creates the empty file. Returns
// the number used, 0 on failure.
UINT GetTempFileNameA(LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name);

// C runtime stream of a Windows path (fopen on Windows; on the simulated
// host the translated host file). Null on failure.
std::FILE* crt_fopen(LPCSTR file_name, const char* mode);

}  // namespace win
