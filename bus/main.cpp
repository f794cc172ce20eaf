// The vdmqtt program: the application object and the plant bus task,
// constructed statically in this order, and the process entry (the same as
// every task program of the runtime).
#include "frame/application.h"
#include "bus/plant_bus_task.h"
#include "kernel/kernel.h"

namespace {

TaskApplication the_app;
PlantBusTask the_task("VDMQTT", "MQTT Plant Bus");

}  // namespace

int main() {
    if (kernel_bind_library() != 0) return kExitFailure;
    return ProcessMain(the_app, the_task);
}
