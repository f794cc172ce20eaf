// Every kernel operation, and every registry, disk, device, settings and
// event-log call, failing once at every point of start-up, the run loop and
// shutdown: the vdwinut process entry runs the host utilities task over the
// in-process kernel while another thread plays the runtime (sets the rows'
// triggers, then requests the stop). A run without faults records the
// sequence of calls; each point of it is then run again with that one call
// failing (kernel operations through the stand-in kernel, Windows calls
// through the platform's fault switch). The task must never crash or hang,
// must leave the kernel detached and must return 0 after a start-up that
// succeeded and -1 after one that failed; a failing Windows call never
// stops the task: every row still answers, and a row whose call failed
// reports no value. The frame's pauses run on the test clock. The test
// prints each injected fault and what came of it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "frame/application.h"
#include "commands/host_utilities_task.h"
#include "frame/kernel_access.h"
#include "frame/kernel.h"
#include "frame/task_state.h"
#include "platform/environment.h"
#include "platform/device.h"
#include "platform/handle.h"
#include "platform/registry.h"
#include "platform/test_hooks.h"
#include "sim/sim.h"
#include "support/archive.h"
#include "support/archive_writer.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/runtime_environment.h"
#include "tests/support/scratch_dir.h"

namespace {

// Rows: screen-saver timeout (CMD), an event (EVT), free space of C:
// (DISK), the task-manager policy (POL), a keyboard key (KB).
const char* kTags =
    "CMD_TRIG int16 0\nCMD_VALUE int32 0\nCMD_DONE int16 0\n"
    "EVT_TRIG int16 0\nEVT_LEVEL int16 1\nEVT_TEXT text \"fault test\"\nEVT_DONE int16 0\n"
    "DISK_TRIG int16 0\nDISK_VALUE int32 0\nDISK_DONE int16 0\n"
    "POL_TRIG int16 0\nPOL_VALUE int16 0\nPOL_DONE int16 0\n"
    "KB_TRIG int16 0\nKB_STATE int16 0\nKB_DONE int16 0\n";
enum : TagRef {
    kCmdTrig, kCmdValue, kCmdDone, kEvtTrig, kEvtLevel, kEvtText, kEvtDone,
    kDiskTrig, kDiskValue, kDiskDone, kPolTrig, kPolValue, kPolDone, kKbTrig, kKbState, kKbDone
};
constexpr TagRef kTriggers[] = {kCmdTrig, kEvtTrig, kDiskTrig, kPolTrig, kKbTrig};
constexpr TagRef kDoneTags[] = {kCmdDone, kEvtDone, kDiskDone, kPolDone, kKbDone};
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

const char* OpName(int op) { return kernel_op_name(op); }

// ---- a counting operation table over the in-process kernel ---------------
// Each call is recorded with the phase it fell in; the armed call (the
// n-th call of one operation) is made to fail through sim::InjectFault just
// before it is forwarded.

struct Call {
    std::string phase;
    int prev = 0;
    int op = 0;
    int ordinal = 0;       // n-th call of this operation (function) in the run
    std::string function;  // a Windows call: its name
};

struct Recorder {
    std::mutex mutex;
    std::map<std::string, int> platform_counts;
    std::vector<Call> platform_calls;
    std::string platform_fault;  // function and ordinal of the armed call
    int platform_fault_ordinal = 0;
    std::string phase = "start";
    std::map<int, int> counts;
    std::vector<Call> calls;
    int prev = 0;
    bool loaded = false;  // RunLoad has run: the next run-loop operation starts the loop
    int fault_op = 0;
    int fault_ordinal = 0;
    bool fault_hit = false;
    std::string fault_phase;
};
Recorder g_rec;

void Enter(int op) {
    std::lock_guard<std::mutex> lock(g_rec.mutex);
    const bool loop_op = op == kOpLock || op == kOpNextChanged || op == kOpArmWait || op == kOpWaitChange ||
                         op == kOpAfterWait;
    if (g_rec.phase == "start" && g_rec.loaded && loop_op) g_rec.phase = "run";
    int n = ++g_rec.counts[op];
    g_rec.calls.push_back({g_rec.phase, g_rec.prev, op, n, {}});
    g_rec.prev = op;
    if (op == g_rec.fault_op && n == g_rec.fault_ordinal) {
        g_rec.fault_hit = true;
        g_rec.fault_phase = g_rec.phase;
        sim::InjectFault(op, 1, kKernelErrNoDatabase, -1);
    }
}

// Told of every Windows call with a fault point; the switch fails the armed
// one.
void OnPlatformCall(const char* function) {
    if (kSwept.find(std::string_view(function)) == kSwept.end()) return;
    std::lock_guard<std::mutex> lock(g_rec.mutex);
    int n = ++g_rec.platform_counts[function];
    g_rec.platform_calls.push_back({g_rec.phase, 0, 0, n, function});
    if (function == g_rec.platform_fault && n == g_rec.platform_fault_ordinal) {
        g_rec.fault_hit = true;
        g_rec.fault_phase = g_rec.phase;
    }
}

const KernelOps& Real() { return sim::Ops(); }

// What a call answered; a nonzero stop answer ends the run loop, so what
// follows is shutdown.
template <typename T>
T Leave(int op, T rc) {
    if (op == kOpStopRequested && rc != 0) {
        std::lock_guard<std::mutex> lock(g_rec.mutex);
        if (g_rec.phase == "run") g_rec.phase = "shutdown";
    }
    return rc;
}

// Every operation counted and forwarded; last_error is not one that fails.
#define VD_COUNTED(number, Name, member, result, params, args, unbound) \
    result Counted##Name params {                                       \
        if (number != kOpLastError) Enter(number);                      \
        return Leave(number, Real().member args);                       \
    }
