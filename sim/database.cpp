// The tag database: layout of the shared memory, change detection per task,
// arming and waiting, packed reads and writes.
//
// Shared memory, in order: header (with the task slots), the platform's lock
// area, the tag slots, the per-task "seen" change counters, the per-task
// armed flags, the per-task change lists (see Impl::Mark), and the data area
// holding texts and blocks. Every structure uses fixed-size fields at
// naturally aligned offsets, so 32- and 64-bit builds of one platform share
// a file.
//
// Sections, in order: the shared layout (TagSlot, TaskSlot, Header,
// Geometry) and the process-local state (Impl, Guard); creating and
// opening; tasks (attach, detach, environment, stop requests); the database
// lock; change detection, arming and waiting; packed reads and writes;
// administration (tags by name, readable values, the task list: what vdrt
// shows and sets).
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "sim/backend.h"
#include "sim/sim.h"

namespace sim {
namespace {

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

Geometry Compute(std::uint32_t capacity, std::uint64_t data_size) {
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

std::uint32_t DataBytes(std::int16_t type) {
    if (type == kTagText) return kTextSlot;
    if (type == kTagBlock) return kKernelBlockCapacity;
    return 0;
}

void CopyField(char* dst, std::size_t size, const char* src) {
    if (size == 0) return;
    std::size_t n = src ? std::strlen(src) : 0;
    if (n > size - 1) n = size - 1;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

std::string FieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

bool SameIntType(std::int16_t a, std::int16_t b) {
    auto norm = [](std::int16_t t) { return t == kTagInt16Alt ? std::int16_t{kTagInt16} : t; };
    return norm(a) == norm(b);
}

}  // namespace

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
    void FlushWakes() {
        for (std::uint32_t w = std::exchange(pending_wakes, 0); w != 0; w &= w - 1)
            backend->Notify(std::countr_zero(w));
    }
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

Database::Database() : impl_(std::make_unique<Impl>()) {}
Database::~Database() = default;

void Database::Acquire() {
    std::thread::id me = std::this_thread::get_id();
    if (impl_->owner.load() == me) {
        ++impl_->depth;
        return;
    }
    impl_->TookLock(backend_->Lock());
    impl_->owner.store(me);
    impl_->depth = 1;
}

void Database::Release() {
    if (--impl_->depth == 0) {
        impl_->owner.store(std::thread::id{});
        impl_->GivingUpLock();
        const std::uint32_t wakes = std::exchange(impl_->pending_wakes, 0);
        backend_->Unlock();
        for (std::uint32_t w = wakes; w != 0; w &= w - 1) backend_->Notify(std::countr_zero(w));
    }
}

// ---- creating and opening ---------------------------------------------------

namespace {

// The image of a new database.
bool BuildImage(const std::vector<TagSpec>& specs, const std::string& path, std::vector<std::uint8_t>& image,
                std::string& error) {
    if (specs.size() + kSpareTags > kMaxTags) {
        error = "too many tags: at most " + std::to_string(kMaxTags - kSpareTags);
        return false;
    }
    std::uint32_t capacity = static_cast<std::uint32_t>(specs.size()) + kSpareTags;
    std::uint64_t data_size = std::uint64_t{kSpareTags} * kTextSlot;
    for (const TagSpec& s : specs) data_size += Round(DataBytes(s.type), 8);
    Geometry g = Compute(capacity, data_size);
    image.assign(g.size, 0);

    Header* h = reinterpret_cast<Header*>(image.data());
    std::memcpy(h->magic, kMagic, sizeof kMagic);
    h->version = kVersion;
    h->flavour = BackendFlavour();
    h->file_size = g.size;
    h->instance_id = RandomInstanceId();
    h->header_size = sizeof(Header);
    h->tag_capacity = capacity;
    h->tag_count = 0;
    h->sync_offset = g.sync;
    h->tags_offset = g.tags;
    h->seen_offset = g.seen;
    h->armed_offset = g.armed;
    h->list_offset = g.list;
    h->listed_offset = g.listed;
    h->data_offset = g.data;
    h->data_size = data_size;
    const char* app = std::getenv("VDAPP");
    std::string app_dir = app && *app ? std::string(app) : std::string();
    if (app_dir.empty() && !path.empty()) {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(path, ec);
        if (!ec) app_dir = abs.parent_path().generic_string();
    }
    CopyField(h->app_dir, sizeof h->app_dir, app_dir.c_str());
    const char* root = std::getenv("VDROOT");
    CopyField(h->root_dir, sizeof h->root_dir, root ? root : "");

    TagSlot* tags = reinterpret_cast<TagSlot*>(image.data() + g.tags);
    std::uint64_t next_data = g.data;
    for (const TagSpec& s : specs) {
        TagSlot& t = tags[h->tag_count++];
        CopyField(t.name, sizeof t.name, s.name.c_str());
        t.type = s.type;
        t.last_writer = -1;
        t.header_a = 0xFFFFFFFFu;
        if (DataBytes(s.type) != 0) {
            t.data_offset = next_data;
            t.capacity = s.type == kTagText ? kKernelTextCapacity : kKernelBlockCapacity;
            next_data += Round(DataBytes(s.type), 8);
        }
        if (s.type == kTagNotConfigured) continue;
        Value v;
        if (!ParseValue(s.type, s.initial, v, error)) {
            error = "initial value of " + s.name + ": " + error;
            return false;
        }
        switch (s.type) {
            case kTagInt16:
            case kTagInt16Alt: {
                std::int16_t x = static_cast<std::int16_t>(v.integer);
                std::memcpy(t.value, &x, 2);
                break;
            }
            case kTagInt32: {
                std::int32_t x = static_cast<std::int32_t>(v.integer);
                std::memcpy(t.value, &x, 4);
                break;
            }
            case kTagReal: std::memcpy(t.value, &v.real, 8); break;
            default:
                std::memcpy(image.data() + t.data_offset, v.bytes.data(), v.bytes.size());
                t.length = static_cast<std::uint32_t>(v.bytes.size());
                break;
        }
    }
    h->data_used = next_data - g.data;
    return true;
}

bool Validate(const std::uint8_t* base, std::size_t size, std::string& error) {
    if (size < sizeof(Header)) {
        error = "the file is too short for a runtime database";
        return false;
    }
    const Header* h = reinterpret_cast<const Header*>(base);
    if (std::memcmp(h->magic, kMagic, sizeof kMagic) != 0) {
        error = "the file is not a runtime database";
        return false;
    }
    if (h->version != kVersion || h->header_size != sizeof(Header)) {
        error = "the database was made by another version of the runtime";
        return false;
    }
    if (h->flavour != BackendFlavour()) {
        error = "the database was made by the runtime of the other platform (Windows / host)";
        return false;
    }
    if (h->file_size != size || h->tag_count > h->tag_capacity || h->tag_capacity > kMaxTags) {
        error = "the database is corrupt (sizes)";
        return false;
    }
    Geometry g = Compute(h->tag_capacity, h->data_size);
    if (g.size != size || g.sync != h->sync_offset || g.tags != h->tags_offset || g.seen != h->seen_offset ||
        g.armed != h->armed_offset || g.list != h->list_offset || g.listed != h->listed_offset ||
        g.data != h->data_offset || h->data_used > h->data_size) {
        error = "the database is corrupt (layout)";
        return false;
    }
    const TagSlot* tags = reinterpret_cast<const TagSlot*>(base + g.tags);
    for (std::uint32_t i = 0; i < h->tag_count; ++i) {
        const TagSlot& t = tags[i];
        bool ok = IsValidTagType(t.type) && strnlen(t.name, sizeof t.name) < sizeof t.name && t.name[0] != '\0';
        std::uint32_t bytes = DataBytes(t.type);
        if (ok && bytes != 0)
            ok = t.data_offset >= g.data && t.data_offset + bytes <= size && t.capacity < bytes + 1 &&
                 t.length <= t.capacity;
        if (!ok) {
            error = "the database is corrupt (tag " + std::to_string(i) + ")";
            return false;
        }
    }
    const std::uint16_t* list = reinterpret_cast<const std::uint16_t*>(base + g.list);
    const std::uint16_t* listed = reinterpret_cast<const std::uint16_t*>(base + g.listed);
    for (int t = 0; t < kMaxTasks; ++t) {
        const TaskSlot& s = h->tasks[t];
        if (!s.in_use) continue;
        bool ok = (s.observer || (s.status_tag < h->tag_count && s.message_tag < h->tag_count)) &&
                  s.unseen <= h->tag_count && s.armed_unseen <= s.unseen;
        const std::size_t row = std::size_t(t) * h->tag_capacity;
        for (std::uint32_t k = 0; ok && k < s.unseen; ++k)
            ok = list[row + k] < h->tag_count && listed[row + list[row + k]] == k + 1;
        if (!ok) {
            error = "the database is corrupt (task table)";
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<Database> Database::Connect(std::unique_ptr<Backend> backend, std::string path, bool init,
                                            std::string& error) {
    if (!Validate(backend->Base(), backend->Size(), error)) return nullptr;
    const Header* h = reinterpret_cast<const Header*>(backend->Base());
    bool ok = init ? backend->InitSync(h->sync_offset, h->instance_id, error)
                   : backend->OpenSync(h->sync_offset, h->instance_id, error);
    if (!ok) return nullptr;
    std::unique_ptr<Database> db(new Database());
    Impl& m = *db->impl_;
    m.base = backend->Base();
    m.hdr = reinterpret_cast<Header*>(m.base);
    m.tags = reinterpret_cast<TagSlot*>(m.base + m.hdr->tags_offset);
    m.seen = reinterpret_cast<std::uint32_t*>(m.base + m.hdr->seen_offset);
    m.armed = m.base + m.hdr->armed_offset;
    m.list = reinterpret_cast<std::uint16_t*>(m.base + m.hdr->list_offset);
    m.listed = reinterpret_cast<std::uint16_t*>(m.base + m.hdr->listed_offset);
    m.backend = backend.get();
    db->backend_ = std::move(backend);
    db->path_ = std::move(path);
    return db;
}

std::unique_ptr<Database> Database::Create(const std::string& path, const std::vector<TagSpec>& tags,
                                           std::string& error) {
    std::vector<std::uint8_t> image;
    if (!BuildImage(tags, path, image, error)) return nullptr;
    std::string temp = path + ".new" + std::to_string(CurrentProcessId());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) {
            error = "cannot write " + temp;
            std::remove(temp.c_str());
            return nullptr;
        }
    }
    {
        std::unique_ptr<Backend> backend = MapDatabaseFile(temp, error);
        if (!backend || !Connect(std::move(backend), temp, true, error)) {
            std::remove(temp.c_str());
            return nullptr;
        }
    }
    if (!ReplaceDatabaseFile(temp, path, error)) {
        std::remove(temp.c_str());
        return nullptr;
    }
    return Open(path, error);
}

std::unique_ptr<Database> Database::Open(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "no runtime database at " + path + " (create one with \"vdrt create TAGLIST\")";
        return nullptr;
    }
    std::unique_ptr<Backend> backend = MapDatabaseFile(path, error);
    if (!backend) return nullptr;
    std::unique_ptr<Database> db = Connect(std::move(backend), path, false, error);
    if (!db) error = path + ": " + error;
    return db;
}

std::unique_ptr<Database> Database::CreateInProcess(const std::vector<TagSpec>& tags, std::string& error) {
    std::vector<std::uint8_t> image;
    if (!BuildImage(tags, std::string(), image, error)) return nullptr;
    std::unique_ptr<Backend> backend = InProcessMemory(image.size());
    std::memcpy(backend->Base(), image.data(), image.size());
    return Connect(std::move(backend), "(in process)", true, error);
}

// ---- tasks ------------------------------------------------------------------

bool Database::ValidTask(TaskId task) const {
    return task >= 0 && task < kMaxTasks && impl_->hdr->tasks[task].in_use;
}

std::int32_t Database::Fail(TaskId task, std::int32_t code) {
    SetLastError(task, code);
    return -1;
}

void Database::SetLastError(TaskId task, std::int32_t code) {
    if (task >= 0 && task < kMaxTasks) impl_->last_error[task].store(code);
    impl_->global_error.store(code);
}

std::int32_t Database::LastError(TaskId task) const {
    if (task >= 0 && task < kMaxTasks) return impl_->last_error[task].load();
    return impl_->global_error.load();
}

std::int32_t Database::FindTagLocked(std::string_view name) const {
    const Impl& m = *impl_;
    for (std::uint32_t i = 0; i < m.hdr->tag_count; ++i)
        if (name == std::string_view(m.tags[i].name, strnlen(m.tags[i].name, sizeof m.tags[i].name)))
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t Database::FindOrAddTagLocked(const std::string& name, std::int16_t type, std::int16_t alt_type) {
    Impl& m = *impl_;
    std::int32_t index = FindTagLocked(name);
    if (index >= 0) return (m.tags[index].type == type || m.tags[index].type == alt_type) ? index : -1;
    std::uint64_t bytes = Round(DataBytes(type), 8);
    if (m.hdr->tag_count >= m.hdr->tag_capacity || m.hdr->data_used + bytes > m.hdr->data_size) return -1;
    std::uint32_t i = m.hdr->tag_count;
    TagSlot& t = m.tags[i];
    std::memset(&t, 0, sizeof t);
    CopyField(t.name, sizeof t.name, name.c_str());
    t.type = type;
    t.last_writer = -1;
    t.header_a = 0xFFFFFFFFu;
    if (bytes != 0) {
        t.data_offset = m.hdr->data_offset + m.hdr->data_used;
        t.capacity = type == kTagText ? kKernelTextCapacity : kKernelBlockCapacity;
        std::memset(m.Data(t), 0, DataBytes(type));
        m.hdr->data_used += bytes;
    }
    // A tag that did not exist before has no changes to report to anyone.
    for (int task = 0; task < kMaxTasks; ++task) {
        m.Seen(task, i) = 0;
        m.Armed(task, i) = 0;
        m.Listed(task, i) = 0;
    }
    ++m.hdr->tag_count;
    return static_cast<std::int32_t>(i);
}

void Database::FreeSlotLocked(TaskId task) {
    Impl& m = *impl_;
    std::memset(&m.Slot(task), 0, sizeof(TaskSlot));
    std::memset(&m.Armed(task, 0), 0, m.cap());
}

TaskId Database::AttachLocked(const char* name, const char* title, const char* app_name, const char* domain,
                              const char* user, bool observer) {
    Impl& m = *impl_;
    if (name == nullptr || *name == '\0' || std::strlen(name) >= sizeof(TaskSlot{}.name)) return -2;
    int me = CurrentProcessId();
    // Slots of processes that ended without detaching are free again.
    for (int t = 0; t < kMaxTasks; ++t) {
        TaskSlot& s = m.Slot(t);
        if (s.in_use && s.pid != me && !ProcessAlive(s.pid)) FreeSlotLocked(static_cast<TaskId>(t));
    }
    int free_slot = -1;
    for (int t = 0; t < kMaxTasks; ++t) {
        TaskSlot& s = m.Slot(t);
        if (!s.in_use) {
            if (free_slot < 0) free_slot = t;
        } else if (std::strncmp(s.name, name, sizeof s.name) == 0) {
            return -3;
        }
    }
    if (free_slot < 0) return -4;
    std::uint32_t status_tag = kInvalidTagRef, message_tag = kInvalidTagRef;
    if (!observer) {
        std::int32_t st = FindOrAddTagLocked(std::string(name) + ".STATUS", kTagInt16, kTagInt16Alt);
        std::int32_t mt = st < 0 ? -1 : FindOrAddTagLocked(std::string(name) + ".MSG", kTagText, kTagText);
        if (st < 0 || mt < 0) return -5;
        status_tag = static_cast<std::uint32_t>(st);
        message_tag = static_cast<std::uint32_t>(mt);
    }
    TaskId task = static_cast<TaskId>(free_slot);
    TaskSlot& s = m.Slot(task);
    std::memset(&s, 0, sizeof s);
    s.pid = me;
    s.observer = observer ? 1 : 0;
    s.status_tag = status_tag;
    s.message_tag = message_tag;
    CopyField(s.name, sizeof s.name, name);
    CopyField(s.title, sizeof s.title, title);
    CopyField(s.app_name, sizeof s.app_name, app_name);
    CopyField(s.domain, sizeof s.domain, domain);
    CopyField(s.user, sizeof s.user, user);
    // Attaching sees no old changes.
    for (std::uint32_t i = 0; i < m.hdr->tag_count; ++i) m.Seen(task, i) = m.tags[i].changes;
    std::memset(&m.Armed(task, 0), 0, m.cap());
    std::memset(&m.Listed(task, 0), 0, std::size_t(m.cap()) * 2);
    backend_->ResetSlot(task);
    impl_->last_error[task].store(0);
    s.in_use = 1;
    return task;
}

TaskId Database::Attach(const char* name, const char* title, const char* app_name, const char* domain,
                        const char* user) {
    Guard g(*this);
    TaskId task = AttachLocked(name, title, app_name, domain, user, false);
    if (task < 0) SetLastError(kNoTask, task == -2 ? kKernelErrInvalidArg : kKernelErrNotAttached);
    return task;
}

TaskId Database::AttachObserver(const char* name) {
    Guard g(*this);
    return AttachLocked(name, "", "", "", "", true);
}

std::int32_t Database::Detach(TaskId task) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    FreeSlotLocked(task);
    impl_->Wake(task);  // a waiter of this task (another thread) ends
    return 0;
}

std::int32_t Database::TaskText(TaskId task, char* buffer) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (buffer == nullptr) return Fail(task, kKernelErrInvalidArg);
    const TaskSlot& s = impl_->Slot(task);
    std::snprintf(buffer, kKernelTaskTextSize, "%.31s: task %d of the runtime", s.name, static_cast<int>(task));
    return 0;
}

std::int32_t Database::GetTaskEnvironment(TaskId task, TaskEnvironment* env) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (env == nullptr) return Fail(task, kKernelErrInvalidArg);
    const TaskSlot& s = impl_->Slot(task);
    *env = EmptyTaskEnvironment();
    env->status_tag = s.status_tag;
    env->message_tag = s.message_tag;
    const char* app = std::getenv("VDAPP");
    const char* root = std::getenv("VDROOT");
    CopyField(env->app_dir, sizeof env->app_dir, app && *app ? app : impl_->hdr->app_dir);
    CopyField(env->root_dir, sizeof env->root_dir, root && *root ? root : impl_->hdr->root_dir);
    return 0;
}

std::int32_t Database::StartNotice(TaskId task, std::int32_t a, std::int32_t b) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    TaskSlot& s = impl_->Slot(task);
    s.started = 1;
    s.notice_a = a;
    s.notice_b = b;
    return 0;
}

std::int32_t Database::StopRequested(TaskId task) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);  // no task: nothing to run for
    return impl_->Slot(task).stop_requested ? 1 : 0;
}

