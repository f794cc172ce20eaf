// Status messages: the one reporting operation of the task. Writes the
// formatted text into the task's message tag and the level into its status
// tag, then copies the text into the log. Before the task is attached only
// the bare key goes to the log.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <type_traits>

inline constexpr int kStatusTextSize = 160;  // 159 characters and the terminator

// The message text of `key` with the arguments (`args` null: none), as the
// status writer builds it: a catalog text is the format; a key without a
// catalog entry stands for itself (and is the format when arguments are
// given). Cut at kStatusTextSize-1 characters.
std::string FormatStatusText(const char* key, std::va_list* args);

void StatusMessageNoArgs(std::int32_t level, const char* key);
void StatusMessageV(std::int32_t level, const char* key, std::va_list args);
void StatusMessageArgs(std::int32_t level, const char* key, ...);

// StatusMessage (level, key or null, printf-style arguments...). A null key
// writes only the level. Callable from every thread.
template <typename... Args>
inline void StatusMessage(std::int32_t level, const char* key, Args... args) {
    static_assert(((std::is_arithmetic_v<Args> || std::is_pointer_v<Args>) && ...),
                  "status arguments are numbers or C strings");
    if constexpr (sizeof...(Args) == 0) {
        StatusMessageNoArgs(level, key);
    } else {
        StatusMessageArgs(level, key, args...);
    }
}
