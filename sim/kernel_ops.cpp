// The kernel operations over the current database; in test builds each
// asks the switch table of platform/test_hooks.h first, by its name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/test_hooks.h"
#include "sim/sim.h"

namespace sim {
namespace {

struct State {
    std::mutex mutex;
    Database* current = nullptr;
    std::unique_ptr<Database> opened;
    bool reported = false;
};

State& S() {
    static State state;
    return state;
}

Database* Db() {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.current) return s.current;
    if (!s.opened) {
        std::string error;
        s.opened = Database::Open(DefaultDatabasePath(), error);
        if (!s.opened) {
            if (!s.reported) std::fprintf(stderr, "runtime kernel: %s\n", error.c_str());
            s.reported = true;
            return nullptr;
        }
    }
    return s.opened.get();
}

std::int32_t g_no_db_error = kKernelErrNoDatabase;

#if defined(VD_TEST_HOOKS)
// A switched operation answers -1 (a text: null) or the result the test
// gave, and leaves the error for kernel_last_error.
template <typename R>
R Faulted(const win::test::Call& call, TaskId task) {
    State& s = S();
    if (Database* db = s.current ? s.current : s.opened.get())
        db->SetLastError(task, static_cast<std::int32_t>(call.Error()));
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return static_cast<R>(call.Result(-1));
    }
}
#define VD_FAULT_CHECK(op, task, type)                     \
    const win::test::Call call(kernel_op_name(op));        \
    if (call.Fails()) return Faulted<type>(call, task);
#else
#define VD_FAULT_CHECK(op, task, type)
#endif

#define VD_PROLOGUE(op, task, fail)               \
    VD_FAULT_CHECK(op, task, decltype(fail))      \
    Database* db = Db();                          \
    if (db == nullptr) return fail;

TaskId OpAttach(const char* name, const char* title, const char* app_name, const char* domain, const char* user) {
    VD_PROLOGUE(kOpAttach, kNoTask, TaskId{-1})
    return db->Attach(name, title, app_name, domain, user);
}
std::int32_t OpDetach(TaskId task) {
    VD_PROLOGUE(kOpDetach, task, -1)
    return db->Detach(task);
}
std::int32_t OpGetEnv(const char* name, char* buffer, std::int32_t size) {
    VD_FAULT_CHECK(kOpGetEnv, kNoTask, std::int32_t)
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    const char* value = name ? std::getenv(name) : nullptr;
    if (value == nullptr) return 0;
    std::size_t n = std::strlen(value);
    if (n > static_cast<std::size_t>(size - 1)) n = static_cast<std::size_t>(size - 1);
    std::memcpy(buffer, value, n);
    buffer[n] = '\0';
    return 1;
}
const char* OpBanner() {
    VD_FAULT_CHECK(kOpBanner, kNoTask, const char*)
    return "VD stand-in runtime kernel 1.0";
}
std::int32_t OpTaskText(TaskId task, char* buffer) {
    VD_PROLOGUE(kOpTaskText, task, -1)
    return db->TaskText(task, buffer);
}
std::int32_t OpTaskEnvironment(TaskId task, TaskEnvironment* env) {
    VD_PROLOGUE(kOpTaskEnvironment, task, -1)
    return db->GetTaskEnvironment(task, env);
}
std::int32_t OpStartNotice(TaskId task, std::int32_t a, std::int32_t b) {
    VD_PROLOGUE(kOpStartNotice, task, -1)
    return db->StartNotice(task, a, b);
}
std::int32_t OpStopRequested(TaskId task) {
    VD_PROLOGUE(kOpStopRequested, task, -1)
    return db->StopRequested(task);
}
std::int32_t OpAfterWait(TaskId task) {
    VD_PROLOGUE(kOpAfterWait, task, -1)
    return db->AfterWait(task);
}
std::int32_t OpLock(TaskId task) {
    VD_PROLOGUE(kOpLock, task, -1)
    return db->Lock(task);
}
std::int32_t OpUnlock(TaskId task) {
    VD_PROLOGUE(kOpUnlock, task, -1)
    return db->Unlock(task);
}
std::int32_t OpNextChanged(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                           ValueRecord* value) {
    VD_PROLOGUE(kOpNextChanged, task, -1)
    return db->NextChanged(task, refs, count, index, value);
}
std::int32_t OpLastError(TaskId task) {
    State& s = S();
    Database* db = s.current ? s.current : s.opened.get();
    return db ? db->LastError(task) : g_no_db_error;
}
std::int32_t OpWaitChange(TaskId task, std::int32_t mode) {
    VD_PROLOGUE(kOpWaitChange, task, -1)
    return db->WaitChange(task, mode);
}
std::int32_t OpArmWait(TaskId task, const TagRef* refs, std::int32_t count) {
    VD_PROLOGUE(kOpArmWait, task, -1)
    return db->ArmWait(task, refs, count);
}
std::int32_t OpDisarmWait(TaskId task, const TagRef* refs, std::int32_t count) {
    VD_PROLOGUE(kOpDisarmWait, task, -1)
    return db->DisarmWait(task, refs, count);
}
std::int32_t OpWatch(TaskId task, const TagRef* refs, std::int32_t count) {
    VD_PROLOGUE(kOpWatch, task, -1)
    return db->CheckRefs(task, refs, count);
}
std::int32_t OpUnwatch(TaskId task, const TagRef* refs, std::int32_t count) {
    VD_PROLOGUE(kOpUnwatch, task, -1)
    return db->CheckRefs(task, refs, count);
}
std::int32_t OpRead(TaskId task, const TagRef* refs, std::int32_t count, void* values) {
    VD_PROLOGUE(kOpRead, task, -1)
    return db->Read(task, refs, count, values);
}
std::int32_t OpWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    VD_PROLOGUE(kOpWrite, task, -1)
    return db->Write(task, refs, count, values);
}
std::int32_t OpWriteResult(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    VD_PROLOGUE(kOpWriteResult, task, -1)
    return db->Write(task, refs, count, values);
}
std::int32_t OpTagTypes(const TagRef* refs, std::int32_t count, std::int16_t* types, std::int32_t) {
    VD_PROLOGUE(kOpTagTypes, kNoTask, -1)
    return db->TagTypes(refs, count, types);
}
std::int32_t OpShutdownProbe() {
    VD_PROLOGUE(kOpShutdownProbe, kNoTask, -1)
    return db->ShutdownProbe();
}

#undef VD_PROLOGUE
#undef VD_FAULT_CHECK

#define VD_KERNEL_OP_ENTRY(number, Name, member, result, params, args, unbound) .member = Op##Name,
const KernelOps kOps = {VD_KERNEL_OPERATIONS(VD_KERNEL_OP_ENTRY)};
#undef VD_KERNEL_OP_ENTRY

}  // namespace

const KernelOps& Ops() { return kOps; }

void SetCurrentDatabase(Database* db) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.current = db;
}

Database* CurrentDatabase() { return Db(); }

std::string DefaultDatabasePath() {
    const char* path = std::getenv("VDRUNTIME");
    if (path != nullptr && *path != '\0') return path;
    const char* app = std::getenv("VDAPP");
    if (app != nullptr && *app != '\0') {
        std::string dir(app);
        if (dir.back() != '/' && dir.back() != '\\') dir += '/';
        return dir + "runtime.db";
    }
    return "runtime.db";
}

}  // namespace sim