std::int32_t Database::AfterWait(TaskId task) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    ++impl_->Slot(task).steps;
    return 0;
}

std::int32_t Database::RequestStop(TaskId task) {
    Guard g(*this);
    if (!ValidTask(task)) return kKernelErrNotAttached;
    impl_->Slot(task).stop_requested = 1;
    impl_->Wake(task);
    return 0;
}

// ---- the database lock --------------------------------------------------------

std::int32_t Database::Lock(TaskId task) {
    Acquire();
    if (!ValidTask(task)) {
        Release();
        return Fail(task, kKernelErrNotAttached);
    }
    return 0;
}

std::int32_t Database::Unlock(TaskId task) {
    if (impl_->owner.load() != std::this_thread::get_id()) return Fail(task, kKernelErrNotLocked);
    Release();
    return 0;
}

// ---- change detection, arming and waiting ----------------------------------

std::int32_t Database::NextChanged(TaskId task, const TagRef* refs, std::int32_t count, std::int32_t* index,
                                   ValueRecord* value) {
    Guard g(*this);
    Impl& m = *impl_;
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || index == nullptr || value == nullptr || (count > 0 && refs == nullptr) || *index < 0)
        return Fail(task, kKernelErrInvalidArg);
    const std::uint32_t tag_count = m.hdr->tag_count;
    if (m.Slot(task).unseen == 0)  // nothing to report: only the references are checked
        return Fail(task, m.Known(refs, *index, count) ? kKernelErrNoChange : kKernelErrUnknownTag);
    // The first reference from *index on whose tag is on the task's change
    // list; a tag's slot is read only for the one reported.
    const std::uint16_t* listed = &m.Listed(task, 0);
    for (std::int32_t pos = *index; pos < count; ++pos) {
        std::uint32_t i = TagRefIndex(refs[pos]);
        if (i >= tag_count) return Fail(task, kKernelErrUnknownTag);
        if (listed[i] == 0) continue;
        TagSlot& t = m.tags[i];
        if ((t.type == kTagText || t.type == kTagBlock) && value->capacity > 0 && value->Bytes() == nullptr)
            return Fail(task, kKernelErrInvalidArg);
        m.Seen(task, i) = t.changes;
        m.Mark(task, i);
        switch (t.type) {
            case kTagInt16:
            case kTagInt16Alt:
            case kTagInt32:
                std::memset(value->lead, 0, sizeof value->lead);
                std::memcpy(value->lead, t.value, PackedSlotSize(t.type));
                break;
            case kTagReal: std::memcpy(value, t.value, 8); break;
            case kTagText:
            case kTagBlock: {
                std::uint16_t n = static_cast<std::uint16_t>(std::min<std::uint32_t>(t.length, value->capacity));
                if (n) std::memcpy(value->Bytes(), m.Data(t), n);
                if (t.type == kTagText && n < value->capacity) value->Text()[n] = '\0';
                value->length = n;
                if (t.type == kTagBlock) {
                    value->header_a = t.header_a;
                    value->header_b = t.header_b;
                    value->header_c = t.header_c;
                    value->header_d = t.header_d;
                    value->header_e = t.header_e;
                }
                break;
            }
            default: break;
        }
        *index = pos;
        return 0;
    }
    return Fail(task, kKernelErrNoChange);
}

