#include "support/time_text.h"

#include <cstdio>
#include <mutex>

#include "platform/registry.h"
#include "platform/time.h"
#include "support/format.h"

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct Regional {
    bool loaded = false;
    char time_separator = ':';
    char date_separator = '-';
    int date_order = 0;
};

std::mutex g_mutex;
Regional g_regional;

// Reads one value with a 2-byte buffer; false when it cannot be read.
bool ReadTwo(win::HKEY key, const char* name, char (&buf)[2]) {
    win::DWORD size = sizeof buf;
    win::DWORD type = 0;
    return win::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<win::BYTE*>(buf), &size) ==
               win::ERROR_SUCCESS &&
           size > 0;
}

}  // namespace

int time_text_of(const win::SYSTEMTIME& t, char* out, std::size_t size) {
    return format_text(out, size, "%.2d:%.2d:%.2d", t.wHour, t.wMinute, t.wSecond);
}

int date_text_of(const win::SYSTEMTIME& t, char* out, std::size_t size) {
    const char* day = t.wDayOfWeek < 7 ? kDays[t.wDayOfWeek] : "???";
    const char* month = t.wMonth >= 1 && t.wMonth <= 12 ? kMonths[t.wMonth - 1] : "???";
    return format_text(out, size, "%s %s %2d %4d", day, month, t.wDay, t.wYear);
}

int time_text(char* out, std::size_t size) {
    win::SYSTEMTIME now{};
    win::GetLocalTime(&now);
    return time_text_of(now, out, size);
}

int date_text(char* out, std::size_t size) {
    win::SYSTEMTIME now{};
    win::GetLocalTime(&now);
    return date_text_of(now, out, size);
}

int regional_separators(char out[2]) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_regional.loaded) {
        win::HKEY key = nullptr;
        if (win::RegOpenKeyA(win::HKEY_CURRENT_USER, "Control Panel\\International", &key) != win::ERROR_SUCCESS) {
            std::fputs("\n REGTRY: RegOpenKey error\n", stdout);
            std::fflush(stdout);
            if (out != nullptr) out[0] = out[1] = '\0';
            return 0;
        }
        Regional r;
        char buf[2];
        if (ReadTwo(key, "sDate", buf)) r.date_separator = buf[0];
        if (ReadTwo(key, "sTime", buf)) r.time_separator = buf[0];
        if (ReadTwo(key, "iDate", buf)) r.date_order = static_cast<unsigned char>(buf[0]) & 3;
        win::RegCloseKey(key);
        r.loaded = true;
        g_regional = r;
    }
    if (out != nullptr) {
        out[0] = g_regional.time_separator;
        out[1] = g_regional.date_separator;
    }
    return g_regional.date_order;
}

void regional_settings_forget() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_regional = Regional{};
}
