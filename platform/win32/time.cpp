#include "platform/time.h"
#include "platform/fault_points.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

void GetLocalTime(SYSTEMTIME* system_time) { ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(system_time)); }

void GetSystemTime(SYSTEMTIME* system_time) { ::GetSystemTime(reinterpret_cast<::SYSTEMTIME*>(system_time)); }

BOOL sys::SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time) {
    return ::SystemTimeToFileTime(reinterpret_cast<const ::SYSTEMTIME*>(system_time),
                                  reinterpret_cast<::FILETIME*>(file_time));
}

DWORD GetTickCount() {
    VD_TEST_CLOCK_TICKS(DWORD);
    return ::GetTickCount();
}

ULONGLONG GetTickCount64() {
    VD_TEST_CLOCK_TICKS(ULONGLONG);
    return ::GetTickCount64();
}

}  // namespace win
