// Process tokens and privileges: GetCurrentProcess, OpenProcessToken,
// LookupPrivilegeValueA, GetTokenInformation (TokenPrivileges),
// AdjustTokenPrivileges.
//
// Simulated host: the process token holds the privileges listed in the
// state directory's "privileges.txt" (one name per line, optionally
// followed by "enabled"), or, without that file, SeShutdownPrivilege
// (disabled) and SeChangeNotifyPrivilege (enabled). Every
// AdjustTokenPrivileges call appends one line
// "adjust NAME=0xATTRIBUTES ..." (one pair per entry given) to
// "security.log"; the adjusted state lives only in the token object.
#pragma once

#include "platform/types.h"

namespace win {

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

// A variable-length list: PrivilegeCount entries follow the count.
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};

static_assert(sizeof(LUID) == 8);
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12);
static_assert(sizeof(TOKEN_PRIVILEGES) == 16);

enum TOKEN_INFORMATION_CLASS : int {
    TokenUser = 1,
    TokenGroups = 2,
    TokenPrivileges = 3,
};

inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;

inline constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x1;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x2;

inline constexpr char SE_SHUTDOWN_NAME[] = "SeShutdownPrivilege";
inline constexpr char SE_CHANGE_NOTIFY_NAME[] = "SeChangeNotifyPrivilege";

// The pseudo handle of the calling process; it needs no CloseHandle.
HANDLE GetCurrentProcess();

// The token handle is closed with CloseHandle.
BOOL OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token);

// `system_name` null = the local system. FALSE with ERROR_NO_SUCH_PRIVILEGE
// for an unknown name.
BOOL LookupPrivilegeValueA(LPCSTR system_name, LPCSTR name, LUID* luid);

// Only TokenPrivileges on the simulated host. When `length` is too small:
// FALSE with ERROR_INSUFFICIENT_BUFFER and *return_length the size needed.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information,
                         DWORD length, DWORD* return_length);

// Sets the attributes of each listed privilege the token holds. TRUE also
// when some were not held; GetLastError then gives ERROR_NOT_ALL_ASSIGNED
// (else ERROR_SUCCESS).
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disable_all_privileges, TOKEN_PRIVILEGES* new_state,
                           DWORD buffer_length, TOKEN_PRIVILEGES* previous_state, DWORD* return_length);

inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;

}  // namespace win
