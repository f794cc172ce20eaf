// Code pages and the console, libraries and modules, system information,
// the process token and the screen-saver parameters, on both sides.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/error.h"
#include "platform/handle.h"
#include "platform/library.h"
#include "platform/module.h"
#include "platform/security.h"
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
}

// Loading by ordinal is checked with the kernel binding (tests/unit/sim).
TEST(LibraryContract, ModuleHandlesAndProcedureNames) {
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("VdNoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr) << "the program itself";
    HMODULE kernel = LoadLibraryA(VD_KERNEL_LIBRARY);
    ASSERT_NE(kernel, nullptr) << VD_KERNEL_LIBRARY;
    EXPECT_NE(GetModuleHandleA("VDKERNEL.dll"), nullptr) << "loaded now";
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
}

TEST_F(ProcessContract, ScreenSaverTimeoutIsSetAndRead) {
    UINT was = 0, now = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &was, 0));
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, was + 61, nullptr, 0));
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &now, 0));
    EXPECT_EQ(now, was + 61);
    SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, was, nullptr, 0);
    EXPECT_NE(GetDesktopWindow(), nullptr);
}

}  // namespace
