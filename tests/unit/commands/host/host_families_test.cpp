// The keyboard filter device over the simulated host: its requests as the
// device sees them and the password flag of its Delete rule. (The families
// themselves have their contract tests in tests/unit/platform.)
#include <gtest/gtest.h>

#include "commands/keyboard_device.h"
#include "platform/test_hooks.h"
#include "platform/device.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "platform/registry.h"
#include "platform/system_params.h"
#include "../test_support.h"

using namespace win;
using cmdtest::ReadLines;
using cmdtest::WriteFile;

namespace {

std::string DesktopText(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return "<no key>";
    char buffer[64] = {};
    DWORD size = sizeof buffer - 1;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buffer) : "<no value>";
}

}  // namespace

TEST(HostDevice, KeyboardRequestsAreRecordedAndFailuresHonoured) {
    cmdtest::ScratchDir scratch;
    {
        KeyboardFilterDevice absent(kKeyboardDevicePath);
        EXPECT_FALSE(absent.IsOpen());
    }
    WriteFile(scratch.State() / "devices" / "KbFilter", "");
    {
        KeyboardFilterDevice device(kKeyboardDevicePath);
        ASSERT_TRUE(device.IsOpen());
        EXPECT_TRUE(device.LockKey(0x001E, 7, 0, 1, 7));
        EXPECT_TRUE(device.UnlockKey(0x001E, 7, 0, 1));
    }
    EXPECT_EQ(ReadLines(scratch.State() / "devices.log"),
              (std::vector<std::string>{"KbFilter code=0x8300A400 in=1e000000010001000700",
                                        "KbFilter code=0x8300A404 in=1e000000010001000000"}));
    KeyboardFilterDevice failing(kKeyboardDevicePath);
    ASSERT_TRUE(failing.IsOpen());
    test::FailCalls("DeviceIoControl", ERROR_GEN_FAILURE);
    EXPECT_FALSE(failing.LockKey(0x001E, 0, 0, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    HANDLE file = CreateFileA(kKeyboardDevicePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD returned = 99;
    EXPECT_FALSE(DeviceIoControl(nullptr, kIoctlReleaseAll, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    CloseHandle(file);
}

TEST(HostDevice, DeleteRuleSwitchesThePasswordFlagOff) {
    cmdtest::ScratchDir scratch;
    WriteFile(scratch.State() / "devices" / "KbFilter", "");
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVESECURE, 1, nullptr, 0));
    KeyboardFilterDevice device(kKeyboardDevicePath);
    EXPECT_EQ(device.saved_secure(), 1);
    // Only modifier c: no change, even for Delete.
    EXPECT_TRUE(device.LockKey(0xE053, 0, 1, 0, 0));
    EXPECT_EQ(DesktopText("ScreenSaverIsSecure"), "1");
    // Not the Delete key: no change.
    EXPECT_TRUE(device.LockKey(0x0052, 0, 1, 1, 0));
    EXPECT_EQ(DesktopText("ScreenSaverIsSecure"), "1");
    EXPECT_TRUE(device.LockKey(0x0053, 3, 1, 1, 9));
    EXPECT_EQ(DesktopText("ScreenSaverIsSecure"), "0");
    auto lines = ReadLines(scratch.State() / "devices.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "KbFilter code=0x8300A400 in=53000100010001000900");
    // Closing does not restore the flag (no lock is tracked).
    device.Close();
    EXPECT_EQ(DesktopText("ScreenSaverIsSecure"), "0");
}