std::int32_t Database::ArmWait(TaskId task, const TagRef* refs, std::int32_t count) {
    Guard g(*this);
    Impl& m = *impl_;
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || (count > 0 && refs == nullptr)) return Fail(task, kKernelErrInvalidArg);
    if (m.Slot(task).stop_requested) return kKernelStopRequested;
    if (!m.Known(refs, 0, count)) return Fail(task, kKernelErrUnknownTag);
    m.SetArmed(task, refs, count, true);
    return 0;
}

std::int32_t Database::DisarmWait(TaskId task, const TagRef* refs, std::int32_t count) {
    Guard g(*this);
    Impl& m = *impl_;
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || (count > 0 && refs == nullptr)) return Fail(task, kKernelErrInvalidArg);
    if (!m.Known(refs, 0, count)) return Fail(task, kKernelErrUnknownTag);
    m.SetArmed(task, refs, count, false);
    return 0;
}

std::int32_t Database::CheckRefs(TaskId task, const TagRef* refs, std::int32_t count) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || (count > 0 && refs == nullptr)) return Fail(task, kKernelErrInvalidArg);
    for (std::int32_t k = 0; k < count; ++k)
        if (TagRefIndex(refs[k]) >= impl_->hdr->tag_count) return Fail(task, kKernelErrUnknownTag);
    return 0;
}

