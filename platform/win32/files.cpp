#include "platform/files.h"
#include "platform/fault_points.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace win {

static_assert(sizeof(win::WIN32_FIND_DATAA) == sizeof(::WIN32_FIND_DATAA));
static_assert(offsetof(win::WIN32_FIND_DATAA, cFileName) == offsetof(::WIN32_FIND_DATAA, cFileName));
static_assert(offsetof(win::WIN32_FIND_DATAA, nFileSizeLow) == offsetof(::WIN32_FIND_DATAA, nFileSizeLow));
static_assert(sizeof(win::SECURITY_ATTRIBUTES) == sizeof(::SECURITY_ATTRIBUTES));
static_assert(sizeof(win::FILETIME) == sizeof(::FILETIME));
static_assert(sizeof(win::SYSTEMTIME) == sizeof(::SYSTEMTIME));

HANDLE sys::CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                        LPSECURITY_ATTRIBUTES security, DWORD creation_disposition,
                        DWORD flags_and_attributes, HANDLE template_file) {
    return ::CreateFileA(file_name, desired_access, share_mode,
                         reinterpret_cast<::LPSECURITY_ATTRIBUTES>(security), creation_disposition,
                         flags_and_attributes, template_file);
}

BOOL sys::ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, DWORD* bytes_read, LPOVERLAPPED overlapped) {
    ::DWORD done = 0;
    BOOL ok = ::ReadFile(file, buffer, bytes_to_read, &done, reinterpret_cast<::LPOVERLAPPED>(overlapped));
    if (bytes_read != nullptr) *bytes_read = done;
    return ok;
}

BOOL sys::WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, DWORD* bytes_written,
                    LPOVERLAPPED overlapped) {
    ::DWORD done = 0;
    BOOL ok = ::WriteFile(file, buffer, bytes_to_write, &done, reinterpret_cast<::LPOVERLAPPED>(overlapped));
    if (bytes_written != nullptr) *bytes_written = done;
    return ok;
}

BOOL sys::DeleteFileA(LPCSTR file_name) {
    return ::DeleteFileA(file_name);
}

BOOL MoveFileExA(LPCSTR existing_name, LPCSTR new_name, DWORD flags) {
    return ::MoveFileExA(existing_name, new_name, flags);
}

BOOL sys::CreateDirectoryA(LPCSTR path_name, LPSECURITY_ATTRIBUTES security) {
    return ::CreateDirectoryA(path_name, reinterpret_cast<::LPSECURITY_ATTRIBUTES>(security));
}

BOOL sys::RemoveDirectoryA(LPCSTR path_name) {
    return ::RemoveDirectoryA(path_name);
}

HANDLE sys::FindFirstFileA(LPCSTR file_name, WIN32_FIND_DATAA* find_data) {
    return ::FindFirstFileA(file_name, reinterpret_cast<::WIN32_FIND_DATAA*>(find_data));
}

BOOL sys::FindNextFileA(HANDLE find_file, WIN32_FIND_DATAA* find_data) {
    return ::FindNextFileA(find_file, reinterpret_cast<::WIN32_FIND_DATAA*>(find_data));
}

BOOL sys::FindClose(HANDLE find_file) {
    return ::FindClose(find_file);
}

DWORD sys::GetFileAttributesA(LPCSTR file_name) {
    return ::GetFileAttributesA(file_name);
}

DWORD sys::GetLogicalDrives() {
    return ::GetLogicalDrives();
}

BOOL sys::FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
    return ::FileTimeToSystemTime(reinterpret_cast<const ::FILETIME*>(file_time),
                                  reinterpret_cast<::SYSTEMTIME*>(system_time));
}

DWORD sys::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    return ::GetCurrentDirectoryA(size, buffer);
}

BOOL sys::SetCurrentDirectoryA(LPCSTR path_name) {
    return ::SetCurrentDirectoryA(path_name);
}

DWORD sys::GetTempPathA(DWORD size, LPSTR buffer) {
    return ::GetTempPathA(size, buffer);
}

UINT sys::GetTempFileNameA(LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name) {
    return ::GetTempFileNameA(path_name, prefix, unique, temp_file_name);
}

std::FILE* sys::crt_fopen(LPCSTR file_name, const char* mode) {
    if (file_name == nullptr || mode == nullptr) return nullptr;
    return std::fopen(file_name, mode);
}

}  // namespace win
