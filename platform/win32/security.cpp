#include "platform/security.h"
#include "platform/fault_points.h"

#include <windows.h>

#include <cstddef>

namespace win {

static_assert(sizeof(win::LUID) == sizeof(::LUID));
static_assert(sizeof(win::LUID_AND_ATTRIBUTES) == sizeof(::LUID_AND_ATTRIBUTES));
static_assert(sizeof(win::TOKEN_PRIVILEGES) == sizeof(::TOKEN_PRIVILEGES));
static_assert(offsetof(win::TOKEN_PRIVILEGES, Privileges) == offsetof(::TOKEN_PRIVILEGES, Privileges));
static_assert(static_cast<int>(win::TokenPrivileges) == static_cast<int>(::TokenPrivileges));

HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }

BOOL sys::OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token) {
    return ::OpenProcessToken(process, desired_access, token);
}

BOOL sys::LookupPrivilegeValueA(LPCSTR system_name, LPCSTR name, LUID* luid) {
    return ::LookupPrivilegeValueA(system_name, name, reinterpret_cast<::PLUID>(luid));
}

BOOL sys::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information,
                              DWORD length, DWORD* return_length) {
    ::DWORD needed = 0;
    BOOL ok = ::GetTokenInformation(token, static_cast<::TOKEN_INFORMATION_CLASS>(information_class), information,
                                    length, &needed);
    if (return_length != nullptr) *return_length = needed;
    return ok;
}

BOOL sys::AdjustTokenPrivileges(HANDLE token, BOOL disable_all_privileges, TOKEN_PRIVILEGES* new_state,
                                DWORD buffer_length, TOKEN_PRIVILEGES* previous_state, DWORD* return_length) {
    ::DWORD needed = 0;
    BOOL ok = ::AdjustTokenPrivileges(token, disable_all_privileges, reinterpret_cast<::PTOKEN_PRIVILEGES>(new_state),
                                      buffer_length, reinterpret_cast<::PTOKEN_PRIVILEGES>(previous_state),
                                      return_length != nullptr ? &needed : nullptr);
    if (return_length != nullptr) *return_length = needed;
    return ok;
}

}  // namespace win
