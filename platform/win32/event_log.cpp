// Event log: the real calls.
#include "platform/event_log.h"
#include "platform/test_hooks.h"

#include <windows.h>

namespace win {

HANDLE RegisterEventSourceA(LPCSTR server_name, LPCSTR source_name) {
    VD_FAIL_POINT(nullptr);
    return ::RegisterEventSourceA(server_name, source_name);
}

BOOL DeregisterEventSource(HANDLE event_log) {
    VD_FAIL_POINT(FALSE);
    return ::DeregisterEventSource(event_log);
}

BOOL ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID user_sid,
                  WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data) {
    VD_FAIL_POINT(FALSE);
    return ::ReportEventA(event_log, type, category, event_id, user_sid, num_strings, data_size, strings,
                          raw_data);
}

}  // namespace win
