// The switch table and the test clock; built into vd_platform only with
// VD_TEST_HOOKS, on both sides.
#include "platform/test_hooks.h"

#include "platform/time.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace win::test {
namespace {

struct Switch {
    DWORD error = 0;
    int count = 0;  // kUntilCleared: every call; 0: no fault
    int skip = 0;
    std::optional<long> result;
    void (*replacement)() = nullptr;
    const std::type_info* type = nullptr;
};

struct Switches {
    std::mutex mutex;
    std::map<std::string, Switch, std::less<>> table;
};
// Never destroyed: calls during the program's exit still ask it.
Switches& Table() {
    static Switches& switches = *new Switches;
    return switches;
}
// Fast path: nothing to look up while no switch is set.
std::atomic<bool> g_armed{false};
std::atomic<CallObserver> g_observer{nullptr};

std::atomic<bool> g_clock_on{false};
std::atomic<ULONGLONG> g_clock_ticks{0};

thread_local int t_depth = 0;

// Drops the switches that neither fail nor replace (the caller holds the lock).
void Prune(Switches& t) {
    std::erase_if(t.table, [](const auto& entry) { return entry.second.count == 0 && !entry.second.replacement; });
    g_armed = !t.table.empty();
}

}  // namespace

void FailCalls(const char* function, DWORD error, int count, int skip, std::optional<long> result) {
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    Switch& s = t.table[function];
    s.error = error;
    s.count = count;
    s.skip = skip;
    s.result = result;
    Prune(t);
}

void ClearFaults() {
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    for (auto& entry : t.table) entry.second.count = 0;
    Prune(t);
}

void ReplaceCalls(const char* function, void (*replacement)(), const std::type_info& type) {
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    Switch& s = t.table[function];
    s.replacement = replacement;
    s.type = &type;
    Prune(t);
}

void SetCallObserver(CallObserver observer) { g_observer = observer; }

Call::Call(const char* function) : function_(function) {
    if (t_depth++ != 0) return;
    if (CallObserver observer = g_observer.load()) observer(function);
    if (!g_armed.load()) return;
    Switches& t = Table();
    std::lock_guard<std::mutex> hold(t.mutex);
    auto it = t.table.find(std::string_view(function));
    if (it == t.table.end()) return;
    Switch& s = it->second;
    replacement_ = s.replacement;
    type_ = s.type;
    if (s.count == 0) return;
    if (s.skip > 0) {
        --s.skip;
        return;
    }
    fails_ = true;
    error_ = s.error;
    result_ = s.result;
    if (s.count != kUntilCleared && --s.count == 0) Prune(t);
}

Call::~Call() { --t_depth; }

void Call::CheckType(const std::type_info& type) const {
    if (*type_ == type) return;
    std::fprintf(stderr, "the replacement of %s has another type than the function\n", function_);
    std::abort();
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
