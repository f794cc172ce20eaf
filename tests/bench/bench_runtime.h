// Helpers of the ratio benchmark and the load test: a runtime in a scratch
// directory with N system command rows (trigger, shared value, done), the
// vdwinut process started on it, and figures of that process read from
// /proc (host build only).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_utilities/host_utilities_task.h"
#include "platform/environment.h"
#include "sim/sim.h"
#include "support/archive.h"
#include "support/archive_writer.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/task_process.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// Median and 99th percentile of round trips in microseconds.
struct Latency {
    double median = 0, p99 = 0;
    int samples = 0;
};

inline Latency Summarise(const std::vector<double>& samples) {
    return {Percentile(samples, 0.5), Percentile(samples, 0.99), static_cast<int>(samples.size())};
}

// The vdwinut program of $VD_BINARY_DIR (default build/host-release).
inline std::string VdwinutPath() {
    const char* bin = std::getenv("VD_BINARY_DIR");
    return (fs::path(bin != nullptr ? bin : "build/host-release") / "app" / "vdwinut").string();
}

// Reads "--name value" pairs into `options`, whose keys are the names known
// (with their defaults); false for anything else.
inline bool ParseOptions(int argc, char** argv, std::map<std::string, std::string>& options) {
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || i + 1 >= argc || options.count(arg.substr(2)) == 0) return false;
        options[arg.substr(2)] = argv[i + 1];
    }
    return true;
}

// Tag indexes of the runtime: 0 status, 1 message, 2 the shared value tag,
// then per row its trigger and its done tag.
inline TagRef TriggerTag(int row) { return static_cast<TagRef>(3 + 2 * row); }
inline TagRef DoneTag(int row) { return static_cast<TagRef>(4 + 2 * row); }

struct Runtime : vdtest::RuntimeFolder {
    std::unique_ptr<vdtest::ScratchDir> scratch;
    vdtest::SystemProcess process;  // the vdwinut process: its std::system status

    ~Runtime() {
        Stop();
        db.reset();
    }

    // A fresh scratch directory for the runtime.
    const fs::path& MakeDir(const std::string& tag) {
        scratch = std::make_unique<vdtest::ScratchDir>("vd_" + tag + "_");
        return dir = scratch->Dir();
    }

    // A fresh runtime with `rows` rows of command `code` (102: free space of
    // drive C into the shared value tag).
    bool Create(const std::string& tag, int rows, std::uint16_t code = kCmdFreeSpaceA + 2) {
        MakeDir(tag);
        for (const char* sub : {"app/plant/ct", "app/net", "root/bin"}) fs::create_directories(dir / sub);
        std::ofstream(dir / "app" / "net" / "VDWINUT.ini") << "[Debug]\nDebugLevel=0\n";
        std::vector<sim::TagSpec> tags = {{"VDWINUT.STATUS", kTagInt16, "0"},
                                          {"VDWINUT.MSG", kTagText, ""},
                                          {"VALUE", kTagInt32, "0"}};
        for (int r = 0; r < rows; ++r) {
            const std::string n = std::to_string(r);  // appended: GCC 12 warns wrongly on "T" + n
            tags.push_back({std::string("T").append(n), kTagInt16, "0"});
            tags.push_back({std::string("D").append(n), kTagInt16, "0"});
        }
        // The rows: trigger, value, done, command, default value.
        const std::string app = (dir / "app").string();
        CtArchive ct{};
        if (ct_create(&ct, app.c_str(), "plant/ct/VDWINUT.ct") != CT_OK) return false;
        if (rows > 0) {
            std::vector<std::uint8_t> records(static_cast<std::size_t>(rows) * 16);
            for (int r = 0; r < rows; ++r) {
                std::uint8_t* rec = records.data() + 16 * r;
                const std::uint32_t refs[3] = {TriggerTag(r), 2, DoneTag(r)};
                std::memcpy(rec, refs, sizeof refs);
                std::memcpy(rec + 12, &code, 2);
            }
            if (ct_add_table(&ct, kCommandTableType, "SYSCMD", nullptr, 0, 16) != CT_OK ||
                ct_append_records(&ct, records.data(), records.size(), static_cast<std::uint32_t>(rows)) != CT_OK) {
                ct_discard(&ct);
                return false;
            }
        }
        if (ct_close(&ct) != CT_OK) return false;
        std::string error;
        if (!(db = sim::Database::Create(DbPath(), tags, error))) {
            std::fprintf(stderr, "cannot create the runtime: %s\n", error.c_str());
            return false;
        }
        SetEnvironment("BENCH", "bench");
        return true;
    }

