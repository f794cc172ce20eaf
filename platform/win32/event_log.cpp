// Event log: the real calls.
#include "platform/event_log.h"
#include "platform/fault_points.h"

#include <windows.h>

namespace win {

HANDLE sys::RegisterEventSourceA(LPCSTR server_name, LPCSTR source_name) {
    return ::RegisterEventSourceA(server_name, source_name);
}

BOOL sys::DeregisterEventSource(HANDLE event_log) {
    return ::DeregisterEventSource(event_log);
}

BOOL sys::ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID user_sid,
                       WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data) {
    return ::ReportEventA(event_log, type, category, event_id, user_sid, num_strings, data_size, strings,
                          raw_data);
}

}  // namespace win
