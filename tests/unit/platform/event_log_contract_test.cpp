// The event log (and its readable listing) and debugger output, on both
// sides; the simulated host's files in its state directory.
#include "platform/event_log.h"

#include "platform/debug_output.h"
#include "platform/error.h"
#include "platform/event_log_dump.h"
#include "tests/unit/platform/contract_fixture.h"

namespace {

using namespace win;
using EventLogContract = contract::ScratchTest;

TEST_F(EventLogContract, ReportsReachTheLogWithTheirFields) {
    HANDLE h = RegisterEventSourceA(nullptr, "Windows Host Utilities");
    ASSERT_NE(h, nullptr);
    const char* strings[2] = {"first\tline\nnext", "back\\slash"};
    char data[3] = {'A', '\0', 'C'};
    EXPECT_TRUE(ReportEventA(h, EVENTLOG_WARNING_TYPE, 3, 0x40000007u, nullptr, 2, 3, strings, data));
    EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0x40000001u, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_TRUE(DeregisterEventSource(h));
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the log file belongs to the simulated host";

    EXPECT_EQ(Lines("eventlog.txt"),
              (std::vector<std::string>{
                  "Windows Host Utilities\t2\t3\t0x40000007\t410043\tfirst\\tline\\nnext\tback\\\\slash",
                  "Windows Host Utilities\t4\t0\t0x40000001\t-"}));
    std::string text, error;
    EXPECT_TRUE(EventLogDumpText("", text, error)) << error;
    for (const char* part : {"warning", "0x40000007", "\"first\\tline\\nnext\"", "data 410043"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    EXPECT_TRUE(EventLogDumpText("Someone else", text, error));
    EXPECT_EQ(text, "");
    std::ofstream(dir_ / "eventlog.txt", std::ios::app) << "garbage without fields\n";
    EXPECT_FALSE(EventLogDumpText("", text, error)) << "an unreadable line is said";
    EXPECT_NE(text.find("0x40000001"), std::string::npos) << "the readable events are still shown";
}

TEST_F(EventLogContract, DebugOutputIsOneLinePerCall) {
    for (const char* text : {"plain line\n", "two\nparts\r\n", "no line end", static_cast<const char*>(nullptr)})
        OutputDebugStringA(text);
    if (!contract::kSimulatedHost) GTEST_SKIP() << "the debugger output file belongs to the simulated host";
    EXPECT_EQ(Lines("debug.txt"), (std::vector<std::string>{"plain line", "two\\nparts", "no line end", ""}));
}

}  // namespace