// With the lock held (any depth): waits until an armed tag has a change the
// task has not seen, a stop is requested or the task is detached. The lock
// is released completely while blocking and taken back at the same depth.
std::int32_t Database::WaitLocked(TaskId task, int timeout_ms) {
    Impl& m = *impl_;
    TaskSlot& s = m.Slot(task);
    s.wake_pending = 0;
    if (s.stop_requested || m.AnyArmedChanged(task)) return 0;
    if (timeout_ms == 0) return kKernelErrTimeout;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    s.waiting = 1;
    int depth = m.depth;
    m.owner.store(std::thread::id{});
    m.depth = 0;
    bool timed_out = false;
    while (s.in_use && !s.stop_requested && !s.wake_pending) {
        int wait_ms = -1;
        if (timeout_ms > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) {
                timed_out = true;
                break;
            }
            wait_ms = static_cast<int>(left);
        }
        bool recovered = false;
        m.FlushWakes();
        m.GivingUpLock();
        backend_->Wait(task, wait_ms, recovered);
        m.TookLock(recovered);
    }
    m.owner.store(std::this_thread::get_id());
    m.depth = depth;
    if (!s.in_use) return kKernelErrNotAttached;
    s.waiting = 0;
    if (timed_out && !s.stop_requested && !s.wake_pending) return kKernelErrTimeout;
    s.wake_pending = 0;
    return 0;
}

