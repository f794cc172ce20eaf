// vdrt eventlog [SOURCE]: prints the host's event log (on the simulated
// host every event of its event log file; on Windows the application log),
// optionally only the events of one source.
#include <cstdio>

#include "platform/event_log_dump.h"
#include "tools/vdrt/vdrt.h"

namespace vdrt {
namespace {

int EventLog(const Args& args, const Options&) {
    if (args.size() > 1) {
        Error("usage: vdrt eventlog [SOURCE]");
        return kExitUsage;
    }
    std::string text;
    std::string error;
    bool ok = win::EventLogDumpText(args.empty() ? std::string() : args[0], text, error);
    std::fputs(text.c_str(), stdout);
    if (!ok) {
        Error("eventlog: " + error);
        return kExitError;
    }
    return kExitOk;
}

const Registrar kEventLog({"eventlog", "[SOURCE]", "print the host's event log", EventLog});

}  // namespace
}  // namespace vdrt
