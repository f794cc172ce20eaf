// vdrt trigger: sets a trigger tag as an operator would and waits for the
// task's done tag, printing the time between the two and the result tags.
// The demo and people at a console use it to drive one row.
//
//   vdrt trigger [--timeout MS] TRIGGER VALUE DONE [RESULT...]
//
// Setting a tag to the value it holds is no change, so a trigger that
// already holds VALUE is first set to 0 and the task given a moment to take
// that. Then the done tag is reset to 0 (a task writing 1 onto 1 makes no
// change either), the watch starts, the trigger is set and the first change
// of the done tag ends it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "sim/backend.h"
#include "tools/vdrt/vdrt.h"

namespace vdrt {
namespace {

constexpr const char* kUsage = "usage: vdrt trigger [--timeout MS] TRIGGER VALUE DONE [RESULT...]";

bool Holds(const sim::Database& db, int index, const std::string& text) {
    sim::TagInfo info;
    sim::Value now, wanted;
    std::string error;
    db.GetTagInfo(static_cast<std::uint32_t>(index), info);
    db.GetValue(static_cast<std::uint32_t>(index), now);
    return sim::ParseValue(info.type, text, wanted, error) && sim::FormatValue(now) == sim::FormatValue(wanted);
}

bool SetFromText(sim::Database& db, int index, const std::string& text) {
    sim::TagInfo info;
    db.GetTagInfo(static_cast<std::uint32_t>(index), info);
    sim::Value value;
    std::string error;
    if (!sim::ParseValue(info.type, text, value, error)) {
        Error("value for " + info.name + " (" + sim::TagTypeName(info.type) + "): " + error);
        return false;
    }
    std::int32_t rc = db.SetValue(static_cast<std::uint32_t>(index), value);
    if (rc != 0) Error("cannot set " + info.name + " (kernel error " + std::to_string(rc) + ")");
    return rc == 0;
}

std::string Show(const sim::Database& db, int index) {
    sim::TagInfo info;
    sim::Value value;
    db.GetTagInfo(static_cast<std::uint32_t>(index), info);
    db.GetValue(static_cast<std::uint32_t>(index), value);
    return info.name + "=" + sim::FormatValue(value, true);
}

int Trigger(const Args& all, const Options& options) {
    long timeout_ms = 5000;
    Args args;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "--timeout" && i + 1 < all.size()) {
            char* end = nullptr;
            timeout_ms = std::strtol(all[i + 1].c_str(), &end, 10);
            if (*end != '\0' || timeout_ms <= 0) {
                Error(kUsage);
                return kExitUsage;
            }
            ++i;
        } else {
            args.push_back(all[i]);
        }
    }
    if (args.size() < 3) {
        Error(kUsage);
        return kExitUsage;
    }
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    int trigger = ResolveTag(*db, args[0]);
    int done = ResolveTag(*db, args[2]);
    if (trigger < 0 || done < 0) return kExitError;
    std::vector<int> results;
    for (std::size_t i = 3; i < args.size(); ++i) {
        int r = ResolveTag(*db, args[i]);
        if (r < 0) return kExitError;
        results.push_back(r);
    }
    if (Holds(*db, trigger, args[1])) {
        if (!SetFromText(*db, trigger, "0")) return kExitError;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!SetFromText(*db, done, "0")) return kExitError;

    std::string observer = "vdrt-trig-" + std::to_string(sim::CurrentProcessId());
    TaskId task = db->AttachObserver(observer.c_str());
    if (task < 0) {
        Error("cannot watch: no free task slot in the runtime");
        return kExitError;
    }
    TagRef done_ref = static_cast<TagRef>(done);
    db->ArmWait(task, &done_ref, 1);
    auto start = std::chrono::steady_clock::now();
    if (!SetFromText(*db, trigger, args[1])) {
        db->Detach(task);
        return kExitError;
    }
    auto deadline = start + std::chrono::milliseconds(timeout_ms);
    bool seen = false;
    std::vector<char> buffer(kKernelBlockCapacity + 1);
    while (!seen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (db->WaitChangeFor(task, static_cast<int>(left.count())) != 0) break;
        std::int32_t index = 0;
        ValueRecord record{};
        record.SetText(buffer.data());
        record.capacity = kKernelBlockCapacity;
        seen = db->NextChanged(task, &done_ref, 1, &index, &record) == 0;
    }
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    db->Detach(task);
    std::string line = args[0] + "=" + args[1];
    if (seen)
        line += "  done after " + std::to_string(micros.count()) + " us  " + Show(*db, done);
    else
        line += "  NO DONE within " + std::to_string(timeout_ms) + " ms";
    for (int r : results) line += "  " + Show(*db, r);
    std::printf("%s\n", line.c_str());
    return seen ? kExitOk : kExitError;
}

const Registrar kTrigger({"trigger", "[--timeout MS] TRIGGER VALUE DONE [RESULT...]",
                          "set a trigger, wait for its done tag, print the latency and results", Trigger});

}  // namespace
}  // namespace vdrt
