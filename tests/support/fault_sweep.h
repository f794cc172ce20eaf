// What the fault sweeps of the task programs (vdwinut in tests/unit/host_utilities,
// vdmqtt in tests/e2e/bus) share: the stand-in kernel's table with every call
// announced to a hook (it may arm a fault of that call in platform/test_hooks.h's
// switch table); the fixture; one run with the runtime's stop; the common checks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/application.h"
#include "frame/task_state.h"
#include "kernel/kernel.h"
#include "platform/test_hooks.h"
#include "sim/sim.h"
#include "support/archive_text.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"

namespace vdtest {

// Called before every kernel call but kernel_last_error (which cannot fail).
inline void (*kernel_call_hook)(int op) = nullptr;

namespace sweep_detail {
#define VD_COUNTED(number, Name, member, result, params, args, unbound)                         \
    inline result Counted##Name params {                                                        \
        if (number != kOpLastError && kernel_call_hook != nullptr) kernel_call_hook(number);    \
        return sim::Ops().member args;                                                          \
    }
VD_KERNEL_OPERATIONS(VD_COUNTED)
#undef VD_COUNTED
}  // namespace sweep_detail

// The stand-in kernel's table with the hook, generated from the operation
// list: a new operation joins the sweeps by itself.
inline const KernelOps& CountingKernelOps() {
#define VD_COUNTED_ENTRY(number, Name, member, result, params, args, unbound) .member = sweep_detail::Counted##Name,
    static const KernelOps ops = {VD_KERNEL_OPERATIONS(VD_COUNTED_ENTRY)};
#undef VD_COUNTED_ENTRY
    return ops;
}

inline std::int64_t IntTag(const sim::Database& db, const char* name) {
    sim::Value v;
    const std::int32_t ref = db.FindTag(name);
    return ref >= 0 && db.GetValue(static_cast<std::uint32_t>(ref), v) ? v.integer : -99;
}
inline void SetIntTag(sim::Database& db, const char* name, std::int16_t type, std::int64_t value) {
    sim::Value v;
    v.type = type, v.integer = value;
    db.SetValue(static_cast<std::uint32_t>(db.FindTag(name)), v);
}

// A run's record, shared by the task's threads: `f(rec)` under its mutex.
template <typename R>
struct Guarded {
    template <typename F>
    auto operator()(F f) {
        std::lock_guard<std::mutex> lock(mutex);
        return f(rec);
    }
    std::mutex mutex;
    R rec;
};

// WaitUntil (wait_until.h) polling every millisecond, given up once the
// task ended (`done`).
template <typename Pred>
bool WaitUntil(const std::atomic<bool>& done, int ms, Pred pred) {
    return WaitUntil(pred, ms, [&] { return done.load(); }, std::chrono::milliseconds(1));
}

// A sweep's fixture: the task's folders in `dir_` (application "app" with
// domain "plant", installation "root", simulated host "host") named by the
// runtime variables, and its tags `specs_`.
class SweepTest : public ::testing::Test {
protected:
    explicit SweepTest(const char* scratch) : scratch_(scratch) {}
    // The folders, the tag list `tags` and the task's archive from `rows`.
    void Prepare(const char* task, const char* tags, const char* rows) {
        for (const char* sub : {"app/plant/ct", "app/net", "root/bin"}) std::filesystem::create_directories(dir_ / sub);
        SetRuntimeEnvironment({(dir_ / "app").generic_string(), (dir_ / "root").generic_string(), "plant", "FAULTS",
                               "tester", "", (dir_ / "host").generic_string()});
        std::string error;
        ASSERT_TRUE(sim::ParseTagList(tags, specs_, error)) << error;
        cttext::TagList names;
        for (const auto& spec : specs_) names.names.push_back(spec.name);
        std::istringstream in(rows);
        cttext::Archive archive;
        const std::string path = (dir_ / "app/plant/ct" / (std::string(task) + ".ct")).string();
        ASSERT_TRUE(cttext::parse(in, task, &names, false, archive, error) && cttext::write_archive(archive, path, error))
            << error;
    }
    void TearDown() override {
        win::test::UseTestClock(false);
        win::test::SetCallObserver(nullptr);
        UnbindInProcessKernel();
        ClearRuntimeEnvironment();
    }
    ScratchDir scratch_;
    const std::filesystem::path dir_ = scratch_.Dir();
    std::vector<sim::TagSpec> specs_;
};

struct TaskRun {
    std::unique_ptr<sim::Database> db;  // what the run left (null: none could be made)
    int exit_code = 99;
    bool hung = false;  // needed a second stop request to end
    std::size_t attached_after = 0;
};

// Runs `Task` (named `name`) through its process entry on a fresh database of
// `specs` with the kernel table `ops` and `hook`, while another thread plays
// the runtime: `runtime(db, done)`, then the stop request. Clears the call
// observer and the faults and unbinds after.
template <typename Task, typename Runtime>
void RunTask(TaskRun& out, const std::vector<sim::TagSpec>& specs, const char* name, const KernelOps& ops,
             void (*hook)(int op), const std::string& point, Runtime runtime) {
    std::string error;
    auto& db = out.db = sim::Database::CreateInProcess(specs, error);
    EXPECT_TRUE(db) << error;
    if (!db) return;
    sim::SetCurrentDatabase(db.get());
    kernel_call_hook = hook;
    kernel_bind_table(ops);
    std::atomic<bool> done{false};
    const auto stopped = [&](int ms) {
        if (const TaskId id = db->FindTask(name); id >= 0) db->RequestStop(id);
        return WaitUntil(done, ms, [&] { return done.load(); });
    };
    std::thread thread([&] {
        runtime(*db, done);
        // Up to 3 s for the stop, more is a hang; a task that does not end
        // after 5 s of further requests aborts the test program, naming `point`.
        out.hung = !stopped(3000);
        for (int i = 0; i < 50 && !done; ++i) stopped(100);
        if (!done) std::fprintf(stderr, "the task did not stop: %s\n", point.c_str()), std::abort();
    });
    {
        TaskApplication app;
        Task task;
        out.exit_code = ProcessMain(app, task);
        done = true;
        thread.join();
        EXPECT_EQ(task_state().task_id, kNoTask);
    }
    win::test::SetCallObserver(nullptr);
    win::test::ClearFaults();
    out.attached_after = db->Tasks().size();
    kernel_unbind();
    kernel_call_hook = nullptr;
    sim::SetCurrentDatabase(nullptr);
    ResetKernelAccess();  // the process keeps its lock semaphores for good; many runs give them back
}

// What every run must show, whichever kernel call `op` failed: no hang; no
// task attached but the one whose detach failed; a failed start-up when the
// first attach or the environment record failed.
inline void CheckRun(const TaskRun& o, int op, int ordinal, bool fault_hit) {
    EXPECT_FALSE(o.hung);
    EXPECT_LE(o.attached_after, fault_hit && op == kOpDetach ? 1u : 0u);
    if ((op == kOpAttach && ordinal == 1) || op == kOpTaskEnvironment) { EXPECT_EQ(o.exit_code, kExitFailure); }
}

}  // namespace vdtest
