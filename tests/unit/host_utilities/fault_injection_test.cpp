// Every kernel operation, and every registry, disk, device, settings and
// event-log call, failing once at every point of a run of the process entry
// while another thread plays the runtime (sets the rows' triggers, then
// requests the stop). The task must never crash or hang, must leave the
// kernel detached and return 0 after a start-up that succeeded, -1 after one
// that failed; a failing Windows call never stops the task, and only the row
// whose call failed reports no value.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "host_utilities/host_utilities_task.h"
#include "platform/registry.h"
#include "tests/support/fault_sweep.h"

namespace {

using vdtest::IntTag;

const char* kTags =
    "CMD_TRIG int16 0\nCMD_VALUE int32 0\nCMD_DONE int16 0\n"
    "EVT_TRIG int16 0\nEVT_LEVEL int16 1\nEVT_TEXT text \"fault test\"\nEVT_DONE int16 0\n"
    "DISK_TRIG int16 0\nDISK_VALUE int32 0\nDISK_DONE int16 0\n"
    "POL_TRIG int16 0\nPOL_VALUE int16 0\nPOL_DONE int16 0\n"
    "KB_TRIG int16 0\nKB_STATE int16 0\nKB_DONE int16 0\n";
// Rows: screen-saver timeout (CMD), free space of C: (DISK), the task-manager
// policy (POL), a keyboard key (KB) and an event (EVT).
const char* kRows = R"(
table 2 "SYSCMD"
  fields tag tag tag u16 i16
  record tag:CMD_TRIG tag:CMD_VALUE tag:CMD_DONE 13 0
  record tag:DISK_TRIG tag:DISK_VALUE tag:DISK_DONE 102 0
  record tag:POL_TRIG tag:POL_VALUE tag:POL_DONE 32 0
end
table 1 "KEYBOARD"
  fields tag tag tag tag x16 u16 u16 u16 u16
  record tag:KB_TRIG tag:KB_TRIG tag:KB_STATE tag:KB_DONE 0x1e 0 0 0 0
end
table 4 "EVENTLOG"
  fields tag tag tag tag u16 text64
  record tag:EVT_TRIG tag:EVT_LEVEL tag:EVT_TEXT tag:EVT_DONE 0 "default text"
end
)";
const char* const kTriggers[] = {"CMD_TRIG", "EVT_TRIG", "DISK_TRIG", "POL_TRIG", "KB_TRIG"};
const char* const kDoneTags[] = {"CMD_DONE", "EVT_DONE", "DISK_DONE", "POL_DONE", "KB_DONE"};
constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// The Windows calls the sweep fails, each with an error it documents. Not
// swept: the calls that close (RegCloseKey, DeregisterEventSource,
// CloseHandle); one that fails keeps its handle, as on Windows, which the
// test would see as a leak.
const std::map<std::string, win::DWORD, std::less<>> kSwept = {
    {"RegOpenKeyExA", win::ERROR_ACCESS_DENIED},   {"RegOpenKeyA", win::ERROR_ACCESS_DENIED},
    {"RegCreateKeyExA", win::ERROR_ACCESS_DENIED}, {"RegQueryValueExA", win::ERROR_ACCESS_DENIED},
    {"RegSetValueExA", win::ERROR_ACCESS_DENIED},  {"GetDiskFreeSpaceExA", win::ERROR_NOT_READY},
    {"CreateFileA", win::ERROR_FILE_NOT_FOUND},    {"DeviceIoControl", win::ERROR_GEN_FAILURE},
    {"GetPrivateProfileStringA", win::ERROR_FILE_NOT_FOUND}, {"GetPrivateProfileIntA", win::ERROR_FILE_NOT_FOUND},
    {"RegisterEventSourceA", win::ERROR_ACCESS_DENIED},      {"ReportEventA", win::ERROR_NOT_ENOUGH_MEMORY},
};

// Kernel operations by name (the switch table's names).
const std::map<std::string, int, std::less<>> kOps = {
#define VD_OP_BY_NAME(number, Name, member, result, params, args, unbound) {#member, number},
    VD_KERNEL_OPERATIONS(VD_OP_BY_NAME)
#undef VD_OP_BY_NAME
};

// A kernel operation (op) or a swept Windows call (op 0) with the phase it
// fell in.
struct Call {
    std::string phase;
    int prev = 0;  // the kernel operation before this one
    int op = 0;
    int ordinal = 0;  // n-th call of this name in the run
    std::string name;
};

