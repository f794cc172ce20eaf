// The tag database's shared layout and process-local state, for the two
// files of its implementation (database.cpp: the operations of the tasks;
// database_file.cpp: creating, opening and administration). Not for other
// users: the public face is sim.h.
//
// Shared memory, in order: header (with the task slots), the platform's lock
// area, the tag slots, the per-task "seen" change counters, the per-task
// armed flags, the per-task change lists (see Impl::Mark), and the data area
// holding texts and blocks. Every structure uses fixed-size fields at
// naturally aligned offsets, so 32- and 64-bit builds of one platform share
// a file.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "sim/backend.h"
#include "sim/sim.h"

namespace sim {
namespace layout {

constexpr char kMagic[8] = {'V', 'D', 'R', 'T', 'D', 'B', '1', '\0'};
constexpr std::uint32_t kVersion = 2;
constexpr int kMaxTasks = kKernelMaxTasks;
// Room for the status and message tags that attaching tasks add.
constexpr std::uint32_t kSpareTags = 2 * kMaxTasks + 16;
constexpr std::uint32_t kMaxTags = 0xFFFF;  // index 0xFFFF names no tag
// A change list holds tag indexes and positions + 1 in 16 bits.
static_assert(kMaxTags <= 0xFFFF);
constexpr std::uint32_t kTextSlot = kKernelTextCapacity + 1u;
constexpr std::uint8_t kNoNumber[8] = {};

struct TagSlot {
    char name[64];
    std::int16_t type;
    std::int16_t last_writer;
    std::uint32_t capacity;  // bytes of text (without its end zero) or block
    std::uint64_t data_offset;
    std::uint32_t changes;
    std::uint32_t length;
    std::uint8_t value[8];  // numeric types
    std::uint32_t header_a;
    std::uint16_t header_b;
    std::uint16_t header_c;
    std::uint32_t header_d;
    std::uint16_t header_e;
    std::uint16_t pad;
    std::uint8_t reserved[16];
};
static_assert(sizeof(TagSlot) == 128);

struct TaskSlot {
    std::int32_t in_use;
    std::int32_t pid;
    std::int32_t observer;
    std::int32_t stop_requested;
    std::int32_t waiting;
    std::int32_t wake_pending;
    std::int32_t started;
    std::int32_t notice_a;
    std::int32_t notice_b;
    std::uint32_t steps;
    std::uint32_t status_tag;
    std::uint32_t message_tag;
    std::uint32_t unseen;        // entries of the task's change list
    std::uint32_t armed_unseen;  // of those, tags armed for its wait
    char name[32];
    char title[80];
    char app_name[32];
    char domain[16];
    char user[16];
};
static_assert(sizeof(TaskSlot) % 8 == 0);

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t flavour;
    std::uint64_t file_size;
    std::uint64_t instance_id;
    std::uint32_t header_size;
    std::uint32_t tag_capacity;
    std::uint32_t tag_count;
    std::uint32_t shutdown_hold;
    std::uint32_t lock_recoveries;
    // Process id of the lock's holder while it holds it (0: free). Tells a
    // process that takes the lock that the one before died holding it, even
    // where the lock object itself does not outlive its last user.
    std::uint32_t lock_holder;
    std::uint64_t sync_offset;
    std::uint64_t tags_offset;
    std::uint64_t seen_offset;
    std::uint64_t armed_offset;
    std::uint64_t list_offset;
    std::uint64_t listed_offset;
    std::uint64_t data_offset;
    std::uint64_t data_size;
    std::uint64_t data_used;
    char app_dir[64];
    char root_dir[64];
    TaskSlot tasks[kMaxTasks];
};
static_assert(sizeof(Header) % 8 == 0);

constexpr std::uint64_t Round(std::uint64_t v, std::uint64_t to) { return (v + to - 1) / to * to; }

struct Geometry {
    std::uint64_t sync, tags, seen, armed, list, listed, data, size;
};

inline Geometry Compute(std::uint32_t capacity, std::uint64_t data_size) {
    Geometry g;
    g.sync = Round(sizeof(Header), 64);
    g.tags = g.sync + kSyncAreaSize;
    g.seen = g.tags + std::uint64_t{capacity} * sizeof(TagSlot);
    g.armed = g.seen + std::uint64_t{kMaxTasks} * capacity * 4;
    g.list = Round(g.armed + std::uint64_t{kMaxTasks} * capacity, 8);
    g.listed = g.list + std::uint64_t{kMaxTasks} * capacity * 2;
    g.data = Round(g.listed + std::uint64_t{kMaxTasks} * capacity * 2, 64);
    g.size = g.data + data_size;
    return g;
}

inline std::uint32_t DataBytes(std::int16_t type) {
    if (type == kTagText) return kTextSlot;
    if (type == kTagBlock) return kKernelBlockCapacity;
    return 0;
}

inline void CopyField(char* dst, std::size_t size, const char* src) {
    if (size == 0) return;
    std::size_t n = src ? std::strlen(src) : 0;
    if (n > size - 1) n = size - 1;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

inline std::string FieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

inline bool SameIntType(std::int16_t a, std::int16_t b) {
    auto norm = [](std::int16_t t) { return t == kTagInt16Alt ? std::int16_t{kTagInt16} : t; };
    return norm(a) == norm(b);
}

}  // namespace layout

using namespace layout;

struct Database::Impl {
    std::uint8_t* base = nullptr;
    Header* hdr = nullptr;
    TagSlot* tags = nullptr;
    std::uint32_t* seen = nullptr;
    std::uint8_t* armed = nullptr;
    std::uint16_t* list = nullptr;
    std::uint16_t* listed = nullptr;
    Backend* backend = nullptr;

