// Time: GetLocalTime, GetSystemTime, SystemTimeToFileTime,
// FileTimeToSystemTime (defined with the file family, platform/files.h),
// GetTickCount, GetTickCount64.
#pragma once

#include "platform/time_types.h"
#include "platform/types.h"

namespace win {

// The current local / UTC calendar time, to the millisecond.
void GetLocalTime(SYSTEMTIME* system_time);
void GetSystemTime(SYSTEMTIME* system_time);

// Calendar time to file time (wDayOfWeek is ignored). FALSE with
// ERROR_INVALID_PARAMETER for a field out of range (month 1-12, a day the
// month has, hour < 24, minute and second < 60, milliseconds < 1000,
// year 1601-30827).
BOOL SystemTimeToFileTime(const SYSTEMTIME* system_time, FILETIME* file_time);

// UTC file time to calendar time; FALSE for a time past year 30827.
BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time);

// Milliseconds since the system started (the 32-bit count wraps after
// 49.7 days).
DWORD GetTickCount();
ULONGLONG GetTickCount64();

}  // namespace win
