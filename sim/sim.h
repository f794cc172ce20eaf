// The stand-in runtime kernel: a tag database shared between processes
// through one file mapping (or held in process for unit tests), and the
// kernel operations over it.
//
// Where the database lives: the file named by $VDRUNTIME; else
// "runtime.db" in the application directory $VDAPP; else "runtime.db" in
// the current directory. `vdrt create TAGLIST` makes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/value_record.h"

namespace sim {

// ---- tag lists and readable values -------------------------------------

// One line of a tag list: "NAME TYPE INITIAL". TYPE is a word (int16,
// int32, real, text, block, none) or the numeric code (0..5, -3); INITIAL is
// the rest of the line (may be empty; surrounding double quotes are
// stripped). '#' starts a comment line.
struct TagSpec {
    std::string name;
    std::int16_t type = kTagInt16;
    std::string initial;
};

inline constexpr std::size_t kMaxTagName = 63;

// Parses a whole tag list. On failure `error` says which line and why.
bool ParseTagList(std::string_view text, std::vector<TagSpec>& out, std::string& error);
bool ParseTagType(std::string_view word, std::int16_t& type);
const char* TagTypeName(std::int16_t type);

struct BlockHeader {
    std::uint32_t a = 0xFFFFFFFFu;
    std::uint16_t b = 0;
    std::uint16_t c = 0;
    std::uint32_t d = 0;
    std::uint16_t e = 0;
};

// A value in the database's own terms.
struct Value {
    std::int16_t type = kTagInt16;
    std::int64_t integer = 0;  // types 0, 1, 4
    double real = 0.0;         // type 2
    std::string bytes;         // types 3, 5
    BlockHeader header;        // type 5
};

// Reads a value of the given type from its readable form: decimal integers
// in the type's range, a real number, any text up to kKernelTextCapacity
// characters, hex digit pairs for a block (up to kKernelBlockCapacity
// bytes; "" or "-" for none). False with a reason when it does not fit.
bool ParseValue(std::int16_t type, std::string_view text, Value& out, std::string& error);

// Readable form of a value; `quoted` puts texts in double quotes.
std::string FormatValue(const Value& value, bool quoted = false);

// ---- the database -------------------------------------------------------

struct TagInfo {
    std::uint32_t index = 0;
    std::string name;
    std::int16_t type = kTagInt16;
    std::uint32_t capacity = 0;
    std::uint32_t changes = 0;
};

struct TaskInfo {
    TaskId id = kNoTask;
    std::string name;
    std::string title;
    int pid = 0;
    bool alive = false;
    bool stop_requested = false;
    bool waiting = false;
    bool started = false;   // kernel_start_notice seen
    std::uint32_t steps = 0;  // kernel_after_wait calls
    std::string status_tag;
    std::int32_t status = 0;
    std::string message_tag;
    std::string message;
};

class Backend;

class Database {
public:
    // Writes a fresh database file from a tag list, replacing an older one
    // (processes still attached to the old file keep it). Null on failure.
    static std::unique_ptr<Database> Create(const std::string& path, const std::vector<TagSpec>& tags,
                                            std::string& error);
    // Opens an existing database file; checks that it is complete and sound.
    static std::unique_ptr<Database> Open(const std::string& path, std::string& error);
    // A database in this process only (unit tests).
    static std::unique_ptr<Database> CreateInProcess(const std::vector<TagSpec>& tags, std::string& error);

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::string& Path() const { return path_; }

    // ---- kernel operations (see kernel/kernel.h for the contracts)
    TaskId Attach(const char* name, const char* title, const char* app_name, const char* domain,
                  const char* user);
    std::int32_t Detach(TaskId task);
    std::int32_t TaskText(TaskId task, char* buffer);
    std::int32_t GetTaskEnvironment(TaskId task, TaskEnvironment* env);
    std::int32_t StartNotice(TaskId task, std::int32_t a, std::int32_t b);
    std::int32_t StopRequested(TaskId task);
    std::int32_t AfterWait(TaskId task);
    std::int32_t Lock(TaskId task);
    std::int32_t Unlock(TaskId task);
    std::int32_t NextChanged(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                             ValueRecord* value);
    std::int32_t WaitChange(TaskId task, std::int32_t mode);
    std::int32_t ArmWait(TaskId task, const TagRef* refs, std::int32_t count);
    std::int32_t DisarmWait(TaskId task, const TagRef* refs, std::int32_t count);
    std::int32_t CheckRefs(TaskId task, const TagRef* refs, std::int32_t count);  // ops 31 and 37
    std::int32_t Read(TaskId task, const TagRef* refs, std::int32_t count, void* values);
    std::int32_t Write(TaskId task, const TagRef* refs, std::int32_t count, const void* values);
    std::int32_t TagTypes(const TagRef* refs, std::int32_t count, std::int16_t* types);
    std::int32_t ShutdownProbe();
    std::int32_t LastError(TaskId task) const;
    void SetLastError(TaskId task, std::int32_t code);

    // ---- administration (vdrt, tests)
    // Attaches a task that owns no status and message tags and is not listed
    // by Tasks() (a watcher).
    TaskId AttachObserver(const char* name);
    // Waits like kernel_wait_change with a timeout: 0 woke (change or stop),
    // kKernelErrTimeout, or another error code.
    std::int32_t WaitChangeFor(TaskId task, int timeout_ms);
    // Tag index by name, or -1.
    std::int32_t FindTag(std::string_view name) const;
    std::uint32_t TagCount() const;
    bool GetTagInfo(std::uint32_t index, TagInfo& info) const;
    bool GetValue(std::uint32_t index, Value& value) const;
    // Writes a value as nobody's own write (a change for every task). 0 or a
    // kernel error code. The value's type must be the tag's.
    std::int32_t SetValue(std::uint32_t index, const Value& value);
    std::vector<TaskInfo> Tasks() const;
    // Task by name or decimal id; -1 when none is attached.
    TaskId FindTask(std::string_view name_or_id) const;
    std::int32_t RequestStop(TaskId task);
    // kernel_shutdown_probe reports 0 (hold) while set, -1 otherwise.
    void SetShutdownHold(bool hold);
    // How often the lock was taken over from a process that died holding it.
    std::uint32_t LockRecoveries() const;

private:
    Database();
    static std::unique_ptr<Database> Connect(std::unique_ptr<Backend> backend, std::string path, bool init,
                                             std::string& error);
    class Guard;
    struct Impl;
    void Acquire();
    void Release();
    bool ValidTask(TaskId task) const;
    std::int32_t Fail(TaskId task, std::int32_t code);
    std::int32_t FindTagLocked(std::string_view name) const;
    std::int32_t FindOrAddTagLocked(const std::string& name, std::int16_t type, std::int16_t alt_type);
    std::int32_t WaitLocked(TaskId task, int timeout_ms);
    TaskId AttachLocked(const char* name, const char* title, const char* app_name, const char* domain,
                        const char* user, bool observer);
    void FreeSlotLocked(TaskId task);

    std::unique_ptr<Backend> backend_;
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// ---- the kernel operations over the current database ---------------------

// The operation table over the current database (what libvdkernel.so and
// VDKERNEL.dll export by number).
const KernelOps& Ops();

// Makes `db` the database the operations use (in-process tests); null
// returns to the default file, opened on first use.
void SetCurrentDatabase(Database* db);
Database* CurrentDatabase();

// $VDRUNTIME, else $VDAPP/runtime.db, else runtime.db.
std::string DefaultDatabasePath();

}  // namespace sim
