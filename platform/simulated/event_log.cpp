// Event log on the simulated host: source handles are host objects, each
// report one line of "eventlog.txt" in the state directory.
#include "platform/event_log.h"
#include "platform/fault_points.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/error.h"
#include "platform/event_log_dump.h"
#include "platform/simulated/host_event_log.h"
#include "platform/simulated/host_object.h"
#include "platform/simulated/host_state.h"

namespace win {
namespace host {
namespace {

class EventSource final : public HostObject {
public:
    explicit EventSource(std::string source) : source_(std::move(source)) {}
    const std::string& Source() const { return source_; }

private:
    std::string source_;
};

void Escape(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case '\\': out += '\\'; break;
            default: return false;
        }
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseNumber(std::string_view text, int base, std::uint32_t limit, std::uint32_t& out) {
    if (text.empty()) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0 || d >= base) return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > limit) return false;
    }
    out = static_cast<std::uint32_t>(value);
    return true;
}

const char* TypeName(std::uint16_t type) {
    switch (type) {
        case EVENTLOG_SUCCESS: return "success";
        case EVENTLOG_ERROR_TYPE: return "error";
        case EVENTLOG_WARNING_TYPE: return "warning";
        case EVENTLOG_INFORMATION_TYPE: return "information";
        case EVENTLOG_AUDIT_SUCCESS: return "audit-success";
        case EVENTLOG_AUDIT_FAILURE: return "audit-failure";
        default: return "type?";
    }
}

}  // namespace

std::string FormatEventLine(const EventRecord& record) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line;
    Escape(line, record.source);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "\t%u\t%u\t0x%08X\t", static_cast<unsigned>(record.type),
                  static_cast<unsigned>(record.category), static_cast<unsigned>(record.event_id));
    line += numbers;
    if (record.data.empty()) {
        line += '-';
    } else {
        for (unsigned char b : record.data) {
            line += kHex[b >> 4];
            line += kHex[b & 15];
        }
    }
    for (const std::string& s : record.strings) {
        line += '\t';
        Escape(line, s);
    }
    return line;
}

bool ParseEventLine(std::string_view line, EventRecord& record) {
    std::vector<std::string_view> fields;
    while (true) {
        std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) break;
        line.remove_prefix(tab + 1);
    }
    if (fields.size() < 5) return false;
    EventRecord r;
    std::uint32_t type = 0, category = 0;
    if (!Unescape(fields[0], r.source)) return false;
    if (!ParseNumber(fields[1], 10, 0xFFFF, type) || !ParseNumber(fields[2], 10, 0xFFFF, category)) return false;
    if (!fields[3].starts_with("0x") || !ParseNumber(fields[3].substr(2), 16, 0xFFFFFFFFu, r.event_id)) return false;
    r.type = static_cast<std::uint16_t>(type);
    r.category = static_cast<std::uint16_t>(category);
    if (fields[4] != "-") {
        if (fields[4].size() % 2 != 0) return false;
        for (std::size_t i = 0; i < fields[4].size(); i += 2) {
            int hi = HexDigit(fields[4][i]), lo = HexDigit(fields[4][i + 1]);
            if (hi < 0 || lo < 0) return false;
            r.data += static_cast<char>(hi * 16 + lo);
        }
    }
    for (std::size_t i = 5; i < fields.size(); ++i) {
        std::string s;
        if (!Unescape(fields[i], s)) return false;
        r.strings.push_back(std::move(s));
    }
    record = std::move(r);
    return true;
}

std::vector<EventRecord> ReadEventLog(int* bad_lines) {
    std::vector<EventRecord> records;
    if (bad_lines != nullptr) *bad_lines = 0;
    std::ifstream in(StatePath("eventlog.txt"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        EventRecord record;
        if (ParseEventLine(line, record)) {
            records.push_back(std::move(record));
        } else if (bad_lines != nullptr) {
            ++*bad_lines;
        }
    }
    return records;
}

}  // namespace host

HANDLE sys::RegisterEventSourceA(LPCSTR server_name, LPCSTR source_name) {
    if (server_name != nullptr && *server_name != '\0') {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (source_name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return static_cast<host::HostObject*>(new host::EventSource(source_name));
}

BOOL sys::DeregisterEventSource(HANDLE event_log) {
    auto* source = host::As<host::EventSource>(event_log);
    if (source == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete source;
    return TRUE;
}

BOOL sys::ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID, WORD num_strings,
                       DWORD data_size, LPCSTR* strings, LPVOID raw_data) {
    auto* source = host::As<host::EventSource>(event_log);
    if (source == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((num_strings > 0 && strings == nullptr) || (data_size > 0 && raw_data == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::EventRecord record;
    record.source = source->Source();
    record.type = type;
    record.category = category;
    record.event_id = event_id;
    if (data_size > 0) record.data.assign(static_cast<const char*>(raw_data), data_size);
    for (WORD i = 0; i < num_strings; ++i) {
        if (strings[i] == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        record.strings.emplace_back(strings[i]);
    }
    if (!host::AppendLine("eventlog.txt", host::FormatEventLine(record))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

bool EventLogDumpText(const std::string& source, std::string& text, std::string& error) {
    int bad = 0;
    std::vector<host::EventRecord> records = host::ReadEventLog(&bad);
    text.clear();
    for (const host::EventRecord& r : records) {
        if (!source.empty() && r.source != source) continue;
        char head[96];
        std::snprintf(head, sizeof head, "%-11s 0x%08X cat %u  ", host::TypeName(r.type),
                      static_cast<unsigned>(r.event_id), static_cast<unsigned>(r.category));
        text += head;
        text += r.source;
        text += ':';
        for (const std::string& s : r.strings) {
            text += " \"";
            host::Escape(text, s);
            text += '"';
        }
        if (!r.data.empty()) {
            text += " data ";
            static const char kHex[] = "0123456789ABCDEF";
            for (unsigned char b : r.data) {
                text += kHex[b >> 4];
                text += kHex[b & 15];
            }
        }
        text += '\n';
    }
    if (bad > 0) {
        error = std::to_string(bad) + " unreadable line(s) in " + host::StatePath("eventlog.txt");
        return false;
    }
    return true;
}

}  // namespace win
