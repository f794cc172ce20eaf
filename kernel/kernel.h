// The runtime kernel interface: the operation table, bound by operation
// number at start, and the kernel_... functions that call through it.
//
// The kernel library exports its operations by number only: VDKERNEL.dll by
// ordinal; on the host libvdkernel.so with one symbol per operation named
// after its number (vdk_op_83, ...). Tests bind an in-process kernel with
// kernel_bind_table instead. Every kernel_... function returns an error
// result (see each) while nothing is bound, never crashing.
#pragma once

#include <cstdint>

#include "kernel/kernel_operations.h"
#include "kernel/value_record.h"

namespace kernel_detail {
// get_env while nothing is bound: an empty buffer, not found.
std::int32_t ClearedBuffer(char* buffer, std::int32_t size);
}  // namespace kernel_detail

// Operation numbers (ordinals of VDKERNEL.dll): kOpAttach = 83, ...
enum KernelOpNumber : int {
#define VD_KERNEL_OP_NUMBER(number, Name, member, result, params, args, unbound) kOp##Name = number,
    VD_KERNEL_OPERATIONS(VD_KERNEL_OP_NUMBER)
#undef VD_KERNEL_OP_NUMBER
};

// The operation's member name ("attach", ...), "?" for no operation.
const char* kernel_op_name(int number);

// Error codes that kernel_last_error reports.
enum KernelError : std::int32_t {
    kKernelOk = 0,
    kKernelErrNotAttached = 1,    // task id not attached
    kKernelErrUnknownTag = 3,     // reference names no tag of the database
    kKernelErrWrongType = 4,      // tag not usable this way (block or not configured in a batch)
    kKernelErrInvalidArg = 5,     // null pointer, negative count, index out of range
    kKernelErrTooLong = 6,        // text or block longer than the tag holds
    kKernelErrNotLocked = 7,      // unlock without a lock by this thread
    kKernelErrNoDatabase = 8,     // no runtime database (or no kernel bound)
    kKernelErrNoChange = 11,      // kernel_next_changed: no further change
    kKernelErrTimeout = 12,       // a non-blocking wait found nothing
    kKernelStopRequested = 34,    // kernel_arm_wait: a stop was requested for the task
};

// Capacities of the database's values.
inline constexpr std::uint16_t kKernelTextCapacity = 255;    // characters of a text tag
inline constexpr std::uint16_t kKernelBlockCapacity = 16384; // bytes of a block tag
inline constexpr int kKernelTaskTextSize = 64;               // buffer of kernel_task_text
inline constexpr int kKernelMaxTasks = 32;

// kernel_wait_change mode: block until an armed tag changes or a stop is
// requested. Any other mode only tests and returns -1 / kKernelErrTimeout
// when nothing is pending.
inline constexpr std::int32_t kKernelWaitBlock = 1;

// What the operations answer:
//   attach (83): task id >= 0, negative = refused (-1 no database, -2 bad
//     name, -3 name already attached, -4 no free task slot, -5 own tags
//     unusable).
//   get_env (102): nonzero = found. task_environment (22): 0 = filled.
//   stop_requested (9): nonzero = stop. wait_change (42): 0 = ok.
//   task_text (77): the buffer holds kKernelTaskTextSize bytes.
//   next_changed (7): searches refs[*index .. count) for a tag changed since
//     the task last looked; 0 = found: *index is its position, value filled,
//     the change counts as seen. Else -1 with kernel_last_error 11.
//   tag_types (26): -1 = failure.
// One member per operation, typed as the task calls it, in list order.
struct KernelOps {
#define VD_KERNEL_OP_MEMBER(number, Name, member, result, params, args, unbound) result(*member) params;
    VD_KERNEL_OPERATIONS(VD_KERNEL_OP_MEMBER)
#undef VD_KERNEL_OP_MEMBER
};

// Loads VDKERNEL.dll (libvdkernel.so on the host: next to the program, at
// $VDKERNEL, or through the library path) and binds every operation by
// number. 0 = bound; -1 = the library or an operation is missing (said on
// stderr; nothing stays bound).
int kernel_bind_library();

// Binds a table supplied by the caller (an in-process kernel). Every member
// must be set.
void kernel_bind_table(const KernelOps& ops);

// Unbinds (and releases a loaded library).
void kernel_unbind();

bool kernel_is_bound();

// The operations through the bound table. While nothing is bound: attach
// returns -1, get_env 0 with an empty buffer, banner "", last_error
// kKernelErrNoDatabase, every other operation -1.
#define VD_KERNEL_OP_DECLARE(number, Name, member, result, params, args, unbound) result kernel_##member params;
VD_KERNEL_OPERATIONS(VD_KERNEL_OP_DECLARE)
#undef VD_KERNEL_OP_DECLARE
