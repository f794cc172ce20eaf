// The variables a task process reads at start to find its application,
// installation, station, domain, user, runtime database and simulated host;
// set for a test and cleared again at its end.
#pragma once

#include <string>

#include "platform/environment.h"

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

}  // namespace vdtest
