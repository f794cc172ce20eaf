// Process token of the simulated host: a privilege list read from the
// state directory when the token is opened; adjustments are recorded in
// "security.log" and kept in the token object only.
#include "platform/security.h"
#include "platform/fault_points.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/simulated/host_object.h"
#include "platform/simulated/host_state.h"

namespace win {

namespace {

// Local LUIDs of the privileges the simulated host knows (Windows' values).
struct KnownPrivilege {
    const char* name;
    DWORD low;
};
constexpr KnownPrivilege kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},     {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},      {"SeIncreaseQuotaPrivilege", 5},
    {"SeTcbPrivilege", 7},             {"SeSecurityPrivilege", 8},
    {"SeTakeOwnershipPrivilege", 9},   {"SeLoadDriverPrivilege", 10},
    {"SeSystemtimePrivilege", 12},     {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},        {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},          {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},   {"SeRemoteShutdownPrivilege", 24},
    {"SeUndockPrivilege", 25},         {"SeIncreaseWorkingSetPrivilege", 33},
    {"SeTimeZonePrivilege", 34},
};

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

const KnownPrivilege* FindByName(const char* name) {
    for (const auto& p : kPrivileges)
        if (SameName(p.name, name)) return &p;
    return nullptr;
}

const char* NameOf(const LUID& luid) {
    if (luid.HighPart != 0) return nullptr;
    for (const auto& p : kPrivileges)
        if (p.low == luid.LowPart) return p.name;
    return nullptr;
}

class Token : public host::HostObject {
public:
    std::vector<LUID_AND_ATTRIBUTES> privileges;
};

Token* LoadToken() {
    auto* token = new Token;
    std::ifstream in(host::StatePath("privileges.txt"));
    if (!in) {
        token->privileges.push_back({{19, 0}, 0});
        token->privileges.push_back({{23, 0}, SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT});
        return token;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, state;
        if (!(words >> name) || name[0] == '#') continue;
        words >> state;
        const KnownPrivilege* known = FindByName(name.c_str());
        if (known == nullptr) continue;
        token->privileges.push_back({{known->low, 0}, state == "enabled" ? SE_PRIVILEGE_ENABLED : 0u});
    }
    return token;
}

}  // namespace

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL sys::OpenProcessToken(HANDLE process, DWORD desired_access, HANDLE* token) {
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = nullptr;
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *token = LoadToken();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL sys::LookupPrivilegeValueA(LPCSTR system_name, LPCSTR name, LUID* luid) {
    if (name == nullptr || luid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const KnownPrivilege* known = FindByName(name);
    if (known == nullptr) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = known->low;
    luid->HighPart = 0;
    return TRUE;
}

BOOL sys::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class, LPVOID information,
                              DWORD length, DWORD* return_length) {
    auto* object = host::As<Token>(token);
    if (object == nullptr || return_length == nullptr) {
        SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (information_class != TokenPrivileges) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD count = static_cast<DWORD>(object->privileges.size());
    DWORD needed = static_cast<DWORD>(sizeof(DWORD) + count * sizeof(LUID_AND_ATTRIBUTES));
    *return_length = needed;
    if (information == nullptr || length < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<unsigned char*>(information);
    std::memcpy(out, &count, sizeof count);
    if (count != 0)
        std::memcpy(out + sizeof count, object->privileges.data(), count * sizeof(LUID_AND_ATTRIBUTES));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL sys::AdjustTokenPrivileges(HANDLE token, BOOL disable_all_privileges, TOKEN_PRIVILEGES* new_state,
                                DWORD buffer_length, TOKEN_PRIVILEGES* previous_state, DWORD* return_length) {
    auto* object = host::As<Token>(token);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (return_length != nullptr) *return_length = 0;
    std::string line = "adjust";
    bool all_assigned = true;
    if (disable_all_privileges) {
        for (auto& p : object->privileges) p.Attributes &= ~SE_PRIVILEGE_ENABLED;
        line += " all=disabled";
    } else {
        if (new_state == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        DWORD count;
        std::memcpy(&count, new_state, sizeof count);
        const auto* entries = reinterpret_cast<const unsigned char*>(new_state) + sizeof(DWORD);
        for (DWORD i = 0; i < count; ++i) {
            LUID_AND_ATTRIBUTES entry;
            std::memcpy(&entry, entries + i * sizeof entry, sizeof entry);
            const char* name = NameOf(entry.Luid);
            char pair[96];
            std::snprintf(pair, sizeof pair, " %s=0x%X", name != nullptr ? name : "?",
                          static_cast<unsigned>(entry.Attributes));
            line += pair;
            bool held = false;
            for (auto& p : object->privileges) {
                if (p.Luid.LowPart == entry.Luid.LowPart && p.Luid.HighPart == entry.Luid.HighPart) {
                    p.Attributes = (p.Attributes & ~SE_PRIVILEGE_ENABLED) | (entry.Attributes & SE_PRIVILEGE_ENABLED);
                    held = true;
                }
            }
            if (!held) all_assigned = false;
        }
    }
    host::AppendLine("security.log", line);
    SetLastError(all_assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

}  // namespace win
