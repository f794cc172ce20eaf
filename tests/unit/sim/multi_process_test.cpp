// Several processes on one database file: vdrt and a helper program change
// tags, request stops and die holding the lock while this process waits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// A program to start: in the platform's own form and unquoted, since the
// Windows command processor drops the quotes around a leading quoted word
// when more quotes follow. Build paths hold no blanks.
std::string Program(const char* path) { return fs::path(path).make_preferred().string(); }

int RunCommand(const std::string& command) { return std::system(command.c_str()); }

class MultiProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vd_sim_mp_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        path_ = (dir_ / "runtime.db").string();
        std::string taglist = (dir_ / "tags.txt").string();
        std::ofstream(taglist) << "TRIG int16 0\nMSG text idle\n";
        ASSERT_EQ(RunCommand(Program(VD_VDRT) + " --db " + Quote(path_) + " create " + Quote(taglist)), 0);
        std::string error;
        db_ = sim::Database::Open(path_, error);
        ASSERT_TRUE(db_) << error;
    }
    void TearDown() override {
        db_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string Vdrt(const std::string& args) { return Program(VD_VDRT) + " --db " + Quote(path_) + " " + args; }
    std::string Helper(const std::string& args) { return Program(VD_SIM_HELPER) + " " + Quote(path_) + " " + args; }

    // Waits (this process) for TRIG while `command` runs in another.
    std::int32_t WaitWhile(TaskId task, const std::string& command, int& command_rc) {
        TagRef ref = static_cast<TagRef>(db_->FindTag("TRIG"));
        db_->Lock(task);
        db_->ArmWait(task, &ref, 1);
        auto other = std::async(std::launch::async, [&] { return RunCommand(command); });
        std::int32_t rc = db_->WaitChangeFor(task, 20000);
        db_->DisarmWait(task, &ref, 1);
        db_->Unlock(task);
        command_rc = other.get();
        return rc;
    }

    fs::path dir_;
    std::string path_;
    std::unique_ptr<sim::Database> db_;
};

TEST_F(MultiProcessTest, VdrtSetWakesAWaiterInAnotherProcess) {
    TaskId task = db_->Attach("WAITER", "test", "", "", "");
    ASSERT_GE(task, 0);
    int rc = -1;
    EXPECT_EQ(WaitWhile(task, Vdrt("set TRIG 1"), rc), 0);
    EXPECT_EQ(rc, 0);
    TagRef ref = static_cast<TagRef>(db_->FindTag("TRIG"));
    std::int32_t index = 0;
    ValueRecord rec{};
    ASSERT_EQ(db_->NextChanged(task, &ref, 1, &index, &rec), 0);
    EXPECT_EQ(rec.Int16(), 1);

    // vdrt reports what it refuses, and changes nothing.
    EXPECT_NE(RunCommand(Vdrt("set TRIG 70000")), 0);
    EXPECT_NE(RunCommand(Vdrt("set NOSUCHTAG 1")), 0);
    EXPECT_NE(RunCommand(Vdrt("get NOSUCHTAG")), 0);
    EXPECT_NE(RunCommand(Program(VD_VDRT) + " --db " + Quote((dir_ / "missing.db").string()) + " get TRIG"), 0);
    index = 0;
    EXPECT_EQ(db_->NextChanged(task, &ref, 1, &index, &rec), -1);
    db_->Detach(task);
}

TEST_F(MultiProcessTest, WaiterInAnotherProcessWakesOnAChangeFromThisOne) {
    auto helper = std::async(std::launch::async, [&] { return RunCommand(Helper("wait TRIG 20000")); });
    // Wait until the helper blocks in its wait, then change the tag.
    bool waiting = false;
    for (int i = 0; i < 2000 && !waiting; ++i) {
        for (const sim::TaskInfo& t : db_->Tasks())
            if (t.name == "HELPERW" && t.waiting) waiting = true;
        if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waiting);
    sim::Value v;
    v.type = kTagInt16;
    v.integer = 42;
    ASSERT_EQ(db_->SetValue(static_cast<std::uint32_t>(db_->FindTag("TRIG")), v), 0);
    ASSERT_EQ(helper.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(helper.get(), 0);
}

TEST_F(MultiProcessTest, VdrtStopWakesTheWaiter) {
    TaskId task = db_->Attach("STOPME", "test", "", "", "");
    ASSERT_GE(task, 0);
    int rc = -1;
    EXPECT_EQ(WaitWhile(task, Vdrt("stop STOPME"), rc), 0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(db_->StopRequested(task), 1);
    TagRef ref = 0;
    EXPECT_EQ(db_->ArmWait(task, &ref, 1), kKernelStopRequested);
    EXPECT_NE(RunCommand(Vdrt("stop NOBODY")), 0);
    db_->Detach(task);
}

TEST_F(MultiProcessTest, AProcessThatDiesHoldingTheLockBlocksNobody) {
    EXPECT_EQ(RunCommand(Helper("lock-and-die")) == 0, false);
    // Every path through the lock still works: this process, and vdrt.
    auto attempt = std::async(std::launch::async, [&] {
        sim::Value v;
        v.type = kTagText;
        v.bytes = "after the crash";
        return db_->SetValue(static_cast<std::uint32_t>(db_->FindTag("MSG")), v);
    });
    ASSERT_EQ(attempt.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(attempt.get(), 0);
    EXPECT_GE(db_->LockRecoveries(), 1u);
    EXPECT_EQ(RunCommand(Vdrt("set TRIG 3")), 0);
    // The dead task is listed as gone, and its name can attach again.
    bool listed = false;
    for (const sim::TaskInfo& t : db_->Tasks())
        if (t.name == "HELPERL") {
            listed = true;
            EXPECT_FALSE(t.alive);
        }
    EXPECT_TRUE(listed);
    TaskId again = db_->Attach("HELPERL", "again", "", "", "");
    EXPECT_GE(again, 0);
    db_->Detach(again);
}

TEST_F(MultiProcessTest, CorruptDatabaseIsRefusedWithAReason) {
    std::string bad = (dir_ / "bad.db").string();
    fs::copy_file(path_, bad);
    {
        std::fstream f(bad, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0);
        f.write("XXXX", 4);
    }
    std::string error;
    EXPECT_FALSE(sim::Database::Open(bad, error));
    EXPECT_NE(error.find("not a runtime database"), std::string::npos) << error;
    fs::resize_file(bad, 100);
    EXPECT_FALSE(sim::Database::Open(bad, error));
    EXPECT_FALSE(sim::Database::Open((dir_ / "none.db").string(), error));
    EXPECT_NE(error.find("no runtime database"), std::string::npos) << error;
    EXPECT_NE(RunCommand(Program(VD_VDRT) + " --db " + Quote(bad) + " tasks"), 0);
}

}  // namespace
