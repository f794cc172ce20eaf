#include "frame/log_writer.h"

#include <cstdio>
#include <cstring>

#include "frame/event_log.h"
#include "frame/task_state.h"
#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/time.h"
#include "support/message_lookup.h"

LogSettings& log_settings() {
    static LogSettings settings;
    return settings;
}

namespace {

// Date and time stamps as "MM/DD/YY" and "HH:MM:SS".
void Stamps(char (&date)[16], char (&time)[16]) {
    win::SYSTEMTIME now{};
    win::GetLocalTime(&now);
    std::snprintf(date, sizeof date, "%02u/%02u/%02u", static_cast<unsigned>(now.wMonth % 100),
                  static_cast<unsigned>(now.wDay % 100), static_cast<unsigned>(now.wYear % 100));
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", static_cast<unsigned>(now.wHour % 100),
                  static_cast<unsigned>(now.wMinute % 100), static_cast<unsigned>(now.wSecond % 100));
}

void FileSink(LogSettings& s, const char* date, const char* time, const char* line, const std::string* extra) {
    // The first line of the process replaces the old log; later lines
    // append. Binary mode: each record ends in exactly CR LF.
    const char* mode = s.log_opened == 0 ? "wb" : "ab";
    s.log_opened = 1;
    std::FILE* file = win::crt_fopen(s.log_path.c_str(), mode);
    if (file == nullptr) return;
    std::fprintf(file, "%s %s %s\r\n", date, time, line);
    if (extra != nullptr) std::fprintf(file, "                  %s\r\n", extra->c_str());
    std::fclose(file);
}

void EventLogSink(std::uint16_t event_type, std::int32_t event_kind, const char* line, const char* extra,
                  std::int32_t extra_length) {
    EventLogWriter* writer = task_state().event_log;
    if (writer == nullptr) return;
    switch (event_kind) {
        case kEventKindStart: writer->ReportText(event_type, kEventIdStart, line); break;
        case kEventKindStop: writer->ReportText(event_type, kEventIdStop, line); break;
        default:
            if (extra != nullptr) {
                writer->ReportTextWithData(event_type, kEventIdMessage, line, extra,
                                           static_cast<std::uint32_t>(extra_length));
            } else {
                writer->ReportText(event_type, kEventIdMessage, line);
            }
    }
}

void Emit(const char* line, std::uint16_t event_type, std::int32_t event_kind, const char* extra,
          std::int32_t extra_length) {
    LogSettings& s = log_settings();
    std::string extra_text;
    const bool has_extra = extra != nullptr && extra_length > 0;
    if (has_extra) extra_text.assign(extra, strnlen(extra, static_cast<std::size_t>(extra_length)));

    char date[16];
    char time[16];
    Stamps(date, time);
    if (s.log_to_screen != 0) {
        std::fprintf(stdout, "%s %s %s\n", date, time, line);
        if (has_extra) std::fprintf(stdout, "                  %s\n", extra_text.c_str());
        std::fflush(stdout);
    }
    if (s.log_to_debugger != 0) {
        std::string text(line);
        text += '\n';
        win::OutputDebugStringA(text.c_str());
        if (has_extra) win::OutputDebugStringA(extra_text.c_str());
    }
    if (s.log_to_file != 0 && !s.log_path.empty()) FileSink(s, date, time, line, has_extra ? &extra_text : nullptr);
    if (s.log_to_event_log != 0) EventLogSink(event_type, event_kind, line, has_extra ? extra : nullptr, extra_length);
}

void FormatInto(const char* key, std::span<const FormatArg> args, char* out, std::size_t size) {
    out[0] = '\0';
    if (key == nullptr) return;
    const char* text = msg_lookup(key);
    if (text == nullptr) return;
    if (text == key && args.empty()) {
        std::snprintf(out, size, "%s", text);
    } else {
        format_args(out, size, text, args);
    }
}

}  // namespace

std::string FormatLogLine(const char* key, std::span<const FormatArg> args) {
    char line[kLogLineSize];
    FormatInto(key, args, line, sizeof line);
    return line;
}

void WriteLogText(const char* text, std::int32_t level, std::uint16_t event_type, std::int32_t event_kind) {
    if (log_settings().debug_level < level) return;
    char line[kLogLineSize];
    std::snprintf(line, sizeof line, "%s", text == nullptr ? "" : text);
    Emit(line, event_type, event_kind, nullptr, 0);
}

void WriteLogArgs(const char* key, std::int32_t level, std::uint16_t event_type, std::int32_t event_kind,
                  const char* extra, std::int32_t extra_length, std::span<const FormatArg> args) {
    if (log_settings().debug_level < level) return;
    char line[kLogLineSize];
    FormatInto(key, args, line, sizeof line);
    Emit(line, event_type, event_kind, extra, extra_length);
}

void ReportEventText(std::uint16_t event_type, const char* text) {
    EventLogWriter* writer = task_state().event_log;
    if (writer != nullptr) writer->ReportText(event_type, kEventIdMessage, text == nullptr ? "" : text);
}
