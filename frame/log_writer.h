// The log writer: one line per event, filtered by the debug level and sent
// to the sinks the settings switch on (console, debugger output, the log
// file, the event log).
//
// A key is looked up in the message catalog; a catalog text is the format
// for the arguments, under the formatter's rules for formats from outside
// (support/format.h): a conversion without an argument of its kind is shown
// as it stands, so a catalog text never reads more than was passed. A key
// without a catalog entry is a ready text: with arguments it is still the
// format, without arguments it is written as it stands, so a percent sign in
// an already formatted text is never taken for a conversion. Lines are cut
// at kLogLineSize-1 characters.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "support/format.h"

// Event identifiers of the task's events.
inline constexpr std::uint32_t kEventIdStart = 0x40000001u;
inline constexpr std::uint32_t kEventIdStop = 0x40000004u;
inline constexpr std::uint32_t kEventIdMessage = 0x40000007u;

// Event kinds WriteLog's callers pass.
inline constexpr std::int32_t kEventKindMessage = 0;
inline constexpr std::int32_t kEventKindStart = 1;
inline constexpr std::int32_t kEventKindStop = 2;

inline constexpr int kLogLineSize = 800;  // line buffer, terminator included

// Log settings, set once by LoadSettings (config/settings.h).
struct LogSettings {
    std::int32_t debug_level = 0;       // a line of level L is written when L <= debug_level
    std::int32_t log_to_screen = 0;
    std::int32_t log_to_debugger = 0;
    std::int32_t log_to_file = 0;
    std::int32_t log_to_event_log = 0;
    std::string log_path;               // full path of the log file
    std::int32_t log_opened = 0;        // nonzero after the first open attempt of the process
};

// The process-wide log settings.
LogSettings& log_settings();

// The line WriteLog would write for `key` (catalog lookup and formatting,
// cut at kLogLineSize-1).
std::string FormatLogLine(const char* key, std::span<const FormatArg> args = {});

// WriteLog with a counted argument list. Extra text: `extra_length` bytes of
// `extra` (up to its first zero), used when both are nonzero.
void WriteLogArgs(const char* key, std::int32_t level, std::uint16_t event_type, std::int32_t event_kind,
                  const char* extra, std::int32_t extra_length, std::span<const FormatArg> args);

// Writes a ready text as it stands: no catalog lookup, no formatting (the
// status writer's bare key before the task is attached).
void WriteLogText(const char* text, std::int32_t level, std::uint16_t event_type, std::int32_t event_kind);

// WriteLog (key, level, event type, event kind, extra, extra length,
// arguments...).
template <typename... Args>
inline void WriteLog(const char* key, std::int32_t level, std::uint16_t event_type, std::int32_t event_kind,
                     const char* extra, std::int32_t extra_length, const Args&... args) {
    const FormatArg list[sizeof...(Args) + 1] = {FormatArg(args)...};
    WriteLogArgs(key, level, event_type, event_kind, extra, extra_length,
                 std::span<const FormatArg>(list, sizeof...(Args)));
}

// Sends a text straight to the event log with identifier kEventIdMessage,
// whatever the settings and level.
void ReportEventText(std::uint16_t event_type, const char* text);
