// The event message library renders each event identifier the task reports
// as its one insertion string. Needs the Windows build (message tables).
#include "platform/message_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Render(win::HMODULE module, win::DWORD id, const char* text) {
    std::uintptr_t args[] = {reinterpret_cast<std::uintptr_t>(text)};
    char buffer[256] = {};
    win::DWORD n = win::FormatMessageA(win::FORMAT_MESSAGE_FROM_HMODULE | win::FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                       id, 0, buffer, sizeof buffer, reinterpret_cast<va_list*>(args));
    return std::string(buffer, n);
}

TEST(EventMessageLibrary, EveryReportedIdentifierShowsItsText) {
#ifndef VD_MSG_DLL
    GTEST_SKIP() << "the simulated host has no message tables";
#else
    win::HMODULE module = win::LoadLibraryExA(VD_MSG_DLL, nullptr, win::LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << VD_MSG_DLL;
    for (win::DWORD id : {0x40000001u, 0x40000004u, 0x40000007u}) {
        std::string shown = Render(module, id, "VDWINUT disk C: 42 % free");
        EXPECT_EQ(shown.substr(0, 25), "VDWINUT disk C: 42 % free") << std::hex << id;
        EXPECT_LE(shown.size(), 27u) << "only the insertion string and the line end";
    }
    EXPECT_EQ(Render(module, 0x40000002u, "x"), "") << "identifiers the task never reports are absent";
    win::FreeLibrary(module);
#endif
}

}  // namespace
