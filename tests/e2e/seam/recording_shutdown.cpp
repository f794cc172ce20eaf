// Linked only into the test build of vdwinut: diverts the exit and lock
// calls to lines of the file named by VDTEST_SHUTDOWN_RECORD
// ("exitwindows flags=0xFF reason=N", "lock"), so end-to-end tests see the
// exact calls without leaving the session or locking it.
#include <cstdio>
#include <cstdlib>

#include "platform/shutdown.h"

namespace {

void Record(const char* line) {
    const char* path = std::getenv("VDTEST_SHUTDOWN_RECORD");
    if (path == nullptr || *path == '\0') return;
    if (std::FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line);
        std::fclose(f);
    }
}

win::BOOL RecordExit(win::UINT flags, win::DWORD reason) {
    char line[64];
    std::snprintf(line, sizeof line, "exitwindows flags=0x%02X reason=%u", static_cast<unsigned>(flags),
                  static_cast<unsigned>(reason));
    Record(line);
    return 1;
}

win::BOOL RecordLock() {
    Record("lock");
    return 1;
}

const bool installed = [] {
    static const win::ShutdownTestHooks hooks{RecordExit, RecordLock};
    win::SetShutdownTestHooks(&hooks);
    return true;
}();

}  // namespace
