#include "frame/kernel.h"

#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/library.h"

namespace {

struct Binding {
    KernelOps ops{};
    bool bound = false;
    win::HMODULE module = nullptr;
};

Binding& State() {
    static Binding binding;
    return binding;
}

const KernelOps* Ops() {
    Binding& b = State();
    return b.bound ? &b.ops : nullptr;
}

struct OpSlot {
    int number;
    const char* name;
    void (*assign)(KernelOps&, win::FARPROC);
};

template <typename F>
void Assign(F& member, win::FARPROC p) {
    member = reinterpret_cast<F>(p);
}

#define VD_OP(number, member) \
    { number, "kernel_" #member, [](KernelOps& o, win::FARPROC p) { Assign(o.member, p); } }

const OpSlot kSlots[] = {
    VD_OP(kOpAttach, attach),           VD_OP(kOpDetach, detach),
    VD_OP(kOpGetEnv, get_env),          VD_OP(kOpBanner, banner),
    VD_OP(kOpTaskText, task_text),      VD_OP(kOpTaskEnvironment, task_environment),
    VD_OP(kOpStartNotice, start_notice), VD_OP(kOpStopRequested, stop_requested),
    VD_OP(kOpAfterWait, after_wait),    VD_OP(kOpLock, lock),
    VD_OP(kOpUnlock, unlock),           VD_OP(kOpNextChanged, next_changed),
    VD_OP(kOpLastError, last_error),    VD_OP(kOpWaitChange, wait_change),
    VD_OP(kOpArmWait, arm_wait),        VD_OP(kOpDisarmWait, disarm_wait),
    VD_OP(kOpWatch, watch),             VD_OP(kOpUnwatch, unwatch),
    VD_OP(kOpRead, read),               VD_OP(kOpWrite, write),
    VD_OP(kOpWriteResult, write_result), VD_OP(kOpTagTypes, tag_types),
    VD_OP(kOpShutdownProbe, shutdown_probe),
};

#undef VD_OP

constexpr const char* kLibraryName = "VDKERNEL.dll";

bool TableComplete(const KernelOps& o) {
    const void* members[] = {
        reinterpret_cast<const void*>(o.attach),       reinterpret_cast<const void*>(o.detach),
        reinterpret_cast<const void*>(o.get_env),      reinterpret_cast<const void*>(o.banner),
        reinterpret_cast<const void*>(o.task_text),    reinterpret_cast<const void*>(o.task_environment),
        reinterpret_cast<const void*>(o.start_notice), reinterpret_cast<const void*>(o.stop_requested),
        reinterpret_cast<const void*>(o.after_wait),   reinterpret_cast<const void*>(o.lock),
        reinterpret_cast<const void*>(o.unlock),       reinterpret_cast<const void*>(o.next_changed),
        reinterpret_cast<const void*>(o.last_error),   reinterpret_cast<const void*>(o.wait_change),
        reinterpret_cast<const void*>(o.arm_wait),     reinterpret_cast<const void*>(o.disarm_wait),
        reinterpret_cast<const void*>(o.watch),        reinterpret_cast<const void*>(o.unwatch),
        reinterpret_cast<const void*>(o.read),         reinterpret_cast<const void*>(o.write),
        reinterpret_cast<const void*>(o.write_result), reinterpret_cast<const void*>(o.tag_types),
        reinterpret_cast<const void*>(o.shutdown_probe),
    };
    for (const void* m : members)
        if (m == nullptr) return false;
    return true;
}

}  // namespace

int kernel_bind_library() {
    kernel_unbind();
    win::HMODULE module = win::LoadLibraryA(kLibraryName);
    if (module == nullptr) {
        std::fprintf(stderr, "The runtime kernel library %s cannot be loaded (error %lu).\n", kLibraryName,
                     static_cast<unsigned long>(win::GetLastError()));
        return -1;
    }
    KernelOps ops{};
    for (const OpSlot& slot : kSlots) {
        win::FARPROC p = win::GetProcAddress(module, win::OrdinalName(static_cast<win::WORD>(slot.number)));
        if (p == nullptr) {
            std::fprintf(stderr, "The runtime kernel library %s has no operation %d (%s).\n", kLibraryName,
                         slot.number, slot.name);
            win::FreeLibrary(module);
            return -1;
        }
        slot.assign(ops, p);
    }
    Binding& b = State();
    b.ops = ops;
    b.module = module;
    b.bound = true;
    return 0;
}

void kernel_bind_table(const KernelOps& ops) {
    kernel_unbind();
    if (!TableComplete(ops)) {
        std::fprintf(stderr, "The runtime kernel table is incomplete; nothing is bound.\n");
        return;
    }
    Binding& b = State();
    b.ops = ops;
    b.bound = true;
}

void kernel_unbind() {
    Binding& b = State();
    b.bound = false;
    b.ops = KernelOps{};
    if (b.module != nullptr) {
        win::FreeLibrary(b.module);
        b.module = nullptr;
    }
}

bool kernel_is_bound() { return State().bound; }

TaskId kernel_attach(const char* name, const char* title, const char* app_name, const char* domain,
                     const char* user) {
    const KernelOps* o = Ops();
    return o ? o->attach(name, title, app_name, domain, user) : TaskId{-1};
}

std::int32_t kernel_detach(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->detach(task) : -1;
}

std::int32_t kernel_get_env(const char* name, char* buffer, std::int32_t size) {
    const KernelOps* o = Ops();
    if (o) return o->get_env(name, buffer, size);
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
}

const char* kernel_banner() {
    const KernelOps* o = Ops();
    const char* text = o ? o->banner() : nullptr;
    return text ? text : "";
}

std::int32_t kernel_task_text(TaskId task, char* buffer) {
    const KernelOps* o = Ops();
    return o ? o->task_text(task, buffer) : -1;
}

std::int32_t kernel_task_environment(TaskId task, TaskEnvironment* env) {
    const KernelOps* o = Ops();
    return o ? o->task_environment(task, env) : -1;
}

std::int32_t kernel_start_notice(TaskId task, std::int32_t a, std::int32_t b) {
    const KernelOps* o = Ops();
    return o ? o->start_notice(task, a, b) : -1;
}

std::int32_t kernel_stop_requested(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->stop_requested(task) : -1;
}

std::int32_t kernel_after_wait(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->after_wait(task) : -1;
}

std::int32_t kernel_lock(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->lock(task) : -1;
}

std::int32_t kernel_unlock(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->unlock(task) : -1;
}

std::int32_t kernel_next_changed(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                                 ValueRecord* value) {
    const KernelOps* o = Ops();
    return o ? o->next_changed(task, refs, count, index, value) : -1;
}

std::int32_t kernel_last_error(TaskId task) {
    const KernelOps* o = Ops();
    return o ? o->last_error(task) : kKernelErrNoDatabase;
}

std::int32_t kernel_wait_change(TaskId task, std::int32_t mode) {
    const KernelOps* o = Ops();
    return o ? o->wait_change(task, mode) : -1;
}

std::int32_t kernel_arm_wait(TaskId task, const TagRef* refs, std::int32_t count) {
    const KernelOps* o = Ops();
    return o ? o->arm_wait(task, refs, count) : -1;
}

std::int32_t kernel_disarm_wait(TaskId task, const TagRef* refs, std::int32_t count) {
    const KernelOps* o = Ops();
    return o ? o->disarm_wait(task, refs, count) : -1;
}

std::int32_t kernel_watch(TaskId task, const TagRef* refs, std::int32_t count) {
    const KernelOps* o = Ops();
    return o ? o->watch(task, refs, count) : -1;
}

std::int32_t kernel_unwatch(TaskId task, const TagRef* refs, std::int32_t count) {
    const KernelOps* o = Ops();
    return o ? o->unwatch(task, refs, count) : -1;
}

std::int32_t kernel_read(TaskId task, const TagRef* refs, std::int32_t count, void* values) {
    const KernelOps* o = Ops();
    return o ? o->read(task, refs, count, values) : -1;
}

std::int32_t kernel_write(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    const KernelOps* o = Ops();
    return o ? o->write(task, refs, count, values) : -1;
}

std::int32_t kernel_write_result(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    const KernelOps* o = Ops();
    return o ? o->write_result(task, refs, count, values) : -1;
}

std::int32_t kernel_tag_types(const TagRef* refs, std::int32_t count, std::int16_t* types, std::int32_t flags) {
    const KernelOps* o = Ops();
    return o ? o->tag_types(refs, count, types, flags) : -1;
}

std::int32_t kernel_shutdown_probe() {
    const KernelOps* o = Ops();
    return o ? o->shutdown_probe() : -1;
}
