// The platform functions that can fail, the one place their fault points
// are stated. Each line: result type, name, (parameters), (arguments), and
// what a failing call returns: its documented failure result, with the error
// as its last error; kStatus for a function whose result is its error (the
// registry).
//
// platform/fault_points.cpp defines each function once for both sides: in
// test builds (VD_TEST_HOOKS) it first asks the switch table of
// platform/test_hooks.h whether the call fails or is replaced, then calls
// the side's implementation win::sys::<Name> (platform/win32/ or
// platform/simulated/). Without VD_TEST_HOOKS it only calls on.
//
// A new function that can fail: one line here, and its implementation on
// each side defined as sys::<Name> instead of <Name>.
#pragma once

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/device.h"
#include "platform/disk.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/handle.h"
#include "platform/library.h"
#include "platform/message_table.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/shutdown.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/system_params.h"
#include "platform/time.h"

// clang-format off
#define VD_FAULT_POINTS(X) \
    X(int, MultiByteToWideChar, (UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar), (CodePage, dwFlags, lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar), 0) \
    X(int, WideCharToMultiByte, (UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar), (CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte, lpDefaultChar, lpUsedDefaultChar), 0) \
    X(BOOL, SetConsoleOutputCP, (UINT code_page), (code_page), FALSE) \
    X(BOOL, SetConsoleCP, (UINT code_page), (code_page), FALSE) \
    X(UINT, GetConsoleCP, (), (), 0) \
    X(UINT, GetConsoleOutputCP, (), (), 0) \
    X(BOOL, DeviceIoControl, (HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size, LPVOID out_buffer, DWORD out_buffer_size, DWORD* bytes_returned, LPOVERLAPPED overlapped), (device, io_control_code, in_buffer, in_buffer_size, out_buffer, out_buffer_size, bytes_returned, overlapped), FALSE) \
    X(BOOL, GetDiskFreeSpaceExA, (LPCSTR directory_name, ULARGE_INTEGER* free_bytes_available_to_caller, ULARGE_INTEGER* total_number_of_bytes, ULARGE_INTEGER* total_number_of_free_bytes), (directory_name, free_bytes_available_to_caller, total_number_of_bytes, total_number_of_free_bytes), FALSE) \
    X(DWORD, GetEnvironmentVariableA, (LPCSTR name, LPSTR buffer, DWORD size), (name, buffer, size), 0) \
    X(BOOL, SetEnvironmentVariableA, (LPCSTR name, LPCSTR value), (name, value), FALSE) \
    X(HANDLE, RegisterEventSourceA, (LPCSTR server_name, LPCSTR source_name), (server_name, source_name), nullptr) \
    X(BOOL, DeregisterEventSource, (HANDLE event_log), (event_log), FALSE) \
    X(BOOL, ReportEventA, (HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID user_sid, WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data), (event_log, type, category, event_id, user_sid, num_strings, data_size, strings, raw_data), FALSE) \
    X(HANDLE, CreateFileA, (LPCSTR file_name, DWORD desired_access, DWORD share_mode, LPSECURITY_ATTRIBUTES security, DWORD creation_disposition, DWORD flags_and_attributes, HANDLE template_file), (file_name, desired_access, share_mode, security, creation_disposition, flags_and_attributes, template_file), INVALID_HANDLE_VALUE) \
    X(BOOL, ReadFile, (HANDLE file, LPVOID buffer, DWORD bytes_to_read, DWORD* bytes_read, LPOVERLAPPED overlapped), (file, buffer, bytes_to_read, bytes_read, overlapped), FALSE) \
    X(BOOL, WriteFile, (HANDLE file, LPCVOID buffer, DWORD bytes_to_write, DWORD* bytes_written, LPOVERLAPPED overlapped), (file, buffer, bytes_to_write, bytes_written, overlapped), FALSE) \
    X(BOOL, DeleteFileA, (LPCSTR file_name), (file_name), FALSE) \
    X(BOOL, CreateDirectoryA, (LPCSTR path_name, LPSECURITY_ATTRIBUTES security), (path_name, security), FALSE) \
    X(BOOL, RemoveDirectoryA, (LPCSTR path_name), (path_name), FALSE) \
    X(HANDLE, FindFirstFileA, (LPCSTR file_name, WIN32_FIND_DATAA* find_data), (file_name, find_data), INVALID_HANDLE_VALUE) \
    X(BOOL, FindNextFileA, (HANDLE find_file, WIN32_FIND_DATAA* find_data), (find_file, find_data), FALSE) \
    X(BOOL, FindClose, (HANDLE find_file), (find_file), FALSE) \
    X(DWORD, GetFileAttributesA, (LPCSTR file_name), (file_name), INVALID_FILE_ATTRIBUTES) \
    X(DWORD, GetLogicalDrives, (), (), 0) \
    X(BOOL, FileTimeToSystemTime, (const FILETIME* file_time, SYSTEMTIME* system_time), (file_time, system_time), FALSE) \
    X(DWORD, GetCurrentDirectoryA, (DWORD size, LPSTR buffer), (size, buffer), 0) \
    X(BOOL, SetCurrentDirectoryA, (LPCSTR path_name), (path_name), FALSE) \
    X(DWORD, GetTempPathA, (DWORD size, LPSTR buffer), (size, buffer), 0) \
    X(UINT, GetTempFileNameA, (LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name), (path_name, prefix, unique, temp_file_name), 0) \
    X(std::FILE*, crt_fopen, (LPCSTR file_name, const char* mode), (file_name, mode), nullptr) \
    X(BOOL, CloseHandle, (HANDLE handle), (handle), FALSE) \
    X(HMODULE, LoadLibraryA, (LPCSTR file_name), (file_name), nullptr) \
    X(FARPROC, GetProcAddress, (HMODULE module, LPCSTR proc_name), (module, proc_name), nullptr) \
    X(BOOL, FreeLibrary, (HMODULE module), (module), FALSE) \
    X(HMODULE, LoadLibraryExA, (LPCSTR file_name, HANDLE file, DWORD flags), (file_name, file, flags), nullptr) \
    X(DWORD, FormatMessageA, (DWORD flags, const void* source, DWORD message_id, DWORD language_id, LPSTR buffer, DWORD size, va_list* arguments), (flags, source, message_id, language_id, buffer, size, arguments), 0) \
    X(HMODULE, GetModuleHandleA, (LPCSTR module_name), (module_name), nullptr) \
    X(DWORD, GetPrivateProfileStringA, (LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned, DWORD size, LPCSTR file_name), (app_name, key_name, default_value, returned, size, file_name), UnreadableProfileString(app_name, key_name, default_value, returned, size)) \
    X(UINT, GetPrivateProfileIntA, (LPCSTR app_name, LPCSTR key_name, INT default_value, LPCSTR file_name), (app_name, key_name, default_value, file_name), static_cast<UINT>(default_value)) \
    X(LONG, RegOpenKeyExA, (HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result), (key, sub_key, options, desired, result), kStatus) \
    X(LONG, RegOpenKeyA, (HKEY key, LPCSTR sub_key, PHKEY result), (key, sub_key, result), kStatus) \
    X(LONG, RegCreateKeyExA, (HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options, REGSAM desired, const SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition), (key, sub_key, reserved, class_name, options, desired, security, result, disposition), kStatus) \
    X(LONG, RegCreateKeyA, (HKEY key, LPCSTR sub_key, PHKEY result), (key, sub_key, result), kStatus) \
    X(LONG, RegQueryValueExA, (HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size), (key, value_name, reserved, type, data, data_size), kStatus) \
    X(LONG, RegSetValueExA, (HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data, DWORD data_size), (key, value_name, reserved, type, data, data_size), kStatus) \
    X(LONG, RegDeleteValueA, (HKEY key, LPCSTR value_name), (key, value_name), kStatus) \
    X(LONG, RegDeleteKeyA, (HKEY key, LPCSTR sub_key), (key, sub_key), kStatus) \
    X(LONG, RegEnumKeyExA, (HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved, LPSTR class_name, LPDWORD class_size, FILETIME* last_write), (key, index, name, name_size, reserved, class_name, class_size, last_write), kStatus) \
    X(LONG, RegEnumValueA, (HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size), (key, index, value_name, value_name_size, reserved, type, data, data_size), kStatus) \
    X(LONG, RegCloseKey, (HKEY key), (key), kStatus) \
    X(BOOL, OpenProcessToken, (HANDLE process, DWORD desired_access, HANDLE* token), (process, desired_access, token), FALSE) \
    X(BOOL, LookupPrivilegeValueA, (LPCSTR system_name, LPCSTR name, LUID* luid), (system_name, name, luid), FALSE) \
    X(BOOL, GetTokenInformation, (HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information, DWORD length, DWORD* return_length), (token, information_class, information, length, return_length), FALSE) \
    X(BOOL, AdjustTokenPrivileges, (HANDLE token, BOOL disable_all_privileges, TOKEN_PRIVILEGES* new_state, DWORD buffer_length, TOKEN_PRIVILEGES* previous_state, DWORD* return_length), (token, disable_all_privileges, new_state, buffer_length, previous_state, return_length), FALSE) \
    X(BOOL, ExitWindowsEx, (UINT flags, DWORD reason), (flags, reason), FALSE) \
    X(BOOL, LockWorkStation, (), (), FALSE) \
    X(HANDLE, CreateSemaphoreA, (const SECURITY_ATTRIBUTES* security, LONG initial_count, LONG maximum_count, LPCSTR name), (security, initial_count, maximum_count, name), nullptr) \
    X(BOOL, ReleaseSemaphore, (HANDLE semaphore, LONG release_count, LONG* previous_count), (semaphore, release_count, previous_count), FALSE) \
    X(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds), (handle, milliseconds), WAIT_FAILED) \
    X(UINT, GetSystemDirectoryA, (LPSTR buffer, UINT size), (buffer, size), 0) \
    X(DWORD, GetModuleFileNameA, (HMODULE module, LPSTR file_name, DWORD size), (module, file_name, size), 0) \
    X(DWORD, GetFileVersionInfoSizeA, (LPCSTR file_name, DWORD* handle), (file_name, handle), 0) \
    X(BOOL, GetFileVersionInfoA, (LPCSTR file_name, DWORD handle, DWORD length, LPVOID data), (file_name, handle, length, data), FALSE) \
    X(BOOL, VerQueryValueA, (LPCVOID block, LPCSTR sub_block, LPVOID* buffer, UINT* length), (block, sub_block, buffer, length), FALSE) \
    X(BOOL, SystemParametersInfoA, (UINT action, UINT ui_param, LPVOID pv_param, UINT win_ini), (action, ui_param, pv_param, win_ini), FALSE) \
    X(BOOL, SystemTimeToFileTime, (const SYSTEMTIME* system_time, FILETIME* file_time), (system_time, file_time), FALSE)
// clang-format on

namespace win::sys {
#define VD_FAULT_POINT_DECLARE(result, Name, params, args, failure) result Name params;
VD_FAULT_POINTS(VD_FAULT_POINT_DECLARE)
#undef VD_FAULT_POINT_DECLARE
}  // namespace win::sys
