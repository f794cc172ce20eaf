// The simulated host's families used by the commands: disk figures, the
// screen-saver settings in the registry, the process token, exit and lock
// records, and device requests.
#include <gtest/gtest.h>

#include "commands/keyboard_device.h"
#include "platform/test_hooks.h"
#include "platform/device.h"
#include "platform/disk.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/shutdown.h"
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

TEST(HostDisk, OverrideFiguresNotReadyAndMissingDrives) {
    cmdtest::ScratchDir scratch;
    WriteFile(scratch.State() / "diskspace.txt",
              "# test figures\n"
              "C: 3221225472 10737418240 3221225473\n"
              "d: 5497558138880 6000000000000\n"
              "A: notready\n"
              "E: garbage here\n");
    ULARGE_INTEGER avail{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &avail, &total, &free));
    EXPECT_EQ(avail.QuadPart, 3221225472ull);
    EXPECT_EQ(total.QuadPart, 10737418240ull);
    EXPECT_EQ(free.QuadPart, 3221225473ull);

    ASSERT_TRUE(GetDiskFreeSpaceExA("D:\\", &avail, nullptr, &free));  // lower-case line, null output
    EXPECT_EQ(avail.QuadPart, 5497558138880ull);
    EXPECT_EQ(free.QuadPart, 5497558138880ull);  // third figure left out: equals the first

    EXPECT_FALSE(GetDiskFreeSpaceExA("A:\\", &avail, &total, &free));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    // A malformed line counts as absent; E: is not mapped either.
    EXPECT_FALSE(GetDiskFreeSpaceExA("E:\\", &avail, &total, &free));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(GetDiskFreeSpaceExA(nullptr, &avail, &total, &free));
    EXPECT_FALSE(GetDiskFreeSpaceExA("1:\\", &avail, &total, &free));
}

TEST(HostDisk, MappedDriveGivesRealFigures) {
    cmdtest::ScratchDir scratch;
    WriteFile(scratch.State() / "drives.txt", "F: " + scratch.Dir().generic_string() + "\n");
    ULARGE_INTEGER avail{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("F:\\", &avail, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(avail.QuadPart, total.QuadPart);
    EXPECT_LE(free.QuadPart, total.QuadPart);
}

TEST(HostSystemParams, ScreenSaverValuesLiveInTheRegistry) {
    cmdtest::ScratchDir scratch;
    UINT value = 77;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &value, 0));
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &value, 0));
    EXPECT_EQ(value, 900u);  // default without a value

    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 5, nullptr, 0));
    EXPECT_EQ(DesktopText("ScreenSaveActive"), "1");
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, 65535, nullptr, 0));
    EXPECT_EQ(DesktopText("ScreenSaveTimeOut"), "65535");
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &value, 0));
    EXPECT_EQ(value, 65535u);
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVESECURE, 1, nullptr, 0));
    EXPECT_EQ(DesktopText("ScreenSaverIsSecure"), "1");
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVESECURE, 0, &value, 0));
    EXPECT_EQ(value, 1u);

    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_FALSE(SystemParametersInfoA(0x9999, 0, &value, 0));

    WriteFile(scratch.State() / "spi-fail.txt", "17\n14\n");
    EXPECT_FALSE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &value, 0));
    EXPECT_EQ(DesktopText("ScreenSaveActive"), "1");  // the failed set changed nothing
}

TEST(HostSystemParams, ScreenSaverStartIsRecordedOnlyForTheDesktop) {
    cmdtest::ScratchDir scratch;
    SendMessageA(GetDesktopWindow(), WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    SendMessageA(nullptr, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    SendMessageA(GetDesktopWindow(), WM_SYSCOMMAND, 0xF060, 0);
    EXPECT_EQ(ReadLines(scratch.State() / "screensaver.log"), std::vector<std::string>{"screensaver start"});
}

TEST(HostSecurity, TokenPrivilegesAdjustAndDenial) {
    cmdtest::ScratchDir scratch;
    LUID shutdown{};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown));
    LUID unknown{};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &unknown));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    alignas(8) unsigned char buffer[1024];
    DWORD length = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buffer, 8, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 4u + 2 * 12u);
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
    ASSERT_EQ(list->PrivilegeCount, 2u);
    EXPECT_EQ(list->Privileges[0].Luid.LowPart, shutdown.LowPart);
    EXPECT_EQ(list->Privileges[0].Attributes, 0u);
    list->Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, list, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    EXPECT_EQ(list->Privileges[0].Attributes, SE_PRIVILEGE_ENABLED);
    EXPECT_TRUE(CloseHandle(token));
    auto log = ReadLines(scratch.State() / "security.log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "adjust SeShutdownPrivilege=0x2 SeChangeNotifyPrivilege=0x3");

    // A token without the shutdown privilege: adjusting it is not assigned.
    WriteFile(scratch.State() / "privileges.txt", "SeChangeNotifyPrivilege enabled\nBogusName\n");
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    EXPECT_EQ(list->PrivilegeCount, 1u);
    TOKEN_PRIVILEGES wanted{1, {{shutdown, SE_PRIVILEGE_ENABLED}}};
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    CloseHandle(token);

    test::FailCalls("OpenProcessToken", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(HostShutdown, ExitAndLockAreRecordedNeverCarriedOut) {
    cmdtest::ScratchDir scratch;
    SetShutdownTestHooks(nullptr);
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 4));
    EXPECT_TRUE(ExitWindowsEx(EWX_POWEROFF, 0x80000000u));
    EXPECT_TRUE(LockWorkStation());
    EXPECT_EQ(ReadLines(scratch.State() / "shutdown.log"),
              (std::vector<std::string>{"exitwindows flags=0x02 reason=0x00000004",
                                        "exitwindows flags=0x08 reason=0x80000000", "lock"}));
}

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
