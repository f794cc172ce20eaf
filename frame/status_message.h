// Status messages: the one reporting operation of the task. Writes the
// formatted text into the task's message tag and the level into its status
// tag, then copies the text into the log. Before the task is attached only
// the bare key goes to the log.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "support/format.h"

inline constexpr int kStatusTextSize = 160;  // 159 characters and the terminator

// The message text of `key` with the arguments, as the status writer
// builds it: a catalog text is the format (a key without a catalog entry
// stands for itself, and is the format when arguments are given), under the
// formatter's rules for formats from outside: a conversion without an
// argument of its kind is shown as it stands. Cut at kStatusTextSize-1
// characters.
std::string FormatStatusText(const char* key, std::span<const FormatArg> args = {});

void StatusMessageArgs(std::int32_t level, const char* key, std::span<const FormatArg> args);

// StatusMessage (level, key or null, arguments...). A null key writes only
// the level. Callable from every thread.
template <typename... Args>
inline void StatusMessage(std::int32_t level, const char* key, const Args&... args) {
    const FormatArg list[sizeof...(Args) + 1] = {FormatArg(args)...};
    StatusMessageArgs(level, key, std::span<const FormatArg>(list, sizeof...(Args)));
}