    std::atomic<std::thread::id> owner{};
    int depth = 0;
    // Task slots to wake once the lock is given up (Release), so that a
    // woken waiter does not block at once on the lock still held; flushed
    // before this thread blocks itself (WaitLocked).
    std::uint32_t pending_wakes = 0;
    static_assert(kMaxTasks <= 32);
    void Wake(int task) { pending_wakes |= 1u << task; }
    void NotifyEach(std::uint32_t wakes) {
        for (; wakes != 0; wakes &= wakes - 1) backend->Notify(std::countr_zero(wakes));
    }
    void FlushWakes() { NotifyEach(std::exchange(pending_wakes, 0)); }
    std::atomic<std::int32_t> last_error[kMaxTasks] = {};
    std::atomic<std::int32_t> global_error{0};

    std::uint32_t cap() const { return hdr->tag_capacity; }
    std::uint32_t& Seen(int task, std::uint32_t i) { return seen[std::size_t(task) * cap() + i]; }
    std::uint8_t& Armed(int task, std::uint32_t i) { return armed[std::size_t(task) * cap() + i]; }
    std::uint16_t* List(int task) { return list + std::size_t(task) * cap(); }
    std::uint16_t& Listed(int task, std::uint32_t i) { return listed[std::size_t(task) * cap() + i]; }
    TaskSlot& Slot(int task) { return hdr->tasks[task]; }
    std::uint8_t* Data(const TagSlot& t) { return base + t.data_offset; }

    // Stores a value into a tag; counts and announces a change. The value
    // has been checked against the tag (type, length).
    void Store(std::uint32_t index, const std::uint8_t* num, const std::uint8_t* bytes, std::uint32_t length,
               const BlockHeader* header, TaskId writer) {
        TagSlot& t = tags[index];
        if (t.type == kTagText || t.type == kTagBlock) {
            bool same = t.length == length && (length == 0 || std::memcmp(Data(t), bytes, length) == 0);
            if (t.type == kTagBlock && header != nullptr)
                same = same && t.header_a == header->a && t.header_b == header->b && t.header_c == header->c &&
                       t.header_d == header->d && t.header_e == header->e;
            if (same) return;
            if (length) std::memmove(Data(t), bytes, length);
            t.length = length;
            if (t.type == kTagText) Data(t)[length] = 0;
            if (t.type == kTagBlock && header != nullptr) {
                t.header_a = header->a;
                t.header_b = header->b;
                t.header_c = header->c;
                t.header_d = header->d;
                t.header_e = header->e;
            }
        } else {
            if (std::memcmp(t.value, num, 8) == 0) return;
            std::memcpy(t.value, num, 8);
        }
        ++t.changes;
        t.last_writer = writer;
        if (writer >= 0 && writer < kMaxTasks) Seen(writer, index) = t.changes;
        for (int task = 0; task < kMaxTasks; ++task) {
            TaskSlot& s = Slot(task);
            if (!s.in_use) continue;
            Mark(task, index);
            if (task == writer || !Armed(task, index)) continue;
            s.wake_pending = 1;
            if (s.waiting) Wake(task);
        }
    }

