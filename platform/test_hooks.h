// Test hooks of the platform layer, compiled only into test builds
// (VD_TEST_HOOKS): fault switches and a test clock, the same on both sides.
//
// Fault switches: every platform function that can fail checks at entry
// (VD_FAIL_POINT) whether a test asked it to fail; it then fails the way
// the real function does, with its documented failure result and the
// error given (SetLastError, or the returned status for the registry).
// Without VD_TEST_HOOKS the checks expand to nothing and none of this
// exists: the product has no switch.
//
// Test clock: while it is on, Sleep advances a virtual tick count and only
// yields, and GetTickCount / GetTickCount64 report that count, so a test
// costs what it computes rather than the pauses of the code under test.
#pragma once
#include "platform/error.h"
#include "platform/types.h"

#if defined(VD_TEST_HOOKS)
namespace win::test {

// Fails calls of `function` (its Win32 name, "RegOpenKeyExA") with `error`:
// after `skip` calls that pass, the next `count` calls fail, or every later
// call when `count` is kUntilCleared; 0 switches it off. Replaces an
// earlier switch of the function.
inline constexpr int kUntilCleared = -1;
void FailCalls(const char* function, DWORD error, int count = 1, int skip = 0);
void ClearFaults();

// Told of every call of a function that has a fault point (null: nobody).
// Runs on the calling thread, outside the switch table's lock.
using CallObserver = void (*)(const char* function);
void SetCallObserver(CallObserver observer);

// One call of a platform function with a fault point, for the length of
// the call. Only the outermost one counts: a platform function that calls
// another (the simulated host's RegOpenKeyA calls RegOpenKeyExA) is one
// call, as on Windows, where the inner call is inside the system.
class PlatformCall {
public:
    explicit PlatformCall(const char* function);
    ~PlatformCall();
    PlatformCall(const PlatformCall&) = delete;
    PlatformCall& operator=(const PlatformCall&) = delete;
    bool Fails() const { return fails_; }
    DWORD Error() const { return error_; }

private:
    bool fails_ = false;
    DWORD error_ = 0;
};

// What a read of a settings file that cannot be read gives: the default
// (trailing blanks dropped, cut to size-1), or an empty list.
DWORD UnreadableProfileString(LPCSTR app_name, LPCSTR key_name, LPCSTR default_value, LPSTR returned, DWORD size);

// The test clock: off at start; switching it on starts the virtual count
// at the real tick count.
void UseTestClock(bool on);
bool TestClockOn();
ULONGLONG TestClockTicks();
void TestClockAdvance(DWORD milliseconds);

}  // namespace win::test

// The fault point at the entry of a platform function: VD_FAULT_ENTRY()
// starts the call; VD_FAULT_HIT() says whether it is to fail, with
// VD_FAULT_ERROR(). VD_FAIL_POINT(result) is the usual form: return
// `result` with the error as the last error. VD_FAIL_POINT_STATUS() returns
// the error itself (the registry).
#define VD_FAULT_ENTRY() const ::win::test::PlatformCall vd_platform_call_(__func__)
#define VD_FAULT_HIT() vd_platform_call_.Fails()
#define VD_FAULT_ERROR() vd_platform_call_.Error()
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
#define VD_FAULT_ENTRY() static_cast<void>(0)
#define VD_FAULT_HIT() false
#define VD_FAULT_ERROR() ::win::DWORD{0}
#endif

#define VD_FAIL_POINT(failure_result)              \
    VD_FAULT_ENTRY();                              \
    if (VD_FAULT_HIT()) {                          \
        ::win::SetLastError(VD_FAULT_ERROR());     \
        return failure_result;                     \
    }
#define VD_FAIL_POINT_STATUS()                               \
    VD_FAULT_ENTRY();                                        \
    if (VD_FAULT_HIT()) return static_cast<::win::LONG>(VD_FAULT_ERROR())
