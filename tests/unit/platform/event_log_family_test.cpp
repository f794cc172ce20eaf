// Event log, debugger output and system information families.
#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/event_log_dump.h"
#include "platform/system_info.h"

namespace {

bool SimulatedHost() { return std::filesystem::path::preferred_separator == '/'; }

class HostStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = std::filesystem::temp_directory_path() / ("vdevlog_" + std::to_string(std::random_device{}()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        win::SetEnvironmentVariableA("VDHOST", dir_.generic_string().c_str());
    }
    void TearDown() override {
        win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::vector<std::string> Lines(const char* name) const {
        std::vector<std::string> lines;
        std::ifstream in(dir_ / name, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
    std::filesystem::path dir_;
};

TEST_F(HostStateTest, ReportsReachTheLogWithTheirFields) {
    win::HANDLE h = win::RegisterEventSourceA(nullptr, "Windows Host Utilities");
    ASSERT_NE(h, nullptr);
    const char* strings[2] = {"first\tline\nnext", "back\\slash"};
    char data[3] = {'A', '\0', 'C'};
    EXPECT_TRUE(win::ReportEventA(h, win::EVENTLOG_WARNING_TYPE, 3, 0x40000007u, nullptr, 2, 3, strings, data));
    EXPECT_TRUE(win::ReportEventA(h, win::EVENTLOG_INFORMATION_TYPE, 0, 0x40000001u, nullptr, 0, 0, nullptr, nullptr));
    if (SimulatedHost()) {
        EXPECT_FALSE(win::ReportEventA(h, 1, 0, 1, nullptr, 1, 0, nullptr, nullptr)) << "a string announced but missing";
        EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(win::DeregisterEventSource(h));
    if (!SimulatedHost()) GTEST_SKIP() << "the log file belongs to the simulated host";

    std::vector<std::string> lines = Lines("eventlog.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Windows Host Utilities\t2\t3\t0x40000007\t410043\tfirst\\tline\\nnext\tback\\\\slash");
    EXPECT_EQ(lines[1], "Windows Host Utilities\t4\t0\t0x40000001\t-");

    std::string text, error;
    EXPECT_TRUE(win::EventLogDumpText("", text, error)) << error;
    EXPECT_NE(text.find("warning"), std::string::npos);
    EXPECT_NE(text.find("0x40000007"), std::string::npos);
    EXPECT_NE(text.find("\"first\\tline\\nnext\""), std::string::npos);
    EXPECT_NE(text.find("data 410043"), std::string::npos);
    EXPECT_TRUE(win::EventLogDumpText("Someone else", text, error));
    EXPECT_EQ(text, "");

    std::ofstream(dir_ / "eventlog.txt", std::ios::app) << "garbage without fields\n";
    EXPECT_FALSE(win::EventLogDumpText("", text, error)) << "an unreadable line is said";
    EXPECT_NE(text.find("0x40000001"), std::string::npos) << "the readable events are still shown";
}

TEST_F(HostStateTest, SourceHandlesAreCheckedAndOnlyTheLocalComputerExists) {
    if (!SimulatedHost()) GTEST_SKIP() << "the host's own refusals";
    EXPECT_EQ(win::RegisterEventSourceA("\\\\elsewhere", "X"), nullptr);
    EXPECT_EQ(win::GetLastError(), win::RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(win::RegisterEventSourceA(nullptr, nullptr), nullptr);
    const char* s[1] = {"x"};
    EXPECT_FALSE(win::ReportEventA(nullptr, 1, 0, 1, nullptr, 1, 0, s, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(win::DeregisterEventSource(nullptr));
    EXPECT_TRUE(Lines("eventlog.txt").empty());
}

TEST_F(HostStateTest, DebugOutputIsOneLinePerCall) {
    win::OutputDebugStringA("plain line\n");
    win::OutputDebugStringA("two\nparts\r\n");
    win::OutputDebugStringA("no line end");
    win::OutputDebugStringA(nullptr);
    if (!SimulatedHost()) GTEST_SKIP() << "the debugger output file belongs to the simulated host";
    std::vector<std::string> lines = Lines("debug.txt");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "plain line");
    EXPECT_EQ(lines[1], "two\\nparts");
    EXPECT_EQ(lines[2], "no line end");
    EXPECT_EQ(lines[3], "");
}

TEST(SystemInfoTest, SystemDirectoryFitsOrTellsTheSizeNeeded) {
    char buffer[64];
    win::UINT n = win::GetSystemDirectoryA(buffer, sizeof buffer);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof buffer);
    EXPECT_EQ(std::strlen(buffer), n);
    EXPECT_EQ(buffer[1], ':');
    char small[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(win::GetSystemDirectoryA(small, sizeof small), n + 1) << "too small: the size needed";
    EXPECT_NE(win::GetCommandLineA(), nullptr);
    EXPECT_GT(std::strlen(win::GetCommandLineA()), 0u);

    char module[8];
    win::DWORD m = win::GetModuleFileNameA(nullptr, module, sizeof module);
    EXPECT_EQ(m, sizeof module) << "a path longer than the buffer is cut";
    if (SimulatedHost()) EXPECT_EQ(module[sizeof module - 1], '\0') << "and terminated";
}

TEST(SystemInfoTest, AFileWithoutVersionInformationGivesNothing) {
    win::DWORD handle = 99;
    EXPECT_EQ(win::GetFileVersionInfoSizeA("no-such-file.exe", &handle), 0u);
    char block[16] = {};
    EXPECT_FALSE(win::GetFileVersionInfoA("no-such-file.exe", 0, sizeof block, block));
}

}  // namespace
