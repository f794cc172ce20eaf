// Readable form of the host's event log, for the runtime command line.
//
// Simulated host: every event of "eventlog.txt" in the state directory, one
// line each: type name, event id, category, source and the insertion
// strings (and the raw data in hex). On Windows: the events of the
// application log whose source is `source` (empty: every source).
#pragma once

#include <string>

namespace win {

bool EventLogDumpText(const std::string& source, std::string& text, std::string& error);

}  // namespace win