VD_KERNEL_OPERATIONS(VD_COUNTED)
#undef VD_COUNTED

#define VD_COUNTED_ENTRY(number, Name, member, result, params, args, unbound) .member = Counted##Name,
const KernelOps kCounting = {VD_KERNEL_OPERATIONS(VD_COUNTED_ENTRY)};
#undef VD_COUNTED_ENTRY

// The task of the program, telling the recorder when its start-up actions
// are done.
class ObservedTask : public HostUtilitiesTask {
public:
    ObservedTask() : HostUtilitiesTask("VDWINUT", "Windows Host Utilities") {}
    void RunLoad() override {
        HostUtilitiesTask::RunLoad();
        std::lock_guard<std::mutex> lock(g_rec.mutex);
        g_rec.loaded = true;
    }
};

// ---- one run of the process entry ------------------------------------------

struct Outcome {
    bool fault_hit = false;
    std::string fault_phase;
    int exit_code = 99;
    bool hung = false;          // needed a second stop request to end
    bool ran = false;           // reached "RUN"
    std::int64_t cmd_done = 0;  // done tags of the two rows
    std::int64_t evt_done = 0;
    bool all_done = false;         // every row's done tag
    std::int64_t disk_value = 0;   // free kilobytes of C:
    std::int64_t policy_value = 0;
    std::int64_t keyboard_state = 0;
    std::size_t attached_after = 0;
    std::string message;        // the task's message tag after the run
    long long ms = 0;           // how long the run took
};

std::int64_t Int(sim::Database& db, TagRef ref) {
    sim::Value v;
    return db.GetValue(ref, v) ? v.integer : -99;
}

class FaultInjectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "app" / "plant" / "ct");
        std::filesystem::create_directories(dir_ / "root" / "bin");
        vdtest::SetRuntimeEnvironment({(dir_ / "app").generic_string(), (dir_ / "root").generic_string(), "plant",
                                       "FAULTS", "tester", "", (dir_ / "host").generic_string()});
        WriteArchive();
        // The keyboard filter device exists on the simulated host; Windows
        // has none, so there its open fails in every run.
        std::filesystem::create_directories(dir_ / "host" / "devices");
        std::ofstream(dir_ / "host" / "devices" / "KbFilter");
        SetPolicy(true);
        win::test::UseTestClock(true);
        std::string error;
        ASSERT_TRUE(sim::ParseTagList(kTags, specs_, error)) << error;
    }
    void TearDown() override {
        win::test::UseTestClock(false);
        win::test::SetCallObserver(nullptr);
        win::test::ClearFaults();
        SetPolicy(false);
        vdtest::UnbindInProcessKernel();
        vdtest::ClearRuntimeEnvironment();
    }

    // The task-manager policy the policy row reads: 1 while the test runs.
    static void SetPolicy(bool on) {
        win::HKEY key = nullptr;
        const win::DWORD one = 1;
        ASSERT_EQ(win::RegCreateKeyA(win::HKEY_CURRENT_USER, kPolicyKey, &key), win::ERROR_SUCCESS);
        if (on) {
            win::RegSetValueExA(key, "DisableTaskMgr", 0, win::REG_DWORD, reinterpret_cast<const win::BYTE*>(&one), 4);
        } else {
            win::RegDeleteValueA(key, "DisableTaskMgr");
        }
        win::RegCloseKey(key);
    }

    // System command rows (screen-saver timeout into CMD_VALUE, free space
    // of C: into DISK_VALUE, the task-manager policy into POL_VALUE), an
    // event-log row and a keyboard row, through the archive writer.
    void WriteArchive() {
        const std::string base = (dir_ / "app").generic_string();
        CtArchive ct{};
        ASSERT_EQ(ct_create(&ct, base.c_str(), "plant/ct/VDWINUT.ct"), CT_OK);
        struct CommandRow {
            std::uint32_t trig, value, done;
            std::uint16_t code;
        };
        const CommandRow rows[] = {{kCmdTrig, kCmdValue, kCmdDone, kCmdScreenSaverTimeout},
                                   {kDiskTrig, kDiskValue, kDiskDone, kCmdFreeSpaceA + 2},
                                   {kPolTrig, kPolValue, kPolDone, kCmdTaskMgrPolicy}};
        std::uint8_t cmd[3][16] = {};
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t refs[3] = {rows[i].trig, rows[i].value, rows[i].done};
            std::memcpy(cmd[i], refs, sizeof refs);
            std::memcpy(cmd[i] + 12, &rows[i].code, 2);
        }
        ASSERT_EQ(ct_add_table(&ct, kCommandTableType, "SYSCMD", nullptr, 0, 16), CT_OK);
        ASSERT_EQ(ct_append_records(&ct, cmd, sizeof cmd, 3), CT_OK);
        std::uint8_t kb[26] = {};
        const std::uint32_t kb_refs[4] = {kKbTrig, kKbTrig, kKbState, kKbDone};
        std::memcpy(kb, kb_refs, sizeof kb_refs);
        kb[16] = 0x1E;  // key code; no modifiers
        ASSERT_EQ(ct_add_table(&ct, kKeyboardTableType, "KEYBOARD", nullptr, 0, sizeof kb), CT_OK);
        ASSERT_EQ(ct_append_records(&ct, kb, sizeof kb, 1), CT_OK);
        std::uint8_t evt[18 + 64] = {};
        const std::uint32_t evt_refs[4] = {kEvtTrig, kEvtLevel, kEvtText, kEvtDone};
        std::memcpy(evt, evt_refs, sizeof evt_refs);
        std::memcpy(evt + 18, "default text", 12);
        ASSERT_EQ(ct_add_table(&ct, kEventLogTableType, "EVENTLOG", nullptr, 0, sizeof evt), CT_OK);
        ASSERT_EQ(ct_append_records(&ct, evt, sizeof evt, 1), CT_OK);
        ASSERT_EQ(ct_close(&ct), CT_OK);
    }

    // A run with the `fault_ordinal`-th call of kernel operation `fault_op`
    // failing, or of the Windows call `fault_function`.
    Outcome RunOnce(int fault_op, int fault_ordinal, const char* fault_function = nullptr) {
        Outcome out;
        const auto started = std::chrono::steady_clock::now();
        std::string error;
        auto db = sim::Database::CreateInProcess(specs_, error);
        EXPECT_TRUE(db) << error;
        if (!db) return out;
        {
            std::lock_guard<std::mutex> lock(g_rec.mutex);
            g_rec.phase = "start";
            g_rec.counts.clear();
            g_rec.calls.clear();
            g_rec.prev = 0;
            g_rec.loaded = false;
            g_rec.fault_op = fault_op;
            g_rec.fault_ordinal = fault_ordinal;
            g_rec.fault_hit = false;
            g_rec.platform_counts.clear();
            g_rec.platform_calls.clear();
            g_rec.platform_fault = fault_function != nullptr ? fault_function : "";
            g_rec.platform_fault_ordinal = fault_function != nullptr ? fault_ordinal : 0;
        }
        if (fault_function != nullptr)
            win::test::FailCalls(fault_function, kSwept.find(std::string_view(fault_function))->second, 1,
                                 fault_ordinal - 1);
        win::test::SetCallObserver(&OnPlatformCall);
        sim::SetCurrentDatabase(db.get());
        kernel_bind_table(kCounting);

        std::atomic<bool> done{false};
        std::string message_tag;
        std::thread runtime([&] {
            using clock = std::chrono::steady_clock;
            auto wait_for = [&](auto pred, int ms) {
                auto end = clock::now() + std::chrono::milliseconds(ms);
                while (!done && !pred() && clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                return pred();
            };
            auto running = [&] {
                for (const auto& t : db->Tasks())
                    if (t.name == "VDWINUT" && t.status == 1) {
                        message_tag = t.message_tag;
                        return true;
                    }
                return false;
            };
            out.ran = wait_for(running, 3000);
            // The task's loop: its step count and whether it waits now.
            auto loop = [&] {
                for (const auto& t : db->Tasks())
                    if (t.name == "VDWINUT") return std::make_pair(t.steps, t.waiting);
                return std::make_pair(0u, false);
            };
            if (out.ran) {
                const std::uint32_t steps_before = loop().first;
                for (TagRef ref : kTriggers) {
                    sim::Value v;
                    v.type = kTagInt16;
                    v.integer = 1;
                    db->SetValue(ref, v);
                }
                // Until every row answered, or the task has taken the
                // changes and waits again without them (a fault lost them).
                int idle_polls = 0;
                wait_for([&] {
                    bool all = true;
                    for (TagRef ref : kDoneTags) all = all && Int(*db, ref) != 0;
                    auto [steps, waiting] = loop();
                    idle_polls = waiting && steps > steps_before ? idle_polls + 1 : 0;
                    return all || idle_polls >= 10;
                }, 1000);
            }
            TaskId id = db->FindTask("VDWINUT");
            if (id >= 0) db->RequestStop(id);
            if (!wait_for([&] { return done.load(); }, 3000)) {
                out.hung = true;
                for (int i = 0; i < 50 && !done; ++i) {
                    if ((id = db->FindTask("VDWINUT")) >= 0) db->RequestStop(id);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                if (!done) {
                    std::fprintf(stderr, "the task did not stop: %s call %d\n", OpName(fault_op), fault_ordinal);
                    std::abort();
                }
            }
        });
        {
            TaskApplication app;
            ObservedTask task;
            out.exit_code = ProcessMain(app, task);
            done = true;
            runtime.join();
            // What the task leaves in the task-wide state goes with it.
            EXPECT_EQ(task_state().task_id, kNoTask);
        }
        win::test::SetCallObserver(nullptr);
        win::test::ClearFaults();
        {
            std::lock_guard<std::mutex> lock(g_rec.mutex);
            out.fault_hit = g_rec.fault_hit;
            out.fault_phase = g_rec.fault_phase;
            g_rec.fault_op = 0;
        }
        sim::ClearFaults();
        out.cmd_done = Int(*db, kCmdDone);
        out.evt_done = Int(*db, kEvtDone);
        out.all_done = true;
        for (TagRef ref : kDoneTags) out.all_done = out.all_done && Int(*db, ref) == 1;
        out.disk_value = Int(*db, kDiskValue);
        out.policy_value = Int(*db, kPolValue);
        out.keyboard_state = Int(*db, kKbState);
        out.attached_after = db->Tasks().size();
        std::int32_t mt = message_tag.empty() ? -1 : db->FindTag(message_tag);
        sim::Value v;
        if (mt >= 0 && db->GetValue(static_cast<std::uint32_t>(mt), v)) out.message = v.bytes;
        kernel_unbind();
        sim::SetCurrentDatabase(nullptr);
        out.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
                     .count();
        // The process keeps its lock semaphores for good; a test that starts
        // many tasks gives them back.
        vdtest::ResetKernelAccess();
        return out;
    }

    vdtest::ScratchDir scratch_{"frame_faults_"};
    const std::filesystem::path dir_ = scratch_.Dir();
    std::vector<sim::TagSpec> specs_;
};

TEST_F(FaultInjectionTest, EveryKernelOperationFailingOnceAtEveryPoint) {
    // The run without faults: both rows answer, orderly stop, exit 0.
    const Outcome clean = RunOnce(0, 0);
    ASSERT_TRUE(clean.ran);
    EXPECT_EQ(clean.exit_code, kExitOk);
    EXPECT_FALSE(clean.hung);
    EXPECT_EQ(clean.cmd_done, 1);
    EXPECT_EQ(clean.evt_done, 1);
    EXPECT_EQ(clean.attached_after, 0u);
    EXPECT_TRUE(clean.all_done);
    EXPECT_GT(clean.disk_value, 0);
    EXPECT_EQ(clean.policy_value, 1);
    // Windows has no keyboard filter device: its row then says so in the
    // message tag, which the stop leaves as it is.
    if (clean.keyboard_state == 1) {
        EXPECT_EQ(clean.message, "SHUTDOWN");
    }
    std::vector<Call> sequence;
    {
        std::lock_guard<std::mutex> lock(g_rec.mutex);
        sequence = g_rec.calls;
    }
    ASSERT_FALSE(sequence.empty());

    // The points: the first call of each (phase, preceding op, op).
    std::set<std::tuple<std::string, int, int>> seen;
    std::vector<Call> points;
    for (const Call& c : sequence)
        if (seen.insert({c.phase, c.prev, c.op}).second) points.push_back(c);
    std::set<int> ops_seen;
    for (const Call& c : sequence) ops_seen.insert(c.op);

    std::printf("%zu kernel calls in a clean run, %zu operations, %zu points\n", sequence.size(), ops_seen.size(),
                points.size());
    std::printf("%-9s %-17s %-17s %4s | %-4s %-3s %-4s %-4s %-4s %-4s %5s %s\n", "phase", "after", "failing op",
                "call", "exit", "run", "cmd", "evt", "att", "hang", "ms", "message");
    int failures_at_start = 0;
    for (const Call& p : points) {
        const Outcome o = RunOnce(p.op, p.ordinal);
        std::printf("%-9s %-17s %-17s %4d | %4d %-3s %4lld %4lld %4zu %-4s %5lld %s%s\n", p.phase.c_str(),
                    OpName(p.prev), OpName(p.op), p.ordinal, o.exit_code, o.ran ? "yes" : "no",
                    static_cast<long long>(o.cmd_done), static_cast<long long>(o.evt_done), o.attached_after,
                    o.hung ? "YES" : "no", o.ms, o.message.c_str(),
                    o.fault_hit ? "" : "  (call not reached)");
        SCOPED_TRACE(std::string(OpName(p.op)) + " call " + std::to_string(p.ordinal) + " in " + p.phase);
        EXPECT_FALSE(o.hung);
        // The documented codes: -1 when start-up failed, 0 after the loop.
        EXPECT_TRUE(o.exit_code == kExitOk || o.exit_code == kExitFailure) << o.exit_code;
        if (o.exit_code == kExitFailure) {
            ++failures_at_start;
            EXPECT_EQ(p.phase, "start");
            EXPECT_FALSE(o.ran);
        }
        if (p.phase != "start") {
            EXPECT_EQ(o.exit_code, kExitOk);
        }
        // Detached at the end, unless the failing call was the detach itself.
        if (!(p.op == kOpDetach && o.fault_hit)) {
            EXPECT_EQ(o.attached_after, 0u);
        }
        if (p.op == kOpAttach && p.ordinal == 1) {
            EXPECT_EQ(o.exit_code, kExitFailure);
            EXPECT_EQ(o.cmd_done, 0);
        }
        if (p.op == kOpTaskEnvironment) {
            EXPECT_EQ(o.exit_code, kExitFailure);
        }
    }
    std::fflush(stdout);
    EXPECT_GE(failures_at_start, 2);  // at least attach and the environment record
}

}  // namespace

