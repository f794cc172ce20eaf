// The list of the kernel interface's operations, the one place they are
// named. Everything else is generated from it: the operation numbers, the
// members of KernelOps, the kernel_... functions and their binding slots,
// the stand-in kernel's table and exports, and VDKERNEL.dll's .def file
// (sim/CMakeLists.txt reads the numbers from this file).
//
// X(number, Name, member, result type, (parameters), (arguments), result while nothing is bound)
//
// Adding an operation: one line here, its implementation in the stand-in
// kernel (sim/kernel_ops.cpp, a function named Op<Name>).
#pragma once

// clang-format off
#define VD_KERNEL_OPERATIONS(X) \
    X(83,  Attach,          attach,           TaskId,       (const char* name, const char* title, const char* app_name, const char* domain, const char* user), (name, title, app_name, domain, user), TaskId{-1}) \
    X(21,  Detach,          detach,           std::int32_t, (TaskId task), (task), -1) \
    X(102, GetEnv,          get_env,          std::int32_t, (const char* name, char* buffer, std::int32_t size), (name, buffer, size), kernel_detail::ClearedBuffer(buffer, size)) \
    X(112, Banner,          banner,           const char*,  (), (), "") \
    X(77,  TaskText,        task_text,        std::int32_t, (TaskId task, char* buffer), (task, buffer), -1) \
    X(22,  TaskEnvironment, task_environment, std::int32_t, (TaskId task, TaskEnvironment* env), (task, env), -1) \
    X(48,  StartNotice,     start_notice,     std::int32_t, (TaskId task, std::int32_t a, std::int32_t b), (task, a, b), -1) \
    X(9,   StopRequested,   stop_requested,   std::int32_t, (TaskId task), (task), -1) \
    X(47,  AfterWait,       after_wait,       std::int32_t, (TaskId task), (task), -1) \
    X(32,  Lock,            lock,             std::int32_t, (TaskId task), (task), -1) \
    X(8,   Unlock,          unlock,           std::int32_t, (TaskId task), (task), -1) \
    X(7,   NextChanged,     next_changed,     std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index, ValueRecord* value), (task, refs, count, index, value), -1) \
    X(14,  LastError,       last_error,       std::int32_t, (TaskId task), (task), kKernelErrNoDatabase) \
    X(42,  WaitChange,      wait_change,      std::int32_t, (TaskId task, std::int32_t mode), (task, mode), -1) \
    X(1,   ArmWait,         arm_wait,         std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count), (task, refs, count), -1) \
    X(44,  DisarmWait,      disarm_wait,      std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count), (task, refs, count), -1) \
    X(31,  Watch,           watch,            std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count), (task, refs, count), -1) \
    X(37,  Unwatch,         unwatch,          std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count), (task, refs, count), -1) \
    X(12,  Read,            read,             std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count, void* values), (task, refs, count, values), -1) \
    X(18,  Write,           write,            std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count, const void* values), (task, refs, count, values), -1) \
    X(35,  WriteResult,     write_result,     std::int32_t, (TaskId task, const TagRef* refs, std::int32_t count, const void* values), (task, refs, count, values), -1) \
    X(26,  TagTypes,        tag_types,        std::int32_t, (const TagRef* refs, std::int32_t count, std::int16_t* types, std::int32_t flags), (refs, count, types, flags), -1) \
    X(132, ShutdownProbe,   shutdown_probe,   std::int32_t, (), (), -1)
// clang-format on
