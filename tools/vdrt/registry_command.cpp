// vdrt registry: prints the host's registry (on the simulated host the whole
// registry file in canonical form; on Windows the keys the task touches).
#include <cstdio>

#include "platform/registry_dump.h"
#include "tools/vdrt/vdrt.h"

namespace vdrt {
namespace {

int Registry(const Args& args, const Options&) {
    if (!args.empty()) {
        Error("usage: vdrt registry");
        return kExitUsage;
    }
    std::string text;
    std::string error;
    if (!win::RegistryDumpText(text, error)) {
        Error("registry: " + error);
        return kExitError;
    }
    std::fputs(text.c_str(), stdout);
    return kExitOk;
}

const Registrar kRegistry({"registry", "", "print the host's registry", Registry});

}  // namespace
}  // namespace vdrt