namespace {

TEST_F(FaultInjectionTest, EveryRegistryDiskDeviceSettingsAndEventLogCallFailingOnce) {
    const Outcome clean = RunOnce(0, 0);
    ASSERT_TRUE(clean.ran);
    ASSERT_TRUE(clean.all_done);
    std::vector<Call> points;
    {
        std::lock_guard<std::mutex> lock(g_rec.mutex);
        points = g_rec.platform_calls;
    }
    std::set<std::string> functions;
    for (const Call& p : points) functions.insert(p.function);
    // Each family is reached: the registry, disk, settings and event log on
    // both builds; the device's open (it has no device on Windows).
    for (const char* f : {"RegOpenKeyExA", "RegQueryValueExA", "GetDiskFreeSpaceExA", "CreateFileA",
                          "GetPrivateProfileStringA", "RegisterEventSourceA", "ReportEventA"}) {
        EXPECT_EQ(functions.count(f), 1u) << f << " is not called in a clean run";
    }

    std::printf("%zu swept Windows calls in a clean run, %zu functions\n", points.size(), functions.size());
    std::printf("%-9s %-24s %4s | %-4s %-3s %-4s %-4s %-4s %-4s %-4s %5s %s\n", "phase", "failing call", "call",
                "exit", "run", "done", "disk", "pol", "kb", "hang", "ms", "message");
    for (const Call& p : points) {
        const Outcome o = RunOnce(0, p.ordinal, p.function.c_str());
        std::printf("%-9s %-24s %4d | %4d %-3s %-4s %-4s %4lld %4lld %-4s %5lld %s%s\n", p.phase.c_str(),
                    p.function.c_str(), p.ordinal, o.exit_code, o.ran ? "yes" : "no", o.all_done ? "all" : "NOT",
                    o.disk_value > 0 ? "yes" : "no", static_cast<long long>(o.policy_value),
                    static_cast<long long>(o.keyboard_state), o.hung ? "YES" : "no", o.ms, o.message.c_str(),
                    o.fault_hit ? "" : "  (call not reached)");
        SCOPED_TRACE(p.function + " call " + std::to_string(p.ordinal) + " in " + p.phase);
        EXPECT_TRUE(o.fault_hit);
        // A Windows call that fails never stops the task: it starts, every
        // row answers, it stops in order and detaches.
        EXPECT_FALSE(o.hung);
        EXPECT_TRUE(o.ran);
        EXPECT_EQ(o.exit_code, kExitOk);
        EXPECT_TRUE(o.all_done);
        EXPECT_EQ(o.attached_after, 0u);
        // The row whose call failed reports no value; the others are as in
        // the clean run. The keyboard row shows what was asked whatever the
        // device answered, and nothing when the device could not be opened.
        const bool disk_call = p.function == "GetDiskFreeSpaceExA" && p.phase == "run";
        EXPECT_EQ(o.disk_value > 0, !disk_call);
        const bool policy_call = p.phase == "run" && (p.function == "RegOpenKeyExA" || p.function == "RegQueryValueExA");
        EXPECT_EQ(o.policy_value, policy_call ? 0 : 1);
        const bool device_open = p.function == "CreateFileA" && p.phase == "start";
        EXPECT_EQ(o.keyboard_state, device_open ? 0 : clean.keyboard_state);
    }
    std::fflush(stdout);
}

}  // namespace
