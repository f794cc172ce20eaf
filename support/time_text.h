// The current local time and date as fixed-form texts, and the user's
// regional date and time separators.
#pragma once

#include <cstddef>

#include "platform/time_types.h"

// Buffer sizes that always suffice: "hh:mm:ss" and "Sun Mar  5 2006" (a
// year has at most five digits).
inline constexpr std::size_t kTimeTextSize = 9;
inline constexpr std::size_t kDateTextSize = 17;

// Local time as "%.2d:%.2d:%.2d" (hour, minute, second); returns the length.
// Output is cut to `size` - 1 characters and always terminated.
int time_text(char* out, std::size_t size);

// Local date as "%s %s %2d %4d" (day name, month name, day, year), e.g.
// "Sun Mar  5 2006". A day of week or month out of range names "???".
int date_text(char* out, std::size_t size);

// The same for a given calendar time.
int time_text_of(const win::SYSTEMTIME& time, char* out, std::size_t size);
int date_text_of(const win::SYSTEMTIME& time, char* out, std::size_t size);

// Time separator into out[0], date separator into out[1]; returns the date
// order 0-3. Read once per process from HKEY_CURRENT_USER\Control
// Panel\International ("sTime", "sDate", "iDate"); a value that cannot be
// read keeps its default (":", "-", 0). While the key cannot be opened the
// line " REGTRY: RegOpenKey error" is written to standard output, both
// separators are zero bytes and the order is 0; the next call tries again.
int regional_separators(char out[2]);

// Forgets the kept regional settings so the next call reads them again
// (for tests).
void regional_settings_forget();
