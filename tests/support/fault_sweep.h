// Shared pieces of the fault sweeps of the task programs (vdwinut in
// tests/unit/host_utilities, vdmqtt in tests/e2e/bus): the stand-in kernel's
// table with every call announced to hooks (one may arm a fault of that call
// in the switch table of platform/test_hooks.h); the
// task's folders and configuration archive; the runtime's stop request with
// its bounded wait.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "kernel/kernel.h"
#include "sim/sim.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/wait_until.h"
#include "support/archive_text.h"

namespace vdtest {

// Called before every kernel call but kernel_last_error (which cannot
// fail), and after every call with an integer result.
struct KernelCallHooks {
    void (*before)(int op) = nullptr;
    void (*after)(int op, std::int64_t result) = nullptr;
};
inline KernelCallHooks kernel_call_hooks;

namespace sweep_detail {
template <typename T>
T After(int op, T result) {
    if constexpr (std::is_integral_v<T>)
        if (kernel_call_hooks.after != nullptr) kernel_call_hooks.after(op, result);
    return result;
}
#define VD_COUNTED(number, Name, member, result, params, args, unbound)                   \
    inline result Counted##Name params {                                                  \
        if (number != kOpLastError && kernel_call_hooks.before != nullptr) kernel_call_hooks.before(number); \
        return After(number, sim::Ops().member args);                                      \
    }
VD_KERNEL_OPERATIONS(VD_COUNTED)
#undef VD_COUNTED
}  // namespace sweep_detail

// The stand-in kernel's table with the hooks, generated from the operation
// list: a new operation joins the sweeps by itself.
inline const KernelOps& CountingKernelOps() {
#define VD_COUNTED_ENTRY(number, Name, member, result, params, args, unbound) .member = sweep_detail::Counted##Name,
    static const KernelOps ops = {VD_KERNEL_OPERATIONS(VD_COUNTED_ENTRY)};
#undef VD_COUNTED_ENTRY
    return ops;
}

// A task's folders under `dir` (application "app" with domain "plant",
// installation "root", simulated host "host"), the variables that name them,
// the tag list `tags` read into `specs` and the task's archive from `rows`.
inline bool PrepareTask(const std::filesystem::path& dir, const char* task, const char* tags, const char* rows,
                        std::vector<sim::TagSpec>& specs, std::string& error) {
    for (const char* sub : {"app/plant/ct", "app/net", "root/bin"}) std::filesystem::create_directories(dir / sub);
    SetRuntimeEnvironment({(dir / "app").generic_string(), (dir / "root").generic_string(), "plant", "FAULTS",
                           "tester", "", (dir / "host").generic_string()});
    if (!sim::ParseTagList(tags, specs, error)) return false;
    cttext::TagList names;
    for (const auto& spec : specs) names.names.push_back(spec.name);
    std::istringstream in(rows);
    cttext::Archive archive;
    const std::string path = (dir / "app/plant/ct" / (std::string(task) + ".ct")).string();
    return cttext::parse(in, task, &names, false, archive, error) && cttext::write_archive(archive, path, error);
}

inline std::int64_t IntTag(const sim::Database& db, const char* name) {
    sim::Value v;
    const std::int32_t ref = db.FindTag(name);
    return ref >= 0 && db.GetValue(static_cast<std::uint32_t>(ref), v) ? v.integer : -99;
}

// Requests the stop of `task` and waits up to 3 s for `done`; true when it
// took longer (a hang). A task that does not end after 5 s of further
// requests aborts the test program, naming `point`.
inline bool StopTask(sim::Database& db, const char* task, const std::atomic<bool>& done, const std::string& point) {
    auto wait_done = [&](int ms) {
        return WaitUntil([&] { return done.load(); }, ms, {}, std::chrono::milliseconds(1));
    };
    TaskId id = db.FindTask(task);
    if (id >= 0) db.RequestStop(id);
    if (wait_done(3000)) return false;
    for (int i = 0; i < 50 && !done; ++i) {
        if ((id = db.FindTask(task)) >= 0) db.RequestStop(id);
        wait_done(100);
    }
    if (!done) {
        std::fprintf(stderr, "the task did not stop: %s\n", point.c_str());
        std::abort();
    }
    return true;
}

}  // namespace vdtest