struct Recorder {
    std::string phase = "start";
    bool loaded = false;  // RunLoad has run: the next run-loop operation starts the loop
    int prev = 0;
    std::map<std::string, int> counts;
    std::vector<Call> calls;
    std::string fault;
    int fault_ordinal = 0;
    bool fault_hit = false;
};
vdtest::Guarded<Recorder> Locked;
Recorder& g_rec = Locked.rec;

// Every call that asks the switch table: the kernel's (but
// kernel_last_error, which cannot fail) and the swept Windows calls.
void OnCall(const char* function) {
    const int op = kOps.count(function) != 0 ? kOps.find(function)->second : 0;
    if (op == 0 && kSwept.count(function) == 0) return;
    std::lock_guard<std::mutex> lock(Locked.mutex);
    const bool loop_op = op == kOpLock || op == kOpNextChanged || op == kOpArmWait || op == kOpWaitChange ||
                         op == kOpAfterWait;
    if (g_rec.phase == "start" && g_rec.loaded && loop_op) g_rec.phase = "run";
    const int n = ++g_rec.counts[function];
    g_rec.calls.push_back({g_rec.phase, g_rec.prev, op, n, function});
    if (op != 0) g_rec.prev = op;
    g_rec.fault_hit = g_rec.fault_hit || (function == g_rec.fault && n == g_rec.fault_ordinal);
}

// A nonzero stop answer ends the run loop: what follows is shutdown.
std::int32_t StopRequested(TaskId task) {
    const std::int32_t rc = vdtest::CountingKernelOps().stop_requested(task);
    if (rc != 0) Locked([](Recorder& r) { r.phase = r.phase == "run" ? "shutdown" : r.phase; });
    return rc;
}

class ObservedTask : public HostUtilitiesTask {
public:
    ObservedTask() : HostUtilitiesTask("VDWINUT", "Windows Host Utilities") {}
    void RunLoad() override {
        HostUtilitiesTask::RunLoad();
        Locked([](Recorder& r) { r.loaded = true; });
    }
};

struct Outcome : vdtest::TaskRun {
    bool fault_hit = false, ran = false;  // ran: reached "RUN"
};

// Every row's done tag set; the free kilobytes of C:, the policy and the key
// the rows read.
bool AllDone(const Outcome& o) {
    return std::all_of(std::begin(kDoneTags), std::end(kDoneTags), [&](auto name) { return IntTag(*o.db, name) == 1; });
}
std::int64_t Disk(const Outcome& o) { return IntTag(*o.db, "DISK_VALUE"); }
std::int64_t Policy(const Outcome& o) { return IntTag(*o.db, "POL_VALUE"); }
std::int64_t Keyboard(const Outcome& o) { return IntTag(*o.db, "KB_STATE"); }

