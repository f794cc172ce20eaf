// The kernel library's exports: one C function per operation, named after
// its number. VDKERNEL.dll exports them by ordinal only (a .def file the build
// writes from the operation list).
#include "sim/sim.h"

#if defined(__GNUC__) && !defined(__MINGW32__)
#define VD_VISIBLE __attribute__((visibility("default")))
#else
#define VD_VISIBLE
#endif

#define VD_EXPORT(number, Name, member, result, params, args, unbound) \
    extern "C" VD_VISIBLE result vdk_op_##number params { return sim::Ops().member args; }
VD_KERNEL_OPERATIONS(VD_EXPORT)
#undef VD_EXPORT
