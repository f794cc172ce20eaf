// Code pages and the console, libraries and modules, system information,
// the process token, the screen-saver parameters and (on the simulated host
// only: never for real) exit and lock, on both sides.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "platform/library.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/shutdown.h"
#include "platform/system_info.h"
#include "platform/system_params.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
using ProcessContract = contract::ScratchTest;

TEST_F(ProcessContract, CodePagesAndTheConsole) {
    EXPECT_NE(GetACP(), 0u);
    EXPECT_NE(GetOEMCP(), 0u);
    EXPECT_FALSE(IsDBCSLeadByte('A')) << "ASCII never leads a double-byte character";
    EXPECT_FALSE(SetConsoleOutputCP(12345)) << "no such code page";
    const UINT was = GetConsoleOutputCP();
    if (was != 0) {  // a console
        EXPECT_TRUE(SetConsoleOutputCP(850));
        EXPECT_EQ(GetConsoleOutputCP(), 850u);
        SetConsoleOutputCP(was);
    }
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the code pages of the simulated host";
    EXPECT_EQ(std::make_pair(GetACP(), GetOEMCP()), std::make_pair(1252u, 437u)) << "without a state file";
    Write("codepages", "ACP=932\nOEMCP=850\n");
    host::ReloadCodePages();
    EXPECT_EQ(std::make_pair(GetACP(), GetOEMCP()), std::make_pair(932u, 850u));
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_FALSE(IsDBCSLeadByte(0x41));
    std::filesystem::remove(dir_ / "codepages");
    host::ReloadCodePages();
    EXPECT_EQ(SetConsoleCP(12345), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(LibraryContract, KernelLibraryByOrdinalAndModuleHandles) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("VdNoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleHandleA("VdNoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr) << "the program itself";

    HMODULE kernel = LoadLibraryA(VD_KERNEL_LIBRARY);
    ASSERT_NE(kernel, nullptr) << VD_KERNEL_LIBRARY;
    EXPECT_NE(GetModuleHandleA("VDKERNEL.dll"), nullptr) << "loaded now";
    EXPECT_NE(GetProcAddress(kernel, OrdinalName(1)), nullptr) << "operations by ordinal";
    EXPECT_EQ(GetProcAddress(kernel, OrdinalName(9999)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(kernel, "VdNoSuchProcedure"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_TRUE(IsOrdinalName(OrdinalName(0xFFFF)));
    EXPECT_FALSE(IsOrdinalName("name"));
}

TEST(SystemInfoContract, DirectoriesNamesAndVersions) {
    char buffer[64];
    UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof buffer);
    EXPECT_EQ(std::strlen(buffer), n);
    EXPECT_EQ(buffer[1], ':');
    char small[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(GetSystemDirectoryA(small, sizeof small), n + 1) << "too small: the size needed";
    EXPECT_GT(std::strlen(GetCommandLineA()), 0u);

    char module[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, module, sizeof module), sizeof module) << "a long path is cut";
    if (contract::kSimulatedHost) {
        EXPECT_EQ(module[sizeof module - 1], '\0') << "and terminated";
    }
    DWORD handle = 99;
    EXPECT_EQ(GetFileVersionInfoSizeA("no-such-file.exe", &handle), 0u);
    EXPECT_EQ(handle, 0u);
    char block[16] = {};
    EXPECT_FALSE(GetFileVersionInfoA("no-such-file.exe", 0, sizeof block, block));
}

TEST_F(ProcessContract, TokenPrivileges) {
    LUID shutdown{}, notify{};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown));
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_CHANGE_NOTIFY_NAME, &notify));
    EXPECT_NE(shutdown.LowPart, notify.LowPart);
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &notify));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token));
    alignas(8) BYTE buffer[1024];
    DWORD length = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, buffer, 4, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(length, 4u) << "the size needed";
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer);
    bool notify_enabled = false;
    for (DWORD i = 0; i < list->PrivilegeCount; ++i)
        if (list->Privileges[i].Luid.LowPart == notify.LowPart)
            notify_enabled = (list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    EXPECT_TRUE(notify_enabled) << "every process may be told of changes";
    TOKEN_PRIVILEGES wanted{1, {{notify, SE_PRIVILEGE_ENABLED}}};
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(token));
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the privilege list of the simulated host";
    // Without a list: the shutdown privilege (disabled), then change notify.
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    EXPECT_EQ(length, 4u + 2 * 12u);
    ASSERT_EQ(list->PrivilegeCount, 2u);
    EXPECT_EQ(std::make_pair(list->Privileges[0].Luid.LowPart, list->Privileges[0].Attributes),
              std::make_pair(shutdown.LowPart, DWORD{0}));
    list->Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, list, 0, nullptr, nullptr));
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    EXPECT_EQ(list->Privileges[0].Attributes, SE_PRIVILEGE_ENABLED);
    CloseHandle(token);
    Write("privileges.txt", "SeChangeNotifyPrivilege enabled\nBogusName\n");
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &length));
    EXPECT_EQ(list->PrivilegeCount, 1u) << "an unknown name is not held";
    wanted = TOKEN_PRIVILEGES{1, {{shutdown, SE_PRIVILEGE_ENABLED}}};
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED) << "a privilege the token does not hold";
    CloseHandle(token);
    EXPECT_EQ(Lines("security.log"),
              (std::vector<std::string>{"adjust SeChangeNotifyPrivilege=0x2",
                                        "adjust SeShutdownPrivilege=0x2 SeChangeNotifyPrivilege=0x3",
                                        "adjust SeShutdownPrivilege=0x2"}));
}

