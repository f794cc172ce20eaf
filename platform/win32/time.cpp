#include "platform/time.h"

#include <windows.h>

namespace win {

void GetLocalTime(SYSTEMTIME* system_time) { ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(system_time)); }

void GetSystemTime(SYSTEMTIME* system_time) { ::GetSystemTime(reinterpret_cast<::SYSTEMTIME*>(system_time)); }

BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time) {
    return ::SystemTimeToFileTime(reinterpret_cast<const ::SYSTEMTIME*>(system_time),
                                  reinterpret_cast<::FILETIME*>(file_time));
}

DWORD GetTickCount() { return ::GetTickCount(); }

ULONGLONG GetTickCount64() { return ::GetTickCount64(); }

}  // namespace win
