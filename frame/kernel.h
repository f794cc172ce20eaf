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

#include "frame/value_record.h"

// Operation numbers (ordinals of VDKERNEL.dll).
enum KernelOpNumber : int {
    kOpArmWait = 1,
    kOpNextChanged = 7,
    kOpUnlock = 8,
    kOpStopRequested = 9,
    kOpRead = 12,
    kOpLastError = 14,
    kOpWrite = 18,
    kOpDetach = 21,
    kOpTaskEnvironment = 22,
    kOpTagTypes = 26,
    kOpWatch = 31,
    kOpLock = 32,
    kOpWriteResult = 35,
    kOpUnwatch = 37,
    kOpWaitChange = 42,
    kOpDisarmWait = 44,
    kOpAfterWait = 47,
    kOpStartNotice = 48,
    kOpTaskText = 77,
    kOpAttach = 83,
    kOpGetEnv = 102,
    kOpBanner = 112,
    kOpShutdownProbe = 132,
};

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

// One member per operation, typed as the task calls it.
struct KernelOps {
    // 83: task id >= 0, negative = refused (-1 no database, -2 bad name,
    // -3 name already attached, -4 no free task slot, -5 own tags unusable).
    TaskId (*attach)(const char* name, const char* title, const char* app_name, const char* domain,
                     const char* user);
    std::int32_t (*detach)(TaskId task);                                        // 21
    std::int32_t (*get_env)(const char* name, char* buffer, std::int32_t size); // 102: nonzero = found
    const char* (*banner)();                                                    // 112
    std::int32_t (*task_text)(TaskId task, char* buffer /* kKernelTaskTextSize */);  // 77
    std::int32_t (*task_environment)(TaskId task, TaskEnvironment* env);        // 22: 0 = filled
    std::int32_t (*start_notice)(TaskId task, std::int32_t a, std::int32_t b);  // 48
    std::int32_t (*stop_requested)(TaskId task);                                // 9: nonzero = stop
    std::int32_t (*after_wait)(TaskId task);                                    // 47
    std::int32_t (*lock)(TaskId task);                                          // 32
    std::int32_t (*unlock)(TaskId task);                                        // 8
    // 7: searches refs[*index .. count) for a tag changed since the task last
    // looked; 0 = found: *index is its position, value filled, the change
    // counts as seen. Else -1 with kernel_last_error 11.
    std::int32_t (*next_changed)(TaskId task, const TagRef* refs, std::int32_t count,
                                 std::int32_t* index, ValueRecord* value);
    std::int32_t (*last_error)(TaskId task);                                    // 14
    std::int32_t (*wait_change)(TaskId task, std::int32_t mode);                // 42: 0 = ok
    std::int32_t (*arm_wait)(TaskId task, const TagRef* refs, std::int32_t count);     // 1
    std::int32_t (*disarm_wait)(TaskId task, const TagRef* refs, std::int32_t count);  // 44
    std::int32_t (*watch)(TaskId task, const TagRef* refs, std::int32_t count);        // 31
    std::int32_t (*unwatch)(TaskId task, const TagRef* refs, std::int32_t count);      // 37
    std::int32_t (*read)(TaskId task, const TagRef* refs, std::int32_t count, void* values);   // 12
    std::int32_t (*write)(TaskId task, const TagRef* refs, std::int32_t count, const void* values);  // 18
    std::int32_t (*write_result)(TaskId task, const TagRef* refs, std::int32_t count,
                                 const void* values);                           // 35
    std::int32_t (*tag_types)(const TagRef* refs, std::int32_t count, std::int16_t* types,
                              std::int32_t flags);                              // 26: -1 = failure
    std::int32_t (*shutdown_probe)();                                           // 132
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
TaskId kernel_attach(const char* name, const char* title, const char* app_name, const char* domain,
                     const char* user);
std::int32_t kernel_detach(TaskId task);
std::int32_t kernel_get_env(const char* name, char* buffer, std::int32_t size);
const char* kernel_banner();
std::int32_t kernel_task_text(TaskId task, char* buffer);
std::int32_t kernel_task_environment(TaskId task, TaskEnvironment* env);
std::int32_t kernel_start_notice(TaskId task, std::int32_t a, std::int32_t b);
std::int32_t kernel_stop_requested(TaskId task);
std::int32_t kernel_after_wait(TaskId task);
std::int32_t kernel_lock(TaskId task);
std::int32_t kernel_unlock(TaskId task);
std::int32_t kernel_next_changed(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                                 ValueRecord* value);
std::int32_t kernel_last_error(TaskId task);
std::int32_t kernel_wait_change(TaskId task, std::int32_t mode);
std::int32_t kernel_arm_wait(TaskId task, const TagRef* refs, std::int32_t count);
std::int32_t kernel_disarm_wait(TaskId task, const TagRef* refs, std::int32_t count);
std::int32_t kernel_watch(TaskId task, const TagRef* refs, std::int32_t count);
std::int32_t kernel_unwatch(TaskId task, const TagRef* refs, std::int32_t count);
std::int32_t kernel_read(TaskId task, const TagRef* refs, std::int32_t count, void* values);
std::int32_t kernel_write(TaskId task, const TagRef* refs, std::int32_t count, const void* values);
std::int32_t kernel_write_result(TaskId task, const TagRef* refs, std::int32_t count, const void* values);
std::int32_t kernel_tag_types(const TagRef* refs, std::int32_t count, std::int16_t* types, std::int32_t flags);
std::int32_t kernel_shutdown_probe();