std::int32_t Database::WaitChange(TaskId task, std::int32_t mode) {
    Guard g(*this);
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    std::int32_t rc = WaitLocked(task, mode == kKernelWaitBlock ? -1 : 0);
    return rc == 0 ? 0 : Fail(task, rc);
}

std::int32_t Database::WaitChangeFor(TaskId task, int timeout_ms) {
    Guard g(*this);
    if (!ValidTask(task)) return kKernelErrNotAttached;
    return WaitLocked(task, timeout_ms < 0 ? -1 : timeout_ms);
}

// ---- packed reads and writes ----------------------------------------------------

std::int32_t Database::Read(TaskId task, const TagRef* refs, std::int32_t count, void* values) {
    Guard g(*this);
    Impl& m = *impl_;
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || (count > 0 && (refs == nullptr || values == nullptr))) return Fail(task, kKernelErrInvalidArg);
    std::uint8_t* slot = static_cast<std::uint8_t*>(values);
    for (std::int32_t k = 0; k < count; ++k) {
        std::uint32_t i = TagRefIndex(refs[k]);
        if (i >= m.hdr->tag_count) return Fail(task, kKernelErrUnknownTag);
        std::size_t size = PackedSlotSize(m.tags[i].type);
        if (size == 0) return Fail(task, kKernelErrWrongType);
        if (m.tags[i].type == kTagText) {
            PackedText pt;
            std::memcpy(&pt, slot, sizeof pt);
            if (pt.capacity > 0 && pt.text == nullptr) return Fail(task, kKernelErrInvalidArg);
        }
        slot += size;
    }
    slot = static_cast<std::uint8_t*>(values);
    for (std::int32_t k = 0; k < count; ++k) {
        TagSlot& t = m.tags[TagRefIndex(refs[k])];
        if (t.type == kTagText) {
            PackedText pt;
            std::memcpy(&pt, slot, sizeof pt);
            std::uint16_t n = static_cast<std::uint16_t>(std::min<std::uint32_t>(t.length, pt.capacity));
            if (n) std::memcpy(pt.text, m.Data(t), n);
            if (n < pt.capacity) pt.text[n] = '\0';
            pt.length = n;
            std::memcpy(slot, &pt, sizeof pt);
        } else {
            std::memcpy(slot, t.value, PackedSlotSize(t.type));
        }
        slot += PackedSlotSize(t.type);
    }
    return 0;
}

