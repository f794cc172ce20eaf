// Starting programs from an argument vector: quoting for the Windows
// command-line parser, arguments and exit codes through a real child,
// output to a file, waiting with a limit, killing, and programs that do
// not exist.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/process.h"

// 1 when the tests run under user-mode emulation (set by the build).
#ifndef VD_EMULATED
#define VD_EMULATED 0
#endif

namespace {

namespace fs = std::filesystem;

TEST(WindowsQuoting, ArgumentsReadBackAsGiven) {
    EXPECT_EQ(sim::QuoteWindowsArgument("plain"), "plain");
    EXPECT_EQ(sim::QuoteWindowsArgument("C:\\dir\\file.txt"), "C:\\dir\\file.txt");
    EXPECT_EQ(sim::QuoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(sim::QuoteWindowsArgument("two words"), "\"two words\"");
    EXPECT_EQ(sim::QuoteWindowsArgument("tab\there"), "\"tab\there\"");
    // A quote is escaped; backslashes before it are doubled.
    EXPECT_EQ(sim::QuoteWindowsArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(sim::QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    // Backslashes elsewhere stay single, before the closing quote doubled.
    EXPECT_EQ(sim::QuoteWindowsArgument("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(sim::QuoteWindowsArgument("a b\\\\c"), "\"a b\\\\c\"");
    EXPECT_EQ(sim::WindowsCommandLine({"prog.exe", "x y", "", "z"}), "prog.exe \"x y\" \"\" z");
    EXPECT_EQ(sim::WindowsCommandLine({}), "");
}

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vd_sim_proc_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        std::erase(s, '\r');
        return s;
    }
    fs::path dir_;
};

TEST_F(ChildProcessTest, ArgumentsOutputAndExitCodeArriveUnchanged) {
    std::vector<std::string> args = {VD_SIM_HELPER, "-", "args", "plain", "two words", "", "say \"hi\"",
                                     "C:\\my dir\\", "a\\\\\"b", "tab\tin"};
    fs::path out = dir_ / "out dir" / "args.txt";
    fs::create_directories(out.parent_path());
    EXPECT_EQ(sim::RunProgram(args, out.string()), 7);
    EXPECT_EQ(Read(out), "[plain]\n[two words]\n[]\n[say \"hi\"]\n[C:\\my dir\\]\n[a\\\\\"b]\n[tab\tin]\n");

    // The output file is replaced, not appended to.
    EXPECT_EQ(sim::RunProgram({VD_SIM_HELPER, "-", "args"}, out.string()), 0);
    EXPECT_EQ(Read(out), "");
    EXPECT_EQ(sim::RunProgram({VD_SIM_HELPER, "-", "exit", "0"}), 0);
    EXPECT_EQ(sim::RunProgram({VD_SIM_HELPER, "-", "exit", "42"}), 42);
}

TEST_F(ChildProcessTest, WaitingIsBoundedAndKillEndsTheProgram) {
    std::string error;
    fs::path marker = dir_ / "marker";
    // The helper finds no database there and ends with 2 at once.
    auto quick = sim::ChildProcess::Start({VD_SIM_HELPER, (dir_ / "none.db").string(), "wait", "T"}, error);
    ASSERT_TRUE(quick) << error;
    int code = -1;
    ASSERT_TRUE(quick->Wait(30000, code));
    EXPECT_EQ(code, 2);
    EXPECT_FALSE(quick->Running());
    EXPECT_GT(quick->Pid(), 0);

    // A program that would run for a minute: a bounded wait returns while
    // it runs, Kill ends it, and its exit code is then final.
    std::string db = (dir_ / "r.db").string();
    std::ofstream(dir_ / "tags.txt") << "T int16 0\n";
    ASSERT_EQ(sim::RunProgram({VD_VDRT, "--db", db, "create", (dir_ / "tags.txt").string()},
                              (dir_ / "create.txt").string()),
              0);
    auto slow = sim::ChildProcess::Start({VD_SIM_HELPER, db, "lock-and-hang", marker.string()}, error);
    ASSERT_TRUE(slow) << error;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(slow->Wait(200, code));
    EXPECT_TRUE(slow->Running());
    slow->Kill();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_FALSE(slow->Running());
    ASSERT_TRUE(slow->Wait(0, code));
    EXPECT_NE(code, 5);  // it did not reach its own end
    slow->Kill();        // a second kill of an ended program is harmless
}

TEST_F(ChildProcessTest, MissingProgramsAreReportedNotRun) {
    std::string error;
    EXPECT_FALSE(sim::ChildProcess::Start({}, error));
    EXPECT_FALSE(error.empty());
    if (VD_EMULATED)
        GTEST_SKIP() << "user-mode emulation runs the child of posix_spawn apart from the parent: "
                        "a failed start shows only as exit code 127";
    error.clear();
    EXPECT_FALSE(sim::ChildProcess::Start({(dir_ / "no_such_program.exe").string()}, error));
    EXPECT_NE(error.find("no_such_program"), std::string::npos) << error;
    EXPECT_EQ(sim::RunProgram({(dir_ / "no_such_program.exe").string(), "x"}), -1);
    // Output to a place that cannot be written starts nothing.
    EXPECT_EQ(sim::RunProgram({VD_SIM_HELPER, "-", "exit", "0"}, (dir_ / "missing" / "out.txt").string()), -1);
}

}  // namespace
