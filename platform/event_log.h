// Event log: RegisterEventSourceA, ReportEventA, DeregisterEventSource.
//
// Simulated host: a source handle is a host object that remembers the
// source name; every report appends one line to "eventlog.txt" in the host
// state directory (see platform/simulated/host_event_log.h for its form).
// Only the local computer exists: a non-empty server name fails with
// RPC_S_SERVER_UNAVAILABLE.
#pragma once

#include "platform/types.h"

namespace win {

using PSID = void*;

inline constexpr WORD EVENTLOG_SUCCESS = 0x0000;
inline constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// Handle of the event source `source_name` on `server_name` (null or empty:
// the local computer); null on failure.
HANDLE RegisterEventSourceA(LPCSTR server_name, LPCSTR source_name);

// Closes a handle of RegisterEventSourceA.
BOOL DeregisterEventSource(HANDLE event_log);

// Writes one event with `num_strings` insertion strings and `data_size`
// bytes of raw data. FALSE with ERROR_INVALID_HANDLE for a handle that is
// not an event source, ERROR_INVALID_PARAMETER when strings or data are
// announced but missing.
BOOL ReportEventA(HANDLE event_log, WORD type, WORD category, DWORD event_id, PSID user_sid,
                  WORD num_strings, DWORD data_size, LPCSTR* strings, LPVOID raw_data);

}  // namespace win
