// The vdwinut program: the application object and the one task object,
// constructed statically in this order (and destroyed in reverse at exit),
// and the process entry.
#include "frame/application.h"
#include "host_utilities/host_utilities_task.h"
#include "kernel/kernel.h"

namespace {

TaskApplication the_app;

// The concrete task of this program.
using ProgramTask = HostUtilitiesTask;
ProgramTask the_task("VDWINUT", "Windows Host Utilities");

}  // namespace

int main() {
    // The kernel library is bound by operation number before anything else;
    // a missing library or operation has been reported on stderr.
    if (kernel_bind_library() != 0) return kExitFailure;
    return ProcessMain(the_app, the_task);
}
