// The kernel library's exports: one C function per operation, named after
// its number. VDKERNEL.dll exports them by ordinal only (vdkernel.def).
#include "sim/sim.h"

#define VD_EXPORT(number, member, ret, params, args) \
    extern "C" VD_VISIBLE ret vdk_op_##number params { return sim::Ops().member args; }

#if defined(__GNUC__) && !defined(__MINGW32__)
#define VD_VISIBLE __attribute__((visibility("default")))
#else
#define VD_VISIBLE
#endif

using I32 = std::int32_t;

VD_EXPORT(83, attach, TaskId, (const char* n, const char* t, const char* a, const char* d, const char* u),
          (n, t, a, d, u))
VD_EXPORT(21, detach, I32, (TaskId k), (k))
VD_EXPORT(102, get_env, I32, (const char* n, char* b, I32 s), (n, b, s))
VD_EXPORT(112, banner, const char*, (), ())
VD_EXPORT(77, task_text, I32, (TaskId k, char* b), (k, b))
VD_EXPORT(22, task_environment, I32, (TaskId k, TaskEnvironment* e), (k, e))
VD_EXPORT(48, start_notice, I32, (TaskId k, I32 a, I32 b), (k, a, b))
VD_EXPORT(9, stop_requested, I32, (TaskId k), (k))
VD_EXPORT(47, after_wait, I32, (TaskId k), (k))
VD_EXPORT(32, lock, I32, (TaskId k), (k))
VD_EXPORT(8, unlock, I32, (TaskId k), (k))
VD_EXPORT(7, next_changed, I32, (TaskId k, const TagRef* r, I32 c, I32* i, ValueRecord* v), (k, r, c, i, v))
VD_EXPORT(14, last_error, I32, (TaskId k), (k))
VD_EXPORT(42, wait_change, I32, (TaskId k, I32 m), (k, m))
VD_EXPORT(1, arm_wait, I32, (TaskId k, const TagRef* r, I32 c), (k, r, c))
VD_EXPORT(44, disarm_wait, I32, (TaskId k, const TagRef* r, I32 c), (k, r, c))
VD_EXPORT(31, watch, I32, (TaskId k, const TagRef* r, I32 c), (k, r, c))
VD_EXPORT(37, unwatch, I32, (TaskId k, const TagRef* r, I32 c), (k, r, c))
VD_EXPORT(12, read, I32, (TaskId k, const TagRef* r, I32 c, void* v), (k, r, c, v))
VD_EXPORT(18, write, I32, (TaskId k, const TagRef* r, I32 c, const void* v), (k, r, c, v))
VD_EXPORT(35, write_result, I32, (TaskId k, const TagRef* r, I32 c, const void* v), (k, r, c, v))
VD_EXPORT(26, tag_types, I32, (const TagRef* r, I32 c, std::int16_t* t, I32 f), (r, c, t, f))
VD_EXPORT(132, shutdown_probe, I32, (), ())