    // The change list of a task holds exactly the tags with a change it has
    // not seen (changes != seen), in no particular order: List(task) the
    // first `unseen` entries, Listed(task, i) a tag's position + 1 (0: not
    // listed). Each tag is listed at most once, so a list never outgrows its
    // row. `armed_unseen` counts the listed tags that are armed, so whether
    // a wait has something to report is known without a scan. Every change
    // of a tag's counter or a seen counter calls Mark; arming goes through
    // SetArmed.
    void Mark(int task, std::uint32_t i) {
        TaskSlot& s = Slot(task);
        std::uint16_t& at = Listed(task, i);
        const bool unseen = tags[i].changes != Seen(task, i);
        if (unseen == (at != 0)) return;
        std::uint16_t* list_row = List(task);
        if (unseen) {
            list_row[s.unseen] = static_cast<std::uint16_t>(i);
            at = static_cast<std::uint16_t>(++s.unseen);
        } else {
            const std::uint16_t last = list_row[--s.unseen];
            const std::uint16_t pos = at;
            list_row[pos - 1] = last;
            Listed(task, last) = pos;
            Listed(task, i) = 0;
        }
        if (Armed(task, i)) s.armed_unseen += unseen ? 1u : std::uint32_t(-1);
    }

    // Arms (or disarms) the tags of known references, keeping the count.
    void SetArmed(int task, const TagRef* refs, std::int32_t count, bool on) {
        std::uint8_t* armed_row = &Armed(task, 0);
        const std::uint16_t* listed_row = &Listed(task, 0);
        std::uint32_t flipped = 0;
        for (std::int32_t k = 0; k < count; ++k) {
            const std::uint32_t i = TagRefIndex(refs[k]);
            flipped += ((armed_row[i] != 0) != on) & (listed_row[i] != 0);
            armed_row[i] = on ? 1 : 0;
        }
        Slot(task).armed_unseen += on ? flipped : 0u - flipped;
    }

    // Whether every reference of refs[from .. count) names a tag.
    bool Known(const TagRef* refs, std::int32_t from, std::int32_t count) const {
        const std::uint32_t tag_count = hdr->tag_count;
        bool unknown = false;
        for (std::int32_t k = from; k < count; ++k) unknown |= TagRefIndex(refs[k]) >= tag_count;
        return !unknown;
    }

    // Makes the change list of a task from the counters, after a process
    // died holding the lock (perhaps in the middle of an update).
    void RebuildList(int task) {
        TaskSlot& s = Slot(task);
        std::memset(&Listed(task, 0), 0, std::size_t(cap()) * 2);
        s.unseen = s.armed_unseen = 0;
        for (std::uint32_t i = 0; i < hdr->tag_count; ++i) Mark(task, i);
    }

    // The numeric part of a value in the tag's storage form.
    static void Numeric(std::int16_t type, const void* src, std::uint8_t out[8]) {
        std::memset(out, 0, 8);
        std::memcpy(out, src, PackedSlotSize(type));
    }

    Value Load(std::uint32_t index) {
        const TagSlot& t = tags[index];
        Value v;
        v.type = t.type;
        switch (t.type) {
            case kTagInt16:
            case kTagInt16Alt: {
                std::int16_t x;
                std::memcpy(&x, t.value, 2);
                v.integer = x;
                break;
            }
            case kTagInt32: {
                std::int32_t x;
                std::memcpy(&x, t.value, 4);
                v.integer = x;
                break;
            }
            case kTagReal: std::memcpy(&v.real, t.value, 8); break;
            case kTagText:
            case kTagBlock:
                v.bytes.assign(reinterpret_cast<const char*>(base + t.data_offset), t.length);
                v.header = BlockHeader{t.header_a, t.header_b, t.header_c, t.header_d, t.header_e};
                break;
            default: break;
        }
        return v;
    }

    // Just after taking the lock: notes this process as its holder and, when
    // the previous holder died holding it, counts the take-over and wakes
    // every waiter with a change or stop the dead holder may have recorded
    // without announcing it.
    void TookLock(bool abandoned) {
        std::uint32_t me = static_cast<std::uint32_t>(CurrentProcessId());
        std::uint32_t before = hdr->lock_holder;
        hdr->lock_holder = me;
        if (!abandoned && (before == 0 || before == me)) return;
        ++hdr->lock_recoveries;
        for (int task = 0; task < kMaxTasks; ++task) {
            TaskSlot& s = Slot(task);
            if (!s.in_use) continue;
            RebuildList(task);
            if (!s.waiting) continue;
            if (s.stop_requested || AnyArmedChanged(task)) {
                s.wake_pending = 1;
                Wake(task);
            }
        }
    }
    // Just before giving the lock up.
    void GivingUpLock() { hdr->lock_holder = 0; }

    bool AnyArmedChanged(int task) { return Slot(task).armed_unseen != 0; }
};

class Database::Guard {
public:
    explicit Guard(const Database& db) : db_(const_cast<Database&>(db)) { db_.Acquire(); }
    ~Guard() { db_.Release(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    Database& db_;
};

}  // namespace sim