std::int32_t Database::Write(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    Guard g(*this);
    Impl& m = *impl_;
    if (!ValidTask(task)) return Fail(task, kKernelErrNotAttached);
    if (count < 0 || (count > 0 && (refs == nullptr || values == nullptr))) return Fail(task, kKernelErrInvalidArg);
    // Check everything first: a failed write changes nothing.
    const std::uint8_t* slot = static_cast<const std::uint8_t*>(values);
    for (std::int32_t k = 0; k < count; ++k) {
        std::uint32_t i = TagRefIndex(refs[k]);
        if (i >= m.hdr->tag_count) return Fail(task, kKernelErrUnknownTag);
        std::size_t size = PackedSlotSize(m.tags[i].type);
        if (size == 0) return Fail(task, kKernelErrWrongType);
        if (m.tags[i].type == kTagText) {
            PackedText pt;
            std::memcpy(&pt, slot, sizeof pt);
            if (pt.length > pt.capacity || (pt.length > 0 && pt.text == nullptr))
                return Fail(task, kKernelErrInvalidArg);
            if (pt.length > m.tags[i].capacity) return Fail(task, kKernelErrTooLong);
        }
        slot += size;
    }
    slot = static_cast<const std::uint8_t*>(values);
    for (std::int32_t k = 0; k < count; ++k) {
        std::uint32_t i = TagRefIndex(refs[k]);
        std::int16_t type = m.tags[i].type;
        if (type == kTagText) {
            PackedText pt;
            std::memcpy(&pt, slot, sizeof pt);
            m.Store(i, kNoNumber, reinterpret_cast<const std::uint8_t*>(pt.text), pt.length, nullptr, task);
        } else {
            std::uint8_t num[8];
            Impl::Numeric(type, slot, num);
            m.Store(i, num, nullptr, 0, nullptr, task);
        }
        slot += PackedSlotSize(type);
    }
    return 0;
}

