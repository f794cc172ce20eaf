// The tag database's operations for tasks: attaching and detaching, the
// database lock, change detection per task, arming and waiting, packed reads
// and writes. The layout they work on: database_layout.h; creating, opening
// and administration: database_file.cpp.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "sim/database_layout.h"

namespace sim {

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
        impl_->NotifyEach(wakes);
    }
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

}  // namespace sim