    // Starts vdwinut and waits until it shows status 1 ("RUN") within
    // `timeout_ms`; `t0` gets the time just before the start.
    bool Launch(const std::string& program, int timeout_ms, Clock::time_point* t0 = nullptr) {
        const std::string command = "\"" + program + "\" > \"" + (dir / "task.out").string() + "\" 2>&1";
        if (t0 != nullptr) *t0 = Clock::now();
        process.Start(command);
        if (vdtest::WaitUntil([&] { return Value(0) == 1; }, timeout_ms, [&] { return process.Ended(); },
                              std::chrono::microseconds(200)))
            return true;
        std::fprintf(stderr, "the task did not start (see %s)\n", (dir / "task.out").string().c_str());
        return false;
    }

    std::int64_t Value(std::uint32_t index) const {
        sim::Value v;
        return db->GetValue(index, v) ? v.integer : -1;
    }

    int Pid() const {
        for (const auto& t : db->Tasks())
            if (t.name == "VDWINUT") return t.pid;
        return 0;
    }

    // Requests the stop and waits for the process; its std::system status
    // (0 = exit code 0), or -999 when it did not end within `timeout_ms`.
    int Stop(int timeout_ms = 10000) {
        if (process.Started()) RequestStop("VDWINUT");
        return process.Exit(timeout_ms);
    }
};

// Resident set of a process in KB (VmRSS of /proc/<pid>/status), or -1.
inline long RssKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// CPU time of all threads of a process in nanoseconds (first field of each
// /proc/<pid>/task/<tid>/schedstat), or -1.
inline long long CpuNs(int pid) {
    long long total = 0;
    std::error_code ec;
    fs::directory_iterator it("/proc/" + std::to_string(pid) + "/task", ec);
    if (ec) return -1;
    for (const auto& task : it) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

// CPU used by each process of `pids` (all its threads) while this one
// sleeps `seconds`, in percent of one core; -1 where it cannot be read.
inline std::vector<double> CpuPercent(const std::vector<int>& pids, int seconds) {
    std::vector<long long> before, after;
    for (int pid : pids) before.push_back(CpuNs(pid));
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (int pid : pids) after.push_back(CpuNs(pid));
    const double wall_ns = Micros(Clock::now() - t0) * 1000.0;
    std::vector<double> percent;
    for (std::size_t i = 0; i < pids.size(); ++i)
        percent.push_back(before[i] < 0 || after[i] < 0 ? -1.0 : 100.0 * static_cast<double>(after[i] - before[i]) / wall_ns);
    return percent;
}

// Sets tag `index` (16-bit) as nobody's own write.
inline void SetInt16(sim::Database& db, std::uint32_t index, std::int16_t value) {
    sim::Value v;
    v.type = kTagInt16;
    v.integer = value;
    db.SetValue(index, v);
}

// Measures trigger -> done round trips the way a client of the runtime
// does: forget old changes of `done`, arm, set `trigger`, wait until `done`
// changes to 1. Microseconds, or a negative value on a timeout.
inline double RoundTrip(sim::Database& db, TaskId me, std::uint32_t trigger, std::uint32_t done, std::int16_t value) {
    SetInt16(db, done, 0);
    TagRef done_ref = done;
    std::int32_t index = 0;
    ValueRecord seen{};
    db.Lock(me);
    while (db.NextChanged(me, &done_ref, 1, &index, &seen) == 0) index = 0;
    db.ArmWait(me, &done_ref, 1);
    auto start = Clock::now();
    SetInt16(db, trigger, value);
    bool ok = false;
    while (!ok) {
        if (db.WaitChangeFor(me, 5000) != 0) break;
        index = 0;
        ok = db.NextChanged(me, &done_ref, 1, &index, &seen) == 0 && seen.Int16() == 1;
    }
    auto end = Clock::now();
    db.DisarmWait(me, &done_ref, 1);
    db.Unlock(me);
    return ok ? Micros(end - start) : -1.0;
}

}  // namespace bench
