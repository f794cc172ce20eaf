#include "kernel/kernel.h"

#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/library.h"

namespace kernel_detail {
std::int32_t ClearedBuffer(char* buffer, std::int32_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
}
}  // namespace kernel_detail

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

#define VD_KERNEL_OP_SLOT(number, Name, member, result, params, args, unbound) \
    {number, "kernel_" #member, [](KernelOps& o, win::FARPROC p) { Assign(o.member, p); }},
const OpSlot kSlots[] = {VD_KERNEL_OPERATIONS(VD_KERNEL_OP_SLOT)};
#undef VD_KERNEL_OP_SLOT

constexpr const char* kLibraryName = "VDKERNEL.dll";

bool TableComplete(const KernelOps& o) {
#define VD_KERNEL_OP_SET(number, Name, member, result, params, args, unbound) &&o.member != nullptr
    return true VD_KERNEL_OPERATIONS(VD_KERNEL_OP_SET);
#undef VD_KERNEL_OP_SET
}

// A kernel that answers a text with a null pointer gets "" to the caller.
template <typename T>
T Checked(T value) {
    return value;
}
const char* Checked(const char* text) { return text != nullptr ? text : ""; }

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

#define VD_KERNEL_OP_DEFINE(number, Name, member, result, params, args, unbound) \
    result kernel_##member params {                                                   \
        const KernelOps* o = Ops();                                                 \
        return o ? Checked(o->member args) : (unbound);                            \
    }
VD_KERNEL_OPERATIONS(VD_KERNEL_OP_DEFINE)
#undef VD_KERNEL_OP_DEFINE

const char* kernel_op_name(int number) {
    switch (number) {
#define VD_KERNEL_OP_NAME(number, Name, member, result, params, args, unbound) \
    case number: return #member;
        VD_KERNEL_OPERATIONS(VD_KERNEL_OP_NAME)
#undef VD_KERNEL_OP_NAME
        default: return "?";
    }
}
