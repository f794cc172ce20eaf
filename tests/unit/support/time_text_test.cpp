#include "support/time_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/environment.h"
#include "support/trace.h"
#include "tests/support/scratch_dir.h"

namespace {

bool SimulatedHost() { return std::filesystem::path::preferred_separator == '/'; }

TEST(TimeText, FixedForms) {
    // Year, month, day of the week, day, hour, minute, second.
    const win::SYSTEMTIME t{2006, 3, 0, 5, 14, 7, 9, 0};
    char buf[kDateTextSize];
    EXPECT_EQ(date_text_of(t, buf, sizeof buf), 15);
    EXPECT_STREQ(buf, "Sun Mar  5 2006");
    date_text_of({1999, 12, 6, 31, 0, 0, 0, 0}, buf, sizeof buf);
    EXPECT_STREQ(buf, "Sat Dec 31 1999");
    date_text_of({30827, 13, 9, 1, 0, 0, 0, 0}, buf, sizeof buf);
    EXPECT_STREQ(buf, "??? ???  1 30827");
    EXPECT_EQ(time_text_of(t, buf, sizeof buf), 8);
    EXPECT_STREQ(buf, "14:07:09");
    char tiny[4];
    EXPECT_EQ(time_text_of(t, tiny, sizeof tiny), 3);
    EXPECT_STREQ(tiny, "14:");

    char now[kTimeTextSize];
    EXPECT_EQ(time_text(now, sizeof now), 8);
    EXPECT_EQ(date_text(buf, sizeof buf), 15);
}

class HostStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        regional_settings_forget();
    }
    void TearDown() override {
        regional_settings_forget();
        trace_close();
    }
    void WriteState(const std::string& name, const std::string& text) {
        vdtest::WriteFile(dir_ / "state" / name, text);
    }
    vdtest::ScratchDir scratch_{"vdtt_", true};
    const std::filesystem::path dir_ = scratch_.Dir();
};

TEST_F(HostStateTest, RegionalSeparatorsReadOnceWithDefaults) {
    if (!SimulatedHost()) GTEST_SKIP() << "regional values come from the simulated host's registry";
    char sep[2] = {'x', 'x'};
    testing::internal::CaptureStdout();
    EXPECT_EQ(regional_separators(sep), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n REGTRY: RegOpenKey error\n");
    EXPECT_EQ(sep[0], '\0');
    EXPECT_EQ(sep[1], '\0');

    // The key appears: the next call reads it; a value too long for two
    // bytes keeps its default.
    WriteState("registry.txt",
               "[HKEY_CURRENT_USER\\Control Panel\\International]\n"
               "\"sDate\"=sz:\"//\"\n\"sTime\"=sz:\".\"\n\"iDate\"=sz:\"2\"\n");
    EXPECT_EQ(regional_separators(sep), 2);
    EXPECT_EQ(sep[0], '.');
    EXPECT_EQ(sep[1], '-');

    // Kept for the process until forgotten.
    WriteState("registry.txt",
               "[HKEY_CURRENT_USER\\Control Panel\\International]\n\"sDate\"=sz:\"/\"\n\"iDate\"=sz:\"7\"\n");
    EXPECT_EQ(regional_separators(sep), 2);
    regional_settings_forget();
    EXPECT_EQ(regional_separators(sep), 3);  // "7" masked to its two low bits
    EXPECT_EQ(sep[0], ':');
    EXPECT_EQ(sep[1], '/');
}

TEST_F(HostStateTest, TraceGoesToTheMappedFileAndRetriesOpening) {
    if (!SimulatedHost()) GTEST_SKIP() << "c: is mapped only on the simulated host";
    WriteState("drives.txt", "C: " + (dir_ / "cdrive").string() + "\n");
    trace("lost %d\n", 1);  // c:/temp does not exist yet: nothing happens
    vdtest::WriteFile(dir_ / "cdrive" / "temp" / "idebug.out", "old content\n");
    trace("first %d %s\n", 2, "x");
    trace("second\n");
    // Emptied on open, flushed at once.
    EXPECT_EQ(vdtest::ReadFile(dir_ / "cdrive" / "temp" / "idebug.out"), "first 2 x\nsecond\n");
}

}  // namespace
