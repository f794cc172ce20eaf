// The variables a task process reads at start to find its application,
// installation, station, domain, user, runtime database and simulated host;
// set for a test and cleared again at its end; the sample application such
// a task runs on.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/environment.h"
#include "sim/process.h"

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

}  // namespace vdtest