std::int32_t Database::TagTypes(const TagRef* refs, std::int32_t count, std::int16_t* types) {
    Guard g(*this);
    if (count < 0 || (count > 0 && (refs == nullptr || types == nullptr))) return Fail(kNoTask, kKernelErrInvalidArg);
    for (std::int32_t k = 0; k < count; ++k)
        if (TagRefIndex(refs[k]) >= impl_->hdr->tag_count) return Fail(kNoTask, kKernelErrUnknownTag);
    for (std::int32_t k = 0; k < count; ++k) types[k] = impl_->tags[TagRefIndex(refs[k])].type;
    return 0;
}

std::int32_t Database::ShutdownProbe() {
    Guard g(*this);
    return impl_->hdr->shutdown_hold ? 0 : -1;
}

void Database::SetShutdownHold(bool hold) {
    Guard g(*this);
    impl_->hdr->shutdown_hold = hold ? 1 : 0;
}

std::uint32_t Database::LockRecoveries() const {
    Guard g(*this);
    return impl_->hdr->lock_recoveries;
}

// ---- administration ---------------------------------------------------------------

std::int32_t Database::FindTag(std::string_view name) const {
    Guard g(*this);
    return FindTagLocked(name);
}

std::uint32_t Database::TagCount() const {
    Guard g(*this);
    return impl_->hdr->tag_count;
}

