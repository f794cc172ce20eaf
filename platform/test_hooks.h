// Test hooks, compiled only into test builds (VD_TEST_HOOKS): the switch
// table of the calls that can fail, and a test clock. Without VD_TEST_HOOKS
// none of this exists: the product has no switch.
//
// Switch table: every call that can fail asks it at entry, by name: the
// platform functions of platform/fault_points.h by their Win32 names
// ("RegOpenKeyExA"), and the stand-in kernel's operations by their names
// in kernel_op_name ("write", "next_changed"). A switched call fails the
// way the real one does: a platform function with its documented failure
// result and the error given (its last error, or its result for the
// registry); a kernel operation with -1 (or the result given) and the error
// left for kernel_last_error. A call can also be replaced, so a test build
// never leaves or locks the session.
//
// Test clock: while it is on, Sleep advances a virtual tick count and only
// yields, and GetTickCount / GetTickCount64 report that count, so a test
// costs what it computes rather than the pauses of the code under test.
#pragma once
#include "platform/error.h"
#include "platform/types.h"

#if defined(VD_TEST_HOOKS)
#include <cstddef>
#include <optional>
#include <typeinfo>

namespace win::test {

// Fails calls of `function` with `error`: after `skip` calls that pass, the
// next `count` calls fail, or every later call when `count` is
// kUntilCleared; 0 switches it off. `result`, for a kernel operation, is
// what it answers instead of -1. Replaces an earlier switch of the function.
inline constexpr int kUntilCleared = -1;
void FailCalls(const char* function, DWORD error, int count = 1, int skip = 0,
               std::optional<long> result = std::nullopt);
// Switches every fault off (replacements stay).
void ClearFaults();

// Calls `replacement` (a function of the platform function's own type) in
// place of the platform function `function` until replaced with null.
void ReplaceCalls(const char* function, void (*replacement)(), const std::type_info& type);
template <typename F>
void ReplaceCalls(const char* function, F* replacement) {
    ReplaceCalls(function, reinterpret_cast<void (*)()>(replacement), typeid(F));
}
inline void ReplaceCalls(const char* function, std::nullptr_t) { ReplaceCalls(function, nullptr, typeid(void)); }

// Told of every call that asks the switch table (null: nobody). Runs on the
// calling thread, outside the table's lock.
using CallObserver = void (*)(const char* function);
void SetCallObserver(CallObserver observer);

// One call that asks the switch table, for the length of the call. Only the
// outermost one counts: a platform function that calls another (the
// simulated host's RegOpenKeyA calls RegOpenKeyExA) is one call, as on
// Windows, where the inner call is inside the system.
class Call {
public:
    explicit Call(const char* function);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    bool Fails() const { return fails_; }
    DWORD Error() const { return error_; }
    long Result(long otherwise) const { return result_.value_or(otherwise); }
    // The replacement of a function of type F, or null.
    template <typename F>
    F* Replacement() const {
        if (replacement_ == nullptr) return nullptr;
        CheckType(typeid(F));
        return reinterpret_cast<F*>(replacement_);
    }

private:
    void CheckType(const std::type_info& type) const;
    bool fails_ = false;
    DWORD error_ = 0;
    std::optional<long> result_;
    void (*replacement_)() = nullptr;
    const std::type_info* type_ = nullptr;
    const char* function_;
};

// The test clock: off at start; switching it on starts the virtual count
// at the real tick count.
void UseTestClock(bool on);
bool TestClockOn();
ULONGLONG TestClockTicks();
void TestClockAdvance(DWORD milliseconds);

}  // namespace win::test

// In Sleep and the tick counts: the test clock's answer while it is on.
#define VD_TEST_CLOCK_SLEEP(milliseconds)                   \
    if (::win::test::TestClockOn()) {                       \
        ::win::test::TestClockAdvance(milliseconds);        \
        return;                                             \
    }
#define VD_TEST_CLOCK_TICKS(type) \
    if (::win::test::TestClockOn()) return static_cast<type>(::win::test::TestClockTicks())
#else
#define VD_TEST_CLOCK_SLEEP(milliseconds) static_cast<void>(0)
#define VD_TEST_CLOCK_TICKS(type) static_cast<void>(0)
#endif