class FaultInjectionTest : public vdtest::SweepTest {
protected:
    FaultInjectionTest() : SweepTest("frame_faults_") {}
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Prepare("VDWINUT", kTags, kRows));
        // The keyboard filter device exists on the simulated host; Windows
        // has none, so there its open fails in every run.
        vdtest::WriteFile(dir_ / "host" / "devices" / "KbFilter", "");
        win::HKEY key = nullptr;
        const win::DWORD one = 1;
        ASSERT_EQ(win::RegCreateKeyA(win::HKEY_CURRENT_USER, kPolicyKey, &key), win::ERROR_SUCCESS);
        win::RegSetValueExA(key, "DisableTaskMgr", 0, win::REG_DWORD, reinterpret_cast<const win::BYTE*>(&one), 4);
        win::RegCloseKey(key);
        win::test::UseTestClock(true);
    }
    void TearDown() override {
        SweepTest::TearDown();
        win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kPolicyKey);
    }

    // A run with the `ordinal`-th call of `fault` failing (a kernel operation
    // `op`, or a Windows call for op 0); no fault without a name.
    Outcome RunOnce(int op = 0, int ordinal = 0, const std::string& fault = "") {
        Outcome out;
        Locked([&](Recorder& r) { r = {}, r.fault = fault, r.fault_ordinal = ordinal; });
        if (!fault.empty())
            win::test::FailCalls(fault.c_str(), op != 0 ? win::DWORD{kKernelErrNoDatabase} : kSwept.find(fault)->second, 1,
                                 ordinal - 1);
        win::test::SetCallObserver(&OnCall);
        const auto runtime = [&](sim::Database& db, const std::atomic<bool>& done) {
            auto task = [&] {
                for (const auto& t : db.Tasks())
                    if (t.name == "VDWINUT") return t;
                return sim::TaskInfo{};
            };
            out.ran = vdtest::WaitUntil(done, 3000, [&] { return task().status == 1; });
            if (!out.ran) return;
            const std::uint32_t steps_before = task().steps;
            for (const char* name : kTriggers) vdtest::SetIntTag(db, name, kTagInt16, 1);
            // Until every row answered, or the task has taken the changes and
            // waits again without them (a fault lost them).
            int idle_polls = 0;
            vdtest::WaitUntil(done, 1000, [&] {
                bool all = true;
                for (const char* name : kDoneTags) all = all && IntTag(db, name) != 0;
                const auto t = task();
                idle_polls = t.waiting && t.steps > steps_before ? idle_polls + 1 : 0;
                return all || idle_polls >= 10;
            });
        };
        KernelOps ops = vdtest::CountingKernelOps();
        ops.stop_requested = &StopRequested;
        vdtest::RunTask<ObservedTask>(out, specs_, "VDWINUT", ops, nullptr,
                                      fault + " call " + std::to_string(ordinal), runtime);
        out.fault_hit = Locked([](Recorder& r) { return r.fault.clear(), r.fault_hit; });
        return out;
    }
};

TEST_F(FaultInjectionTest, EveryKernelOperationAndWindowsCallFailingOnceAtEveryPoint) {
    const Outcome clean = RunOnce();
    ASSERT_TRUE(clean.ran);
    EXPECT_EQ(clean.exit_code, kExitOk);
    vdtest::CheckRun(clean, 0, 0, false);
    ASSERT_TRUE(clean.db && AllDone(clean));
    EXPECT_GT(Disk(clean), 0);
    EXPECT_EQ(Policy(clean), 1);
    std::vector<Call> calls = g_rec.calls;
    for (const char* f : {"RegOpenKeyExA", "RegQueryValueExA", "GetDiskFreeSpaceExA", "CreateFileA",
                          "GetPrivateProfileStringA", "RegisterEventSourceA", "ReportEventA"}) {
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [&](const Call& c) { return c.name == f; }))
            << f << " is not called in a clean run";
    }

    // Kernel operations, the first call of each (phase, preceding op, op);
    // then every Windows call.
    std::stable_partition(calls.begin(), calls.end(), [](const Call& c) { return c.op != 0; });
    std::set<std::tuple<std::string, int, int>> seen;
    for (const Call& p : calls) {
        if (p.op != 0 && !seen.insert({p.phase, p.prev, p.op}).second) continue;
        const Outcome o = RunOnce(p.op, p.ordinal, p.name);
        SCOPED_TRACE(p.name + " call " + std::to_string(p.ordinal) + " in " + p.phase + " after " +
                     kernel_op_name(p.prev));
        vdtest::CheckRun(o, p.op, p.ordinal, o.fault_hit);
        if (p.op != 0) {
            EXPECT_TRUE(o.exit_code == kExitOk || o.exit_code == kExitFailure) << o.exit_code;
            if (o.exit_code == kExitFailure) { EXPECT_FALSE(o.ran); }
            if (p.phase != "start") { EXPECT_EQ(o.exit_code, kExitOk); }
            continue;
        }
        EXPECT_TRUE(o.fault_hit);
        EXPECT_EQ(o.exit_code, kExitOk);
        ASSERT_TRUE(o.db);
        EXPECT_TRUE(AllDone(o));
        // The keyboard row shows what was asked whatever the device answered,
        // and nothing when the device could not be opened.
        EXPECT_EQ(Disk(o) > 0, !(p.name == "GetDiskFreeSpaceExA" && p.phase == "run"));
        const bool policy_call = p.phase == "run" && (p.name == "RegOpenKeyExA" || p.name == "RegQueryValueExA");
        EXPECT_EQ(Policy(o), policy_call ? 0 : 1);
        const bool device_open = p.name == "CreateFileA" && p.phase == "start";
        EXPECT_EQ(Keyboard(o), device_open ? 0 : Keyboard(clean));
    }
}

}  // namespace