TEST_F(ProcessContract, ScreenSaverSettingsAndSessionEnd) {
    UINT was = 0, now = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &was, 0));
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, was + 61, nullptr, 0));
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &now, 0));
    EXPECT_EQ(now, was + 61);
    SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, was, nullptr, 0);
    EXPECT_NE(GetDesktopWindow(), nullptr);
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the screen-saver settings of the simulated host";
    // They live as texts in the registry, where Windows keeps them.
    EXPECT_EQ(was, 900u) << "without a stored value";
    auto desktop = [](const char* name) {
        HKEY key = nullptr;
        char text[16] = "<none>";
        DWORD size = sizeof text - 1;
        RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key);
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        return std::string(text);
    };
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &now, 0));
    EXPECT_EQ(now, 0u);
    const std::pair<UINT, UINT> sets[] = {{SPI_SETSCREENSAVEACTIVE, 5}, {SPI_SETSCREENSAVETIMEOUT, 65535},
                                          {SPI_SETSCREENSAVESECURE, 1}};
    for (auto [action, value] : sets) EXPECT_TRUE(SystemParametersInfoA(action, value, nullptr, 0));
    EXPECT_EQ(desktop("ScreenSaveActive") + "," + desktop("ScreenSaveTimeOut") + "," + desktop("ScreenSaverIsSecure"),
              "1,65535,1");
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVESECURE, 0, &now, 0));
    EXPECT_EQ(now, 1u);
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SystemParametersInfoA(0x9999, 0, &now, 0));
    // Listed actions fail; a failed set changes nothing.
    Write("spi-fail.txt", "17\n14\n");
    EXPECT_FALSE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &now, 0));
    EXPECT_EQ(desktop("ScreenSaveActive"), "1");
    // Starting the screen saver is recorded, for the desktop only; exit and
    // lock are recorded and never carried out.
    SendMessageA(GetDesktopWindow(), WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    SendMessageA(nullptr, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    SendMessageA(GetDesktopWindow(), WM_SYSCOMMAND, 0xF060, 0);
    EXPECT_EQ(Lines("screensaver.log"), std::vector<std::string>{"screensaver start"});
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 4));
    EXPECT_TRUE(ExitWindowsEx(EWX_POWEROFF, 0x80000000u));
    EXPECT_TRUE(LockWorkStation());
    EXPECT_EQ(Lines("shutdown.log"), (std::vector<std::string>{"exitwindows flags=0x02 reason=0x00000004",
                                                                "exitwindows flags=0x08 reason=0x80000000", "lock"}));
}

}  // namespace
