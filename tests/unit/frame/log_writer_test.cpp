#include "frame/log_writer.h"

#include "tests/support/log_fixture.h"

namespace {

using logtest::ReadFile;
using logtest::ReadLines;
using logtest::SimulatedHost;

class LogWriterTest : public logtest::TaskFixture {
protected:
    void SetUp() override {
        TaskFixture::SetUp();
        Attach();
    }
    // The level setting, the file sink and (`all`) the other three.
    static void Sinks(int level, int all = 0) {
        LogSettings& log = log_settings();
        log.debug_level = level;
        log.log_to_file = 1;
        log.log_to_screen = log.log_to_debugger = log.log_to_event_log = all;
    }
    std::vector<std::string> Events() const { return ReadLines(State() / "eventlog.txt"); }
};

TEST_F(LogWriterTest, LinesUpToTheLevelSettingAreWritten) {
    Sinks(0, 1);  // level 0: nothing anywhere
    testing::internal::CaptureStdout();
    WriteLog("TASK_START", 1, 0, kEventKindStart, nullptr, 0, "a", "b", "c");
    WriteLog("VDERROR", 2, 2, kEventKindMessage, nullptr, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log_settings().log_opened, 0);
    EXPECT_FALSE(std::filesystem::exists(State() / "debug.txt"));
    EXPECT_FALSE(std::filesystem::exists(State() / "eventlog.txt"));

    Sinks(1);
    WriteLog("TASK_START %s %s", 1, 0, kEventKindStart, nullptr, 0, "VDWINUT", "Title");
    WriteLog("an error status", 2, 2, kEventKindMessage, nullptr, 0);
    WriteLog("a plain status", 4, 4, kEventKindMessage, nullptr, 0);
    WriteLog("TASK_STOP", 1, 0, kEventKindStop, nullptr, 0);
    Sinks(4);
    WriteLog("a plain status", 4, 4, kEventKindMessage, nullptr, 0);
    WriteLog("too detailed", 5, 4, kEventKindMessage, nullptr, 0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"TASK_START VDWINUT Title", "TASK_STOP", "a plain status"}));
}

TEST_F(LogWriterTest, FirstAttemptOfTheProcessReplacesTheOldLogThenLinesAppend) {
    logtest::WriteFile(TaskLog(), "old contents of an earlier run\r\n");
    Sinks(4);
    WriteLog("first", 1, 0, kEventKindStart, nullptr, 0);
    WriteLog("second", 1, 0, kEventKindStart, nullptr, 0);
    std::string extra = "extra text";
    WriteLog("third", 1, 0, kEventKindMessage, extra.c_str(), 5);
    // The extra line: 18 blanks, cut at its length.
    EXPECT_EQ(Texts(), (std::vector<std::string>{"first", "second", "third", "<bad record:                   extra\r>"}));
    // With the debugger sink on as well, the file records are the same.
    log_settings().log_to_debugger = 1;
    WriteLog("fourth", 1, 0, kEventKindStart, nullptr, 0);
    EXPECT_EQ(Texts().back(), "fourth") << "each record ends in exactly CR LF";

    // In a fresh process, a file that cannot be opened is skipped, and tried
    // again by appending.
    log_settings().log_opened = 0;
    log_settings().log_path = (App() / "missing" / "task.log").generic_string();
    WriteLog("lost", 1, 0, kEventKindStart, nullptr, 0);
    EXPECT_NE(log_settings().log_opened, 0) << "the first attempt counts even when it fails";
    std::filesystem::create_directories(App() / "missing");
    logtest::WriteFile(App() / "missing" / "task.log", "kept\r\n");
    WriteLog("found", 1, 0, kEventKindStart, nullptr, 0);
    std::string text = ReadFile(App() / "missing" / "task.log");
    EXPECT_EQ(text.rfind("kept\r\n", 0), 0u) << "appended, not truncated";
    EXPECT_NE(text.find("found\r\n"), std::string::npos);
}

