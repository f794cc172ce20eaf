// A runtime folder of the task processes: the sample application with its
// archives, the runtime database (made by vdrt from the application's tag
// list, or by the caller), the variables a task reads at start to find them
// (application, installation, station, domain, user, runtime database,
// simulated host), and reads of its tags by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "platform/environment.h"
#include "sim/process.h"
#include "sim/sim.h"
#include "tests/support/wait_until.h"

namespace vdtest {

struct RuntimeEnvironment {
    std::string app, root, domain, name, user;
    std::string runtime;  // empty: VDRUNTIME is left unset
    std::string host;
};

inline void SetRuntimeEnvironment(const RuntimeEnvironment& e) {
    win::SetEnvironmentVariableA("VDAPP", e.app.c_str());
    win::SetEnvironmentVariableA("VDROOT", e.root.c_str());
    win::SetEnvironmentVariableA("VDDOMAIN", e.domain.c_str());
    win::SetEnvironmentVariableA("VDNAME", e.name.c_str());
    win::SetEnvironmentVariableA("VDUSER", e.user.c_str());
    win::SetEnvironmentVariableA("VDRUNTIME", e.runtime.empty() ? nullptr : e.runtime.c_str());
    win::SetEnvironmentVariableA("VDHOST", e.host.c_str());
}

inline void ClearRuntimeEnvironment() {
    for (const char* name : {"VDAPP", "VDROOT", "VDDOMAIN", "VDNAME", "VDUSER", "VDRUNTIME", "VDHOST"})
        win::SetEnvironmentVariableA(name, nullptr);
}

// The sample application of `examples` (app/, root/, tags.lst) copied into
// `to` with its text archives built by `ctbuild`, and the simulated host's
// keyboard filter device (a real Windows host has none); false names what
// failed in `error`.
inline bool CopySampleApplication(const std::filesystem::path& examples, const std::filesystem::path& to,
                                  const std::string& ctbuild, std::string& error) {
    namespace fs = std::filesystem;
    for (const char* part : {"app", "root", "tags.lst"})
        fs::copy(examples / part, to / part, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (const auto& item : fs::recursive_directory_iterator(to / "app")) {
        const std::string name = item.path().string();
        if (name.size() <= 7 || name.compare(name.size() - 7, 7, ".ct.txt") != 0) continue;
        if (sim::RunProgram({ctbuild, "-t", (to / "tags.lst").string(), name, name.substr(0, name.size() - 4)}) != 0) {
            error = "ctbuild failed on " + name;
            return false;
        }
    }
    fs::create_directories(to / "host" / "devices");
    std::ofstream(to / "host" / "devices" / "KbFilter").put('\n');
    return true;
}

struct RuntimeFolder {
    std::filesystem::path dir;
    std::unique_ptr<sim::Database> db;

    std::string DbPath() const { return (dir / "runtime.db").string(); }

    // The variables at this folder: domain "plant", station `name`.
    void SetEnvironment(const std::string& name = "SAMPLE", const std::string& user = "operator") const {
        SetRuntimeEnvironment({(dir / "app").string(), (dir / "root").string(), "plant", name, user, DbPath(),
                               (dir / "host").string()});
    }

    // Sets the variables and opens the runtime `vdrt` creates from the
    // application's tag list (its output in vdrt.out).
    bool CreateRuntime(const std::string& vdrt, std::string& error) {
        SetEnvironment();
        if (sim::RunProgram({vdrt, "--db", DbPath(), "create", (dir / "tags.lst").string()},
                            (dir / "vdrt.out").string()) != 0) {
            error = "vdrt create failed in " + dir.string();
            return false;
        }
        return (db = sim::Database::Open(DbPath(), error)) != nullptr;
    }

    bool Read(const char* tag, sim::Value& v) const {
        const std::int32_t index = db ? db->FindTag(tag) : -1;
        return index >= 0 && db->GetValue(static_cast<std::uint32_t>(index), v);
    }
    std::int64_t Int(const char* tag) const {  // -9999 when unreadable
        sim::Value v;
        return Read(tag, v) ? v.integer : -9999;
    }
    bool WaitInt(const char* tag, std::int64_t value, int timeout_ms, const std::function<bool()>& ended = {}) const {
        return WaitUntil([&] { return Int(tag) == value; }, timeout_ms, ended);
    }

    // Asks the runtime to stop task `name`; false when it is not attached.
    bool RequestStop(const char* name) const {
        const TaskId id = db ? db->FindTask(name) : kNoTask;
        if (id >= 0) db->RequestStop(id);
        return id >= 0;
    }
};

}  // namespace vdtest
