#include "platform/registry.h"

#include "platform/registry_dump.h"

namespace win {

LONG RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { return static_cast<LONG>(ERROR_CANTOPEN); }
LONG RegOpenKeyA(HKEY, LPCSTR, PHKEY) { return static_cast<LONG>(ERROR_CANTOPEN); }
LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, const SECURITY_ATTRIBUTES*, PHKEY, LPDWORD) {
    return static_cast<LONG>(ERROR_CANTOPEN);
}
LONG RegCreateKeyA(HKEY, LPCSTR, PHKEY) { return static_cast<LONG>(ERROR_CANTOPEN); }
LONG RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }
LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }
LONG RegDeleteValueA(HKEY, LPCSTR) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }
LONG RegDeleteKeyA(HKEY, LPCSTR) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }
LONG RegEnumKeyExA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, FILETIME*) {
    return static_cast<LONG>(ERROR_INVALID_HANDLE);
}
LONG RegEnumValueA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
    return static_cast<LONG>(ERROR_INVALID_HANDLE);
}
LONG RegCloseKey(HKEY) { return static_cast<LONG>(ERROR_INVALID_HANDLE); }

bool RegistryDumpText(std::string& text, std::string& error) {
    text.clear();
    error = "registry not available yet";
    return false;
}

}  // namespace win
