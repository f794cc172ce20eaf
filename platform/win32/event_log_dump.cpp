// Readable form of the application event log: the real log, read forwards.
#include "platform/event_log_dump.h"

#include <cstdio>
#include <vector>

#include <windows.h>

namespace win {
namespace {

const char* TypeName(WORD type) {
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

// Appends the events of one read buffer.
void AppendRecords(const BYTE* data, DWORD size, const std::string& source, std::string& text) {
    DWORD offset = 0;
    while (offset + sizeof(EVENTLOGRECORD) <= size) {
        const auto* record = reinterpret_cast<const EVENTLOGRECORD*>(data + offset);
        if (record->Length < sizeof(EVENTLOGRECORD) || record->Length > size - offset) break;
        const char* name = reinterpret_cast<const char*>(record) + sizeof(EVENTLOGRECORD);
        std::string event_source(name, strnlen(name, record->Length - sizeof(EVENTLOGRECORD)));
        if (source.empty() || event_source == source) {
            char head[96];
            std::snprintf(head, sizeof head, "%-11s 0x%08lX cat %u  ", TypeName(record->EventType),
                          static_cast<unsigned long>(record->EventID), static_cast<unsigned>(record->EventCategory));
            text += head;
            text += event_source;
            text += ':';
            DWORD at = record->StringOffset;
            for (WORD i = 0; i < record->NumStrings && at < record->Length; ++i) {
                const char* s = reinterpret_cast<const char*>(record) + at;
                std::size_t n = strnlen(s, record->Length - at);
                text += " \"";
                text.append(s, n);
                text += '"';
                at += static_cast<DWORD>(n + 1);
            }
            text += '\n';
        }
        offset += record->Length;
    }
}

}  // namespace

bool EventLogDumpText(const std::string& source, std::string& text, std::string& error) {
    text.clear();
    HANDLE log = ::OpenEventLogA(nullptr, "Application");
    if (log == nullptr) {
        error = "cannot open the application event log (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    std::vector<BYTE> buffer(64 * 1024);
    bool ok = true;
    while (true) {
        DWORD read = 0, needed = 0;
        if (::ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &read, &needed)) {
            AppendRecords(buffer.data(), read, source, text);
            continue;
        }
        DWORD code = ::GetLastError();
        if (code == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size()) {
            buffer.resize(needed);
            continue;
        }
        if (code != ERROR_HANDLE_EOF) {
            error = "cannot read the application event log (error " + std::to_string(code) + ")";
            ok = false;
        }
        break;
    }
    ::CloseEventLog(log);
    return ok;
}

}  // namespace win
