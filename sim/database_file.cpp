// The tag database's file: creating a new image, validating and opening an
// existing one, and administration (tags by name, readable values, the task
// list: what vdrt shows and sets). The layout: database_layout.h.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <utility>

#include "sim/database_layout.h"

namespace sim {

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
    // An integer in the tag's width; too long when it does not fit.
    auto integer = [&]<typename Int>(Int) -> std::int32_t {
        if (value.integer < std::numeric_limits<Int>::min() || value.integer > std::numeric_limits<Int>::max())
            return kKernelErrTooLong;
        const Int v = static_cast<Int>(value.integer);
        std::uint8_t num[8];
        Impl::Numeric(t.type, &v, num);
        m.Store(index, num, nullptr, 0, nullptr, kNoTask);
        return 0;
    };
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
        case kTagInt32: return integer(std::int32_t{});
        default: return integer(std::int16_t{});
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
