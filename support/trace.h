// The library's debug trace: printf-style text appended to
// "c:/temp/idebug.out" (on the simulated host the file that path maps to
// through the drive mapping). The file is emptied when first opened and
// stays open for the life of the process; if it cannot be opened the call
// does nothing and the next call tries again. Safe to call from several
// threads.
#pragma once

#include <cstdarg>

inline constexpr const char* kTracePath = "c:/temp/idebug.out";

void trace(const char* format, ...);
void vtrace(const char* format, std::va_list args);

// Closes the trace file so the next call opens (and empties) it again
// (for tests).
void trace_close();
