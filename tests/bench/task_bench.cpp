// Task benchmarks, printed as figures:
//  1. trigger-to-handler latency through the real vdwinut process: a trigger
//     set from this process until the handler's done flag arrives back;
//  2. cost of one run step (polling scan and blocking wait) with 10,000
//     bound triggers and one change, in process.
//
//   task_bench [--rounds N] [--skip-process]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "frame/kernel.h"
#include "frame/trigger_list.h"
#include "platform/environment.h"
#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Print(const char* what, std::vector<double> samples) {
    if (samples.empty()) {
        std::printf("%-52s no samples\n", what);
        return;
    }
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))]; };
    std::printf("%-52s median %9.1f us   p99 %9.1f us   max %9.1f us   (n=%zu)\n", what, at(0.5), at(0.99),
                samples.back(), samples.size());
}

std::string Program(const char* path) { return fs::path(path).make_preferred().string(); }
std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// ---- 1. through the process ------------------------------------------------

int ProcessLatency(int rounds) {
    fs::path dir = fs::temp_directory_path() / ("vd_task_bench_" + std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(dir / "app" / "plant" / "ct");
    fs::create_directories(dir / "app" / "net");
    fs::create_directories(dir / "root" / "bin");
    // One system command row: free space of drive C.
    std::ofstream(dir / "tags.lst") << "VDWINUT.STATUS int16 0\nVDWINUT.MSG text \"\"\nSTOP int16 0\n"
                                       "TRIG int16 0\nVALUE int32 0\nDONE int16 0\n";
    std::ofstream(dir / "app" / "plant" / "ct" / "VDWINUT.ct.txt")
        << "table 2 \"SYSCMD\"\n  fields tag tag tag u16 i16\n  record tag:TRIG tag:VALUE tag:DONE 102 0\nend\n";
    std::ofstream(dir / "app" / "net" / "VDWINUT.ini") << "[Debug]\nDebugLevel=0\n";
    std::string db_path = (dir / "runtime.db").string();
    win::SetEnvironmentVariableA("VDAPP", (dir / "app").string().c_str());
    win::SetEnvironmentVariableA("VDROOT", (dir / "root").string().c_str());
    win::SetEnvironmentVariableA("VDDOMAIN", "plant");
    win::SetEnvironmentVariableA("VDRUNTIME", db_path.c_str());
    win::SetEnvironmentVariableA("VDHOST", (dir / "host").string().c_str());

    std::string ct = (dir / "app" / "plant" / "ct" / "VDWINUT.ct").string();
    std::string tags = (dir / "tags.lst").string();
    if (std::system((Program(VD_CTBUILD) + " -t " + Quote(tags) + " " + Quote(ct + ".txt") + " " + Quote(ct)).c_str()) != 0 ||
        std::system((Program(VD_VDRT) + " --db " + Quote(db_path) + " create " + Quote(tags)).c_str()) != 0) {
        std::fprintf(stderr, "task_bench: cannot set up the runtime in %s\n", dir.string().c_str());
        return 1;
    }
    std::string error;
    auto db = sim::Database::Open(db_path, error);
    if (!db) {
        std::fprintf(stderr, "task_bench: %s\n", error.c_str());
        return 1;
    }
    auto task = std::async(std::launch::async, [&] {
        return std::system((Program(VD_VDWINUT) + " > " + Quote((dir / "task.out").string())).c_str());
    });

    const std::uint32_t trig = static_cast<std::uint32_t>(db->FindTag("TRIG"));
    const std::uint32_t done = static_cast<std::uint32_t>(db->FindTag("DONE"));
    const std::uint32_t status = static_cast<std::uint32_t>(db->FindTag("VDWINUT.STATUS"));
    auto value_of = [&](std::uint32_t index) {
        sim::Value v;
        return db->GetValue(index, v) ? v.integer : -1;
    };
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (value_of(status) != 1 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (value_of(status) != 1) {
        std::fprintf(stderr, "task_bench: the task did not start\n");
        db->RequestStop(db->FindTask("VDWINUT"));
        task.wait();
        return 1;
    }

    TaskId me = db->AttachObserver("BENCH");
    TagRef done_ref = done;
    std::vector<double> samples;
    for (int i = 0; i < rounds; ++i) {
        sim::Value zero;
        zero.type = kTagInt16;
        db->SetValue(done, zero);
        std::int32_t index = 0;
        ValueRecord seen{};
        db->Lock(me);
        while (db->NextChanged(me, &done_ref, 1, &index, &seen) == 0) index = 0;  // forget old changes
        db->ArmWait(me, &done_ref, 1);
        sim::Value v;
        v.type = kTagInt16;
        v.integer = 1 + i % 100;
        auto start = Clock::now();
        db->SetValue(trig, v);
        bool ok = false;
        while (!ok) {
            if (db->WaitChangeFor(me, 5000) != 0) break;
            index = 0;
            ok = db->NextChanged(me, &done_ref, 1, &index, &seen) == 0 && seen.Int16() == 1;
        }
        auto end = Clock::now();
        db->DisarmWait(me, &done_ref, 1);
        db->Unlock(me);
        if (!ok) {
            std::fprintf(stderr, "task_bench: no answer in round %d\n", i);
            break;
        }
        samples.push_back(Micros(end - start));
    }
    db->Detach(me);
    Print("trigger to done flag through vdwinut (blocking)", samples);

    db->RequestStop(db->FindTask("VDWINUT"));
    task.wait();
    db.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return samples.size() == static_cast<std::size_t>(rounds) ? 0 : 1;
}

// ---- 2. in process ------------------------------------------------------------

int g_calls = 0;
void Count(TagEntry*, ValueRecord*, std::uint32_t, HandlerWord*) { ++g_calls; }

int StepCost(int rounds) {
    constexpr int kTriggers = 10000;
    std::string list;
    for (int i = 0; i < kTriggers; ++i) list += "T" + std::to_string(i) + " int16 0\n";
    std::vector<sim::TagSpec> specs;
    std::string error;
    if (!sim::ParseTagList(list, specs, error)) return 1;
    auto db = sim::Database::CreateInProcess(specs, error);
    if (!db) return 1;
    sim::SetCurrentDatabase(db.get());
    kernel_bind_table(sim::Ops());
    TaskId task = kernel_attach("BENCH", "bench", "", "", "");
    TaskId other = kernel_attach("WRITER", "writer", "", "", "");

    TriggerList* triggers = nullptr;
    trigger_list_create(&triggers);
    auto bind_start = Clock::now();
    for (int i = 0; i < kTriggers; ++i) trigger_list_add(triggers, static_cast<TagRef>(i), &Count, nullptr);
    std::printf("%-52s %9.1f ms\n", "binding 10,000 triggers", Micros(Clock::now() - bind_start) / 1000.0);
    trigger_list_poll(triggers, task);  // builds the arrays

    std::vector<double> poll, wait, idle;
    for (int i = 0; i < rounds; ++i) {
        TagRef ref = static_cast<TagRef>((i * 7919) % kTriggers);
        std::int16_t v = static_cast<std::int16_t>(i + 1);
        kernel_write(other, &ref, 1, &v);
        auto start = Clock::now();
        trigger_list_poll(triggers, task);
        poll.push_back(Micros(Clock::now() - start));

        kernel_write(other, &ref, 1, &v);
        v = static_cast<std::int16_t>(v + 1);
        kernel_write(other, &ref, 1, &v);
        start = Clock::now();
        trigger_list_wait(triggers, task);
        wait.push_back(Micros(Clock::now() - start));

        start = Clock::now();
        trigger_list_poll(triggers, task);
        idle.push_back(Micros(Clock::now() - start));
    }
    Print("polling step, 10,000 triggers, one change", poll);
    Print("blocking step, 10,000 triggers, change pending", wait);
    Print("polling step, 10,000 triggers, no change", idle);
    std::printf("%-52s %d of %d\n", "handlers called", g_calls, 2 * rounds);

    trigger_list_destroy(triggers);
    kernel_detach(other);
    kernel_detach(task);
    kernel_unbind();
    sim::SetCurrentDatabase(nullptr);
    return g_calls == 2 * rounds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    bool process = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--skip-process") == 0) process = false;
    }
    int rc = StepCost(rounds);
    if (process) rc |= ProcessLatency(rounds);
    return rc;
}
