// The fault switch of each platform family the system's tests switch: a
// switched call fails the way the real function fails, with its documented
// failure result and the error given, on both sides. A switch that let the
// call pass would leave those tests checking nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/device.h"
#include "platform/disk.h"
#include "platform/error.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/handle.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/sync.h"
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

const Switched kFamilies[] = {
    {"DeviceIoControl", [] { return !DeviceIoControl(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, nullptr); }},
    {"GetDiskFreeSpaceExA", [] { return !GetDiskFreeSpaceExA("C:\\", nullptr, nullptr, nullptr); }},
    {"RegisterEventSourceA", [] { return RegisterEventSourceA(nullptr, "Vd") == nullptr; }},
    {"ReportEventA", [] { return !ReportEventA(nullptr, 0, 0, 1, nullptr, 0, 0, nullptr, nullptr); }},
    {"CreateFileA",
     [] { return CreateFileA("C:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE; }},
    {"GetPrivateProfileStringA",
     [] {  // the default, as for a file that cannot be read
         return GetPrivateProfileStringA("S", "K", "fallback  ", g_text, sizeof g_text, "C:\\vd.ini") == 8 &&
                std::string(g_text) == "fallback";
     }},
    {"RegOpenKeyExA",
     [] { return (g_status = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &g_key)) != 0; }, true},
    {"OpenProcessToken", [] { return !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &g_handle); }},
    {"CreateSemaphoreA", [] { return CreateSemaphoreA(nullptr, 0, 1, nullptr) == nullptr; }},
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

}  // namespace