bool Database::GetTagInfo(std::uint32_t index, TagInfo& info) const {
    Guard g(*this);
    if (index >= impl_->hdr->tag_count) return false;
    const TagSlot& t = impl_->tags[index];
    info.index = index;
    info.name = FieldText(t.name, sizeof t.name);
    info.type = t.type;
    info.capacity = t.capacity;
    info.changes = t.changes;
    return true;
}

bool Database::GetValue(std::uint32_t index, Value& value) const {
    Guard g(*this);
    if (index >= impl_->hdr->tag_count) return false;
    value = impl_->Load(index);
    return true;
}

std::int32_t Database::SetValue(std::uint32_t index, const Value& value) {
    Guard g(*this);
    Impl& m = *impl_;
    if (index >= m.hdr->tag_count) return kKernelErrUnknownTag;
    const TagSlot& t = m.tags[index];
    if (t.type == kTagNotConfigured || !SameIntType(t.type, value.type)) return kKernelErrWrongType;
    switch (t.type) {
        case kTagText:
        case kTagBlock:
            if (value.bytes.size() > t.capacity) return kKernelErrTooLong;
            m.Store(index, kNoNumber, reinterpret_cast<const std::uint8_t*>(value.bytes.data()),
                    static_cast<std::uint32_t>(value.bytes.size()), &value.header, kNoTask);
            return 0;
        case kTagReal: {
            std::uint8_t num[8];
            Impl::Numeric(t.type, &value.real, num);
            m.Store(index, num, nullptr, 0, nullptr, kNoTask);
            return 0;
        }
        case kTagInt32: {
            if (value.integer < INT32_MIN || value.integer > INT32_MAX) return kKernelErrTooLong;
            std::int32_t v = static_cast<std::int32_t>(value.integer);
            std::uint8_t num[8];
            Impl::Numeric(t.type, &v, num);
            m.Store(index, num, nullptr, 0, nullptr, kNoTask);
            return 0;
        }
        default: {
            if (value.integer < INT16_MIN || value.integer > INT16_MAX) return kKernelErrTooLong;
            std::int16_t v = static_cast<std::int16_t>(value.integer);
            std::uint8_t num[8];
            Impl::Numeric(t.type, &v, num);
            m.Store(index, num, nullptr, 0, nullptr, kNoTask);
            return 0;
        }
    }
}

std::vector<TaskInfo> Database::Tasks() const {
    Guard g(*this);
    Impl& m = *impl_;
    std::vector<TaskInfo> out;
    for (int t = 0; t < kMaxTasks; ++t) {
        const TaskSlot& s = m.Slot(t);
        if (!s.in_use || s.observer) continue;
        TaskInfo info;
        info.id = static_cast<TaskId>(t);
        info.name = FieldText(s.name, sizeof s.name);
        info.title = FieldText(s.title, sizeof s.title);
        info.pid = s.pid;
        info.alive = ProcessAlive(s.pid);
        info.stop_requested = s.stop_requested != 0;
        info.waiting = s.waiting != 0;
        info.started = s.started != 0;
        info.steps = s.steps;
        if (s.status_tag < m.hdr->tag_count) {
            info.status_tag = FieldText(m.tags[s.status_tag].name, sizeof m.tags[0].name);
            info.status = static_cast<std::int32_t>(m.Load(s.status_tag).integer);
        }
        if (s.message_tag < m.hdr->tag_count) {
            info.message_tag = FieldText(m.tags[s.message_tag].name, sizeof m.tags[0].name);
            info.message = m.Load(s.message_tag).bytes;
        }
        out.push_back(std::move(info));
    }
    return out;
}

TaskId Database::FindTask(std::string_view name_or_id) const {
    Guard g(*this);
    Impl& m = *impl_;
    for (int t = 0; t < kMaxTasks; ++t) {
        const TaskSlot& s = m.Slot(t);
        if (s.in_use && name_or_id == std::string_view(s.name, strnlen(s.name, sizeof s.name)))
            return static_cast<TaskId>(t);
    }
    if (!name_or_id.empty() && name_or_id.size() <= 2 &&
        std::all_of(name_or_id.begin(), name_or_id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int id = std::stoi(std::string(name_or_id));
        if (id < kMaxTasks && m.Slot(id).in_use) return static_cast<TaskId>(id);
    }
    return kNoTask;
}

}  // namespace sim
