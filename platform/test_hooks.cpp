// The fault switch table and the test clock; built into vd_platform only
// with VD_TEST_HOOKS, on both sides.
#include "platform/test_hooks.h"

#include "platform/time.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace win::test {
namespace {

struct Fault {
    DWORD error = 0;
    int count = 0;  // kUntilCleared: every call
    int skip = 0;
};

struct Switches {
    std::mutex mutex;
    std::map<std::string, Fault, std::less<>> faults;
};
Switches& Table() {
    static Switches table;
    return table;
}
// Fast path: nothing to look up while no switch is set.
std::atomic<bool> g_armed{false};
std::atomic<CallObserver> g_observer{nullptr};

std::atomic<bool> g_clock_on{false};
std::atomic<ULONGLONG> g_clock_ticks{0};

}  // namespace

void FailCalls(const char* function, DWORD error, int count, int skip) {
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    if (count == 0) {
        t.faults.erase(std::string(function));
    } else {
        t.faults[function] = Fault{error, count, skip};
    }
    g_armed = !t.faults.empty();
}

void ClearFaults() {
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    t.faults.clear();
    g_armed = false;
}

void SetCallObserver(CallObserver observer) { g_observer = observer; }

namespace {
thread_local int t_depth = 0;
}  // namespace

PlatformCall::PlatformCall(const char* function) {
    if (t_depth++ != 0) return;
    if (CallObserver observer = g_observer.load()) observer(function);
    if (!g_armed.load()) return;
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    auto it = t.faults.find(std::string_view(function));
    if (it == t.faults.end()) return;
    Fault& f = it->second;
    if (f.skip > 0) {
        --f.skip;
        return;
    }
    fails_ = true;
    error_ = f.error;
    if (f.count != kUntilCleared && --f.count <= 0) {
        t.faults.erase(it);
        if (t.faults.empty()) g_armed = false;
    }
}

PlatformCall::~PlatformCall() { --t_depth; }

DWORD UnreadableProfileString(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned,
                              DWORD size) {
    if (returned == nullptr || size == 0) return 0;
    if (app_name == nullptr || key_name == nullptr) {
        returned[0] = '\0';
        if (size > 1) returned[1] = '\0';
        return 0;
    }
    std::string_view text = default_value == nullptr ? std::string_view() : std::string_view(default_value);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const DWORD n = text.size() < size ? static_cast<DWORD>(text.size()) : size - 1;
    std::memcpy(returned, text.data(), n);
    returned[n] = '\0';
    return n;
}

void UseTestClock(bool on) {
    if (on && !g_clock_on) g_clock_ticks = GetTickCount64();  // still the real count
    g_clock_on = on;
}

bool TestClockOn() { return g_clock_on.load(); }
ULONGLONG TestClockTicks() { return g_clock_ticks.load(); }

void TestClockAdvance(DWORD milliseconds) {
    g_clock_ticks += milliseconds;
    std::this_thread::yield();
}

}  // namespace win::test
