// vdrt subcommands over the tag database: create, set, get, tags, watch,
// stop, tasks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/backend.h"
#include "tools/vdrt/vdrt.h"

namespace vdrt {
namespace {

std::string Join(const Args& args, std::size_t from) {
    std::string s;
    for (std::size_t i = from; i < args.size(); ++i) {
        if (i > from) s += ' ';
        s += args[i];
    }
    return s;
}

int Create(const Args& args, const Options& options) {
    if (args.size() != 1) {
        Error("usage: vdrt create TAGLIST");
        return kExitUsage;
    }
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        Error("cannot read the tag list " + args[0]);
        return kExitError;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::vector<sim::TagSpec> tags;
    std::string error;
    if (!sim::ParseTagList(text.str(), tags, error)) {
        Error(args[0] + ": " + error);
        return kExitError;
    }
    std::string path = DatabasePath(options);
    if (!sim::Database::Create(path, tags, error)) {
        Error(error);
        return kExitError;
    }
    std::printf("runtime database %s created with %zu tags\n", path.c_str(), tags.size());
    return kExitOk;
}

int Set(const Args& args, const Options& options) {
    if (args.size() < 2) {
        Error("usage: vdrt set TAG VALUE");
        return kExitUsage;
    }
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    int index = ResolveTag(*db, args[0]);
    if (index < 0) return kExitError;
    sim::TagInfo info;
    db->GetTagInfo(static_cast<std::uint32_t>(index), info);
    if (info.type == kTagNotConfigured) {
        Error("tag " + info.name + " is not configured and holds no value");
        return kExitError;
    }
    sim::Value value;
    std::string error;
    std::string text = Join(args, 1);
    if (!sim::ParseValue(info.type, text, value, error)) {
        Error("value for " + info.name + " (" + sim::TagTypeName(info.type) + "): " + error);
        return kExitError;
    }
    if (info.type == kTagBlock) {
        // A block keeps its header; only the bytes change.
        sim::Value old;
        db->GetValue(static_cast<std::uint32_t>(index), old);
        value.header = old.header;
    }
    std::int32_t rc = db->SetValue(static_cast<std::uint32_t>(index), value);
    if (rc != 0) {
        Error("cannot set " + info.name + " (kernel error " + std::to_string(rc) + ")");
        return kExitError;
    }
    return kExitOk;
}

int Get(const Args& args, const Options& options) {
    if (args.empty()) {
        Error("usage: vdrt get TAG...");
        return kExitUsage;
    }
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    int rc = kExitOk;
    for (const std::string& name : args) {
        int index = ResolveTag(*db, name);
        if (index < 0) {
            rc = kExitError;
            continue;
        }
        sim::Value value;
        db->GetValue(static_cast<std::uint32_t>(index), value);
        if (args.size() == 1)
            std::printf("%s\n", sim::FormatValue(value).c_str());
        else
            std::printf("%s = %s\n", name.c_str(), sim::FormatValue(value, true).c_str());
    }
    return rc;
}

int Tags(const Args& args, const Options& options) {
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    std::uint32_t count = db->TagCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        sim::TagInfo info;
        sim::Value value;
        if (!db->GetTagInfo(i, info) || !db->GetValue(i, value)) continue;
        std::printf("#%-5u %-32s %-6s %s\n", i, info.name.c_str(), sim::TagTypeName(info.type),
                    sim::FormatValue(value, true).c_str());
    }
    return kExitOk;
}

// watch [--count N] [--timeout MS] [TAG...]: prints "NAME = VALUE" for each
// change as it happens, until N changes, the timeout, or a stop request.
int Watch(const Args& args, const Options& options) {
    long max_changes = -1, timeout_ms = -1;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--count" || args[i] == "--timeout") && i + 1 < args.size()) {
            char* end = nullptr;
            long v = std::strtol(args[i + 1].c_str(), &end, 10);
            if (*end != '\0' || v < 0) {
                Error("usage: vdrt watch [--count N] [--timeout MS] [TAG...]");
                return kExitUsage;
            }
            (args[i] == "--count" ? max_changes : timeout_ms) = v;
            ++i;
        } else {
            names.push_back(args[i]);
        }
    }
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    std::vector<TagRef> refs;
    if (names.empty()) {
        for (std::uint32_t i = 0; i < db->TagCount(); ++i) refs.push_back(i);
    } else {
        for (const std::string& name : names) {
            int index = ResolveTag(*db, name);
            if (index < 0) return kExitError;
            refs.push_back(static_cast<TagRef>(index));
        }
    }
    std::string observer = "vdrt-watch-" + std::to_string(sim::CurrentProcessId());
    TaskId task = db->AttachObserver(observer.c_str());
    if (task < 0) {
        Error("cannot watch: no free task slot in the runtime");
        return kExitError;
    }
    std::int32_t count = static_cast<std::int32_t>(refs.size());
    db->ArmWait(task, refs.data(), count);
    std::printf("watching %d tags (stop with \"vdrt stop %s\")\n", count, observer.c_str());
    std::fflush(stdout);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    long seen = 0;
    int rc = kExitOk;
    std::vector<char> buffer(kKernelBlockCapacity + 1);
    while (max_changes < 0 || seen < max_changes) {
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) break;
            wait_ms = static_cast<int>(left);
        }
        std::int32_t w = db->WaitChangeFor(task, wait_ms);
        if (w == kKernelErrTimeout) break;
        if (w != 0 || db->StopRequested(task) != 0) break;
        std::int32_t index = 0;
        while (max_changes < 0 || seen < max_changes) {
            ValueRecord record{};
            record.SetText(buffer.data());
            record.capacity = kKernelBlockCapacity;
            if (db->NextChanged(task, refs.data(), count, &index, &record) != 0) break;
            std::uint32_t tag = TagRefIndex(refs[index]);
            sim::TagInfo info;
            sim::Value value;
            db->GetTagInfo(tag, info);
            db->GetValue(tag, value);
            std::printf("%s = %s\n", info.name.c_str(), sim::FormatValue(value, true).c_str());
            std::fflush(stdout);
            ++seen;
            ++index;
        }
    }
    db->Detach(task);
    return rc;
}

