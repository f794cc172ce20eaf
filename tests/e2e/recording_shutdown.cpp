// Linked only into vdwinut_recording: replaces the exit and lock calls with
// lines of the file named by VDTEST_SHUTDOWN_RECORD ("exitwindows
// flags=0xFF reason=N", "lock"), so end-to-end tests see the exact calls
// without leaving the session or locking it.
#include <cstdio>
#include <cstdlib>

#include "platform/test_hooks.h"

namespace {

win::BOOL Record(const char* line) {
    const char* path = std::getenv("VDTEST_SHUTDOWN_RECORD");
    std::FILE* f = path != nullptr && *path != '\0' ? std::fopen(path, "ab") : nullptr;
    if (f != nullptr) std::fprintf(f, "%s\n", line), std::fclose(f);
    return 1;
}

const bool installed = [] {
    win::test::ReplaceCalls("ExitWindowsEx", +[](win::UINT flags, win::DWORD reason) -> win::BOOL {
        char line[64];
        std::snprintf(line, sizeof line, "exitwindows flags=0x%02X reason=%u", flags, static_cast<unsigned>(reason));
        return Record(line);
    });
    win::test::ReplaceCalls("LockWorkStation", +[]() -> win::BOOL { return Record("lock"); });
    return true;
}();

}  // namespace
