#include "support/trace.h"

#include <cstdio>
#include <mutex>

#include "platform/files.h"

namespace {

std::mutex g_mutex;
std::FILE* g_file = nullptr;

}  // namespace

void vtrace(const char* format, std::va_list args) {
    if (format == nullptr) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_file == nullptr) g_file = win::crt_fopen(kTracePath, "w");
    if (g_file == nullptr) return;
    std::vfprintf(g_file, format, args);
    std::fflush(g_file);
}

void trace(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vtrace(format, args);
    va_end(args);
}

void trace_close() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_file != nullptr) std::fclose(g_file);
    g_file = nullptr;
}