int Stop(const Args& args, const Options& options) {
    if (args.size() != 1) {
        Error("usage: vdrt stop TASK");
        return kExitUsage;
    }
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    TaskId task = db->FindTask(args[0]);
    if (task < 0 || db->RequestStop(task) != 0) {
        Error("no task " + args[0] + " is attached");
        return kExitError;
    }
    return kExitOk;
}

int Tasks(const Args& args, const Options& options) {
    std::unique_ptr<sim::Database> db = OpenDatabase(options);
    if (!db) return kExitError;
    std::vector<sim::TaskInfo> tasks = db->Tasks();
    if (tasks.empty()) {
        std::printf("no task is attached\n");
        return kExitOk;
    }
    std::printf("%-3s %-12s %-8s %-15s %-24s %s\n", "ID", "TASK", "PID", "STATE", "STATUS", "MESSAGE");
    for (const sim::TaskInfo& t : tasks) {
        std::string state = !t.alive          ? "gone"
                            : t.stop_requested ? "stop requested"
                            : t.waiting        ? "waiting"
                            : t.started        ? "running"
                                               : "attached";
        std::string status = t.status_tag + "=" + std::to_string(t.status);
        std::printf("%-3d %-12s %-8d %-15s %-24s %s=\"%s\"\n", t.id, t.name.c_str(), t.pid, state.c_str(),
                    status.c_str(), t.message_tag.c_str(), t.message.c_str());
    }
    return kExitOk;
}

const Registrar kCreate({"create", "TAGLIST", "create the runtime database from a tag list", Create});
const Registrar kSet({"set", "TAG VALUE", "set a tag's value", Set});
const Registrar kGet({"get", "TAG...", "print tag values", Get});
const Registrar kTags({"tags", "", "list every tag with its type and value", Tags});
const Registrar kWatch({"watch", "[--count N] [--timeout MS] [TAG...]", "print changes as they happen", Watch});
const Registrar kStop({"stop", "TASK", "request a task's stop", Stop});
const Registrar kTasks({"tasks", "", "list attached tasks with their status and message", Tasks});

}  // namespace
}  // namespace vdrt