TEST_F(LogWriterTest, LongLinesAreCutAndPercentSignsAreSafe) {
    Sinks(4);
    std::string big(3000, 'x');
    WriteLog("%s", 1, 0, kEventKindMessage, nullptr, 0, big.c_str());
    msg_insert(msg_root_slot(), "PCT", "100%% sure");
    msg_insert(msg_root_slot(), "VALUE", "value %d of %s");
    WriteLog("50% done %s %n", 1, 0, kEventKindMessage, nullptr, 0);  // a ready text: verbatim
    WriteLog("PCT", 1, 0, kEventKindMessage, nullptr, 0);             // a catalog text without arguments
    WriteLog("VALUE", 1, 0, kEventKindMessage, nullptr, 0, 7, "ten");
    WriteLog("MISSING %d", 1, 0, kEventKindMessage, nullptr, 0, 42);  // no entry: the key is the format
    WriteLog(nullptr, 1, 0, kEventKindMessage, nullptr, 0);
    // A null key gives an empty line.
    EXPECT_EQ(Texts(), (std::vector<std::string>{std::string(kLogLineSize - 1, 'x'), "50% done %s %n", "100% sure",
                                                 "value 7 of ten", "MISSING 42", ""}));
}

TEST_F(LogWriterTest, EverySinkGetsItsRecordsAndHostileCatalogTextsReadOnlyTheArgumentsPassed) {
    Sinks(4, 1);
    msg_insert(msg_root_slot(), "TASK_START", "%s (%s) in %s%s%s%s%s%s%s%s %n%d");
    msg_insert(msg_root_slot(), "TASK_STOP", "%d %c %s");
    testing::internal::CaptureStdout();
    WriteLog("TASK_START", 1, 0, kEventKindStart, nullptr, 0, "VDWINUT", "Title", "C:/app");
    WriteLog("TASK_STOP", 1, 0, kEventKindStop, "ignored", 7, "VDWINUT", "Title", "C:/app");
    WriteLog("status", 2, 2, kEventKindMessage, nullptr, 0);
    WriteLog("with data", 4, 4, kEventKindMessage, "AB", 2);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string start = "VDWINUT (Title) in C:/app%s%s%s%s%s%s%s n%d";
    const std::string stop = "%d %c C:/app";  // texts are used up by the number directives
    const std::string pad(18, ' ');
    EXPECT_EQ(Texts(), (std::vector<std::string>{start, stop, "<bad record: " + pad + "ignored\r>", "status",
                                                 "with data", "<bad record: " + pad + "AB\r>"}));
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )");
    EXPECT_EQ(std::regex_replace(out, stamp, "#"),
              "#" + start + "\n#" + stop + "\n" + pad + "ignored\n#status\n#with data\n" + pad + "AB\n");
    if (!SimulatedHost()) return;  // debugger output and event log are kept by the simulated host
    EXPECT_EQ(ReadLines(State() / "debug.txt"),
              (std::vector<std::string>{start, stop, "ignored", "status", "with data", "AB"}));
    // The event identifier follows the kind; start and stop carry no data.
    EXPECT_EQ(Events(), (std::vector<std::string>{"Windows Host Utilities\t0\t0\t0x40000001\t-\t" + start,
                                                  "Windows Host Utilities\t0\t0\t0x40000004\t-\t" + stop,
                                                  "Windows Host Utilities\t2\t0\t0x40000007\t-\tstatus",
                                                  "Windows Host Utilities\t4\t0\t0x40000007\t4142\twith data"}));
    // A ready text (an event-log row's tag text) goes out as it stands,
    // whatever the level and switches.
    log_settings() = LogSettings{};
    ReportEventText(2, "%s%s%n%d");
    ASSERT_EQ(Events().size(), 5u);
    EXPECT_EQ(Events().back(), "Windows Host Utilities\t2\t0\t0x40000007\t-\t%s%s%n%d");
}

}  // namespace
