// The fault switch of every platform family: a switched call fails the way
// the real function fails, with its documented failure result and the
// error given, before it reaches the system, on both sides. (The code page,
// last-error and debugger-output families have no call that can fail.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/device.h"
#include "platform/disk.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/event_log.h"
#include "platform/handle.h"
#include "platform/message_table.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/shutdown.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/system_params.h"
#include "platform/time.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
using FaultSwitchContract = contract::ScratchTest;

struct Switched {
    const char* function;
    // Makes one call; true when it gave the function's failure result.
    std::function<bool()> call;
    bool status = false;  // the error is the result (the registry), not the last error
};

HKEY g_key = nullptr;
HANDLE g_handle = nullptr;
LONG g_status = 0;
char g_text[64];
UINT g_value = 0;

const Switched kFamilies[] = {
    {"SetConsoleOutputCP", [] { return !SetConsoleOutputCP(850); }},
    {"DeviceIoControl", [] { return !DeviceIoControl(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
    {"GetDiskFreeSpaceExA", [] { return !GetDiskFreeSpaceExA("C:\\", nullptr, nullptr, nullptr); }},
    {"GetEnvironmentVariableA", [] { return GetEnvironmentVariableA("VDHOST", g_text, sizeof g_text) == 0; }},
    {"RegisterEventSourceA", [] { return RegisterEventSourceA(nullptr, "Vd") == nullptr; }},
    {"CreateFileA",
     [] { return CreateFileA("C:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE; }},
    {"CloseHandle", [] { return !CloseHandle(GetCurrentProcess()); }},
    {"LoadLibraryA", [] { return LoadLibraryA(VD_KERNEL_LIBRARY) == nullptr; }},
    {"FormatMessageA", [] { return FormatMessageA(0, nullptr, 1, 0, g_text, sizeof g_text, nullptr) == 0; }},
    {"GetModuleHandleA", [] { return GetModuleHandleA(nullptr) == nullptr; }},
    {"GetPrivateProfileStringA",
     [] {  // the default, as for a file that cannot be read
         return GetPrivateProfileStringA("S", "K", "fallback  ", g_text, sizeof g_text, "C:\\vd.ini") == 8 &&
                std::string(g_text) == "fallback";
     }},
    {"RegOpenKeyExA",
     [] { return (g_status = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &g_key)) != 0; }, true},
    {"OpenProcessToken", [] { return !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &g_handle); }},
    {"LockWorkStation", [] { return !LockWorkStation(); }},
    {"CreateSemaphoreA", [] { return CreateSemaphoreA(nullptr, 0, 1, nullptr) == nullptr; }},
    {"GetSystemDirectoryA", [] { return GetSystemDirectoryA(g_text, sizeof g_text) == 0; }},
    {"SystemParametersInfoA", [] { return !SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &g_value, 0); }},
    {"SystemTimeToFileTime",
     [] {
         const SYSTEMTIME t{2006, 3, 0, 5, 14, 7, 9, 250};
         FILETIME ft{};
         return !SystemTimeToFileTime(&t, &ft);
     }},
};

TEST_F(FaultSwitchContract, EveryFamilyFailsTheNextCallWithTheErrorGiven) {
    DWORD error = 1100;  // a distinct error per function
    for (const Switched& s : kFamilies) {
        SCOPED_TRACE(s.function);
        test::FailCalls(s.function, ++error);
        SetLastError(0);
        EXPECT_TRUE(s.call());
        EXPECT_EQ(s.status ? static_cast<DWORD>(g_status) : GetLastError(), error);
    }
    test::ClearFaults();
}

TEST_F(FaultSwitchContract, TransientPersistentAndSkippedCalls) {
    char value[8];
    auto fails = [&] { return GetEnvironmentVariableA("VDHOST", value, 0) == 0; };  // size needed, else 0
    test::FailCalls("GetEnvironmentVariableA", ERROR_NOT_ENOUGH_MEMORY, 2, 1);
    EXPECT_EQ((std::vector<bool>{fails(), fails(), fails(), fails()}), (std::vector<bool>{false, true, true, false}))
        << "one call passes, two fail, then the switch is off";
    test::FailCalls("GetEnvironmentVariableA", ERROR_ACCESS_DENIED, test::kUntilCleared);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(fails());
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    test::FailCalls("GetEnvironmentVariableA", ERROR_ACCESS_DENIED, 1, 0);
    test::FailCalls("GetEnvironmentVariableA", ERROR_ACCESS_DENIED, 0, 0);
    EXPECT_FALSE(fails()) << "a later switch of the same function replaces the earlier";
    test::FailCalls("CreateFileA", ERROR_ACCESS_DENIED, test::kUntilCleared);
    test::ClearFaults();
    EXPECT_FALSE(fails());

    // A failing registry call does not reach the screen-saver settings,
    // which do not go through it on Windows either.
    test::FailCalls("RegQueryValueExA", ERROR_ACCESS_DENIED, test::kUntilCleared);
    test::FailCalls("RegOpenKeyExA", ERROR_ACCESS_DENIED, test::kUntilCleared);
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &g_value, 0));
}

}  // namespace
