// Simulated host: the event log file "eventlog.txt" of the state directory.
//
// One line per reported event, fields separated by tabs:
//   source, type (decimal), category (decimal), event id ("0x%08X"), raw
//   data (hex pairs, "-" when none), then one field per insertion string.
// Tab, CR, LF and backslash inside the source and the strings are written
// as "\t", "\r", "\n" and "\\".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace win::host {

struct EventRecord {
    std::string source;
    std::uint16_t type = 0;
    std::uint16_t category = 0;
    std::uint32_t event_id = 0;
    std::string data;  // raw bytes
    std::vector<std::string> strings;
};

std::string FormatEventLine(const EventRecord& record);

// False for a line that is not of the form above.
bool ParseEventLine(std::string_view line, EventRecord& record);

// Every event of the state directory's log, in order; lines that cannot be
// parsed are skipped and counted in `bad_lines` (may be null).
std::vector<EventRecord> ReadEventLog(int* bad_lines);

}  // namespace win::host
