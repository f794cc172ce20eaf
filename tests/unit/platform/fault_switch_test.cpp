// The switch table of platform/test_hooks.h, on both sides: which calls of
// a switched function fail, and how (the last error, the registry's
// status, the settings file's default); a replaced function runs the
// replacement until it is replaced with null.
#include <string>

#include "platform/files.h"
#include "platform/handle.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
using FaultSwitch = contract::ScratchTest;

TEST_F(FaultSwitch, SkippedCallsPassThenCountedCallsFailWithTheErrorGiven) {
    test::FailCalls("CreateSemaphoreA", ERROR_NOT_ENOUGH_MEMORY, 2, 1);
    std::string failed;
    for (int i = 0; i < 4; ++i) {
        SetLastError(0);
        HANDLE h = CreateSemaphoreA(nullptr, 0, 1, nullptr);
        failed += h == nullptr && GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? 'F' : '.';
        if (h != nullptr) CloseHandle(h);
    }
    EXPECT_EQ(failed, ".FF.");

    test::FailCalls("RegOpenKeyExA", ERROR_ACCESS_DENIED, test::kUntilCleared);
    HKEY key = nullptr;
    SetLastError(0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(GetLastError(), 0u) << "the registry returns its error";
    test::ClearFaults();
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) != LONG{ERROR_ACCESS_DENIED}) {
        RegCloseKey(key);
    } else {
        ADD_FAILURE() << "still failing after ClearFaults";
    }

    // A settings read that fails gives what an unreadable file gives.
    test::FailCalls("GetPrivateProfileStringA", ERROR_FILE_NOT_FOUND);
    char text[6];
    EXPECT_EQ(GetPrivateProfileStringA("S", "K", "fallback  ", text, sizeof text, "C:\\vd.ini"), 5u);
    EXPECT_EQ(std::string(text), "fallb");
}

TEST_F(FaultSwitch, AReplacedFunctionRunsTheReplacementUntilReplacedWithNull) {
    const std::string missing = (dir_ / "missing").string();
    test::ReplaceCalls("GetFileAttributesA", +[](LPCSTR) -> DWORD { return 0x1234; });
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), 0x1234u);
    test::FailCalls("GetFileAttributesA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "a fault comes first";
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), 0x1234u);
    test::ReplaceCalls("GetFileAttributesA", nullptr);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
