// Several processes on one database file: vdrt and a helper program change
// tags, request stops and die or are killed holding the lock while this
// process waits.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/process.h"
#include "sim/sim.h"

// 1 when the tests run under user-mode emulation (set by the build).
#ifndef VD_EMULATED
#define VD_EMULATED 0
#endif

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// The take-over of a dead holder's lock rests on the kernel walking the
// holder's robust-lock list at its death; user-mode emulation does not
// register that list, so the next locker would wait for ever.
constexpr const char* kNoOwnerDeath =
    "user-mode emulation registers no robust-lock list: the lock of a dead holder is never handed on";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MultiProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vd_sim_mp_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir_);
        path_ = (dir_ / "runtime.db").string();
        std::string taglist = (dir_ / "tags.txt").string();
        std::ofstream(taglist) << "TRIG int16 0\nMSG text idle\n";
        ASSERT_EQ(sim::RunProgram(Vdrt({"create", taglist})), 0);
        std::string error;
        db_ = sim::Database::Open(path_, error);
        ASSERT_TRUE(db_) << error;
    }
    void TearDown() override {
        db_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    Args Vdrt(const Args& args) const { return Vdrt(path_, args); }
    static Args Vdrt(const std::string& db, const Args& args) {
        Args all = {VD_VDRT, "--db", db};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    Args Helper(const Args& args) const {
        Args all = {VD_SIM_HELPER, path_};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    std::unique_ptr<sim::ChildProcess> Start(const Args& args) {
        std::string error;
        auto child = sim::ChildProcess::Start(args, error);
        EXPECT_TRUE(child) << error;
        return child;
    }

    // Polls `done` for up to 30 s while `child` runs; false when the time
    // ran out or the child ended first.
    template <typename Done>
    bool WaitUntil(sim::ChildProcess& child, Done done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (done()) return true;
            if (!child.Running()) return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    bool IsWaiting(const std::string& name) const {
        for (const sim::TaskInfo& t : db_->Tasks())
            if (t.name == name && t.waiting) return true;
        return false;
    }
    std::int32_t SetInt16(const char* tag, std::int16_t value) {
        sim::Value v;
        v.type = kTagInt16;
        v.integer = value;
        return db_->SetValue(static_cast<std::uint32_t>(db_->FindTag(tag)), v);
    }
    std::int32_t SetText(const char* tag, const std::string& text) {
        sim::Value v;
        v.type = kTagText;
        v.bytes = text;
        return db_->SetValue(static_cast<std::uint32_t>(db_->FindTag(tag)), v);
    }

    // Waits (this process) for TRIG while `command` runs in another.
    std::int32_t WaitWhile(TaskId task, const Args& command, int& command_rc) {
        TagRef ref = static_cast<TagRef>(db_->FindTag("TRIG"));
        db_->Lock(task);
        db_->ArmWait(task, &ref, 1);
        auto other = std::async(std::launch::async, [&] { return sim::RunProgram(command); });
        std::int32_t rc = db_->WaitChangeFor(task, 30000);
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
    EXPECT_EQ(WaitWhile(task, Vdrt({"set", "TRIG", "1"}), rc), 0);
    EXPECT_EQ(rc, 0);
    TagRef ref = static_cast<TagRef>(db_->FindTag("TRIG"));
    std::int32_t index = 0;
    ValueRecord rec{};
    ASSERT_EQ(db_->NextChanged(task, &ref, 1, &index, &rec), 0);
    EXPECT_EQ(rec.Int16(), 1);

    // A text with blanks and quotes arrives as it was given.
    EXPECT_EQ(sim::RunProgram(Vdrt({"set", "MSG", "say \"hi\" to C:\\dir\\"})), 0);
    sim::Value msg;
    ASSERT_TRUE(db_->GetValue(static_cast<std::uint32_t>(db_->FindTag("MSG")), msg));
    EXPECT_EQ(msg.bytes, "say \"hi\" to C:\\dir\\");

    // vdrt reports what it refuses, and changes nothing.
    EXPECT_NE(sim::RunProgram(Vdrt({"set", "TRIG", "70000"})), 0);
    EXPECT_NE(sim::RunProgram(Vdrt({"set", "NOSUCHTAG", "1"})), 0);
    EXPECT_NE(sim::RunProgram(Vdrt({"get", "NOSUCHTAG"})), 0);
    EXPECT_NE(sim::RunProgram(Vdrt((dir_ / "missing.db").string(), {"get", "TRIG"})), 0);
    index = 0;
    EXPECT_EQ(db_->NextChanged(task, &ref, 1, &index, &rec), -1);
    db_->Detach(task);
}

TEST_F(MultiProcessTest, WaiterInAnotherProcessWakesOnAChangeFromThisOne) {
    auto helper = Start(Helper({"wait", "TRIG", "30000"}));
    ASSERT_TRUE(helper);
    ASSERT_TRUE(WaitUntil(*helper, [&] { return IsWaiting("HELPERW"); }));
    ASSERT_EQ(SetInt16("TRIG", 42), 0);
    int code = -1;
    ASSERT_TRUE(helper->Wait(30000, code));
    EXPECT_EQ(code, 0);
}

TEST_F(MultiProcessTest, VdrtStopWakesTheWaiter) {
    TaskId task = db_->Attach("STOPME", "test", "", "", "");
    ASSERT_GE(task, 0);
    int rc = -1;
    EXPECT_EQ(WaitWhile(task, Vdrt({"stop", "STOPME"}), rc), 0);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(db_->StopRequested(task), 1);
    TagRef ref = 0;
    EXPECT_EQ(db_->ArmWait(task, &ref, 1), kKernelStopRequested);
    EXPECT_NE(sim::RunProgram(Vdrt({"stop", "NOBODY"})), 0);
    db_->Detach(task);
}

TEST_F(MultiProcessTest, AProcessThatDiesHoldingTheLockBlocksNobody) {
    if (VD_EMULATED) GTEST_SKIP() << kNoOwnerDeath;
    EXPECT_EQ(sim::RunProgram(Helper({"lock-and-die"})), 7);
    // Every path through the lock still works: this process, and vdrt.
    auto attempt = std::async(std::launch::async, [&] { return SetText("MSG", "after the crash"); });
    ASSERT_EQ(attempt.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(attempt.get(), 0);
    EXPECT_GE(db_->LockRecoveries(), 1u);
    EXPECT_EQ(sim::RunProgram(Vdrt({"set", "TRIG", "3"})), 0);
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

TEST_F(MultiProcessTest, AKilledLockHolderIsTakenOverAndWaitersStillWake) {
    if (VD_EMULATED) GTEST_SKIP() << kNoOwnerDeath;
    // A waiter in a third process, blocked before the lock is taken.
    auto waiter = Start(Helper({"wait", "TRIG", "30000"}));
    ASSERT_TRUE(waiter);
    ASSERT_TRUE(WaitUntil(*waiter, [&] { return IsWaiting("HELPERW"); }));
    ASSERT_EQ(SetText("MSG", "before"), 0);

    fs::path marker = dir_ / "locked";
    auto holder = Start(Helper({"lock-and-hang", marker.string()}));
    ASSERT_TRUE(holder);
    ASSERT_TRUE(WaitUntil(*holder, [&] { return fs::exists(marker); }));
    // While it holds the lock, nobody else gets through.
    auto blocked = std::async(std::launch::async, [&] { return SetText("MSG", "after the kill"); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    holder->Kill();
    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(blocked.get(), 0);
    EXPECT_GE(db_->LockRecoveries(), 1u);

    // The database is whole: what was written before and after reads back
    // here and in another process, and the waiter wakes on the next change.
    ASSERT_EQ(SetInt16("TRIG", 9), 0);
    int code = -1;
    ASSERT_TRUE(waiter->Wait(30000, code));
    EXPECT_EQ(code, 0);
    std::string out = (dir_ / "get.txt").string();
    EXPECT_EQ(sim::RunProgram(Vdrt({"get", "TRIG", "MSG"}), out), 0);
    std::string text = ReadFile(out);
    EXPECT_NE(text.find("TRIG = 9"), std::string::npos) << text;
    EXPECT_NE(text.find("MSG = \"after the kill\""), std::string::npos) << text;
    for (const sim::TaskInfo& t : db_->Tasks())
        EXPECT_TRUE(t.name != "HELPERK" || !t.alive) << "the killed holder is listed as alive";
    EXPECT_EQ(sim::RunProgram(Vdrt({"tasks"}), (dir_ / "tasks.txt").string()), 0);
}

TEST_F(MultiProcessTest, ALockHolderThatDiesAloneIsNoticedByTheNextOpener) {
    if (VD_EMULATED) GTEST_SKIP() << kNoOwnerDeath;
    // Nobody else has the database open when the holder dies, so no lock
    // object outlives it; the next process still learns of the take-over.
    db_.reset();
    EXPECT_EQ(sim::RunProgram(Helper({"lock-and-die"})), 7);
    std::string error;
    db_ = sim::Database::Open(path_, error);
    ASSERT_TRUE(db_) << error;
    EXPECT_EQ(SetText("MSG", "reopened"), 0);
    EXPECT_EQ(db_->LockRecoveries(), 1u);
    // A clean end of the next process is no take-over.
    EXPECT_EQ(sim::RunProgram(Vdrt({"set", "TRIG", "4"})), 0);
    EXPECT_EQ(db_->LockRecoveries(), 1u);
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
    EXPECT_NE(sim::RunProgram(Vdrt(bad, {"tasks"})), 0);
}

}  // namespace
