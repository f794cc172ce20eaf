#include "frame/batch_transfer.h"

#include <cstring>
#include <new>
#include <vector>

#include "frame/kernel_access.h"
#include "frame/tag_object.h"
#include "kernel/kernel.h"
#include "frame/status_message.h"
#include "frame/task_state.h"

namespace {

constexpr std::int32_t kOutOfMemory = 2;

bool Included(const TagObject* tag) {
    return tag != nullptr && tag->Type() >= kTagInt16 && tag->Type() <= kTagInt32;
}

// The reference array and the packed value buffer of one batch, with the
// included tags in order: on the stack up to kInlineTags tags (a tag
// object's own transfers and the handlers' small batches allocate nothing),
// on the heap beyond.
constexpr std::size_t kInlineTags = 8;

struct Batch {
    Batch() = default;
    Batch(const Batch&) = delete;  // the pointers may name its own arrays
    Batch& operator=(const Batch&) = delete;
    TagRef* refs = inline_refs;
    TagObject** tags = inline_tags;
    std::uint8_t* values = inline_values;
    std::int32_t count = 0;  // included tags
    TagRef inline_refs[kInlineTags];
    TagObject* inline_tags[kInlineTags];
    std::uint8_t inline_values[kInlineTags * kPackedTextSlot];
    std::vector<TagRef> heap_refs;
    std::vector<TagObject*> heap_tags;
    std::vector<std::uint8_t> heap_values;
};

// The slot of one included tag (PackedSlotSize(type) bytes): a number is
// the first bytes of its record, as the record's accessors read them.
void PackSlot(const TagObject& tag, std::uint8_t* slot) {
    const ValueRecord rec = tag.Record();
    if (tag.Type() == kTagText) {
        const PackedText pt{rec.Text(), rec.capacity, tag.TextLength()};
        std::memcpy(slot, &pt, sizeof pt);
    } else {
        std::memcpy(slot, &rec, PackedSlotSize(tag.Type()));
    }
}

// Hands an included tag its slot of a buffer the kernel filled.
void UnpackSlot(TagObject& tag, const std::uint8_t* slot) {
    ValueRecord rec = tag.Record();
    if (tag.Type() == kTagText) {
        PackedText pt;
        std::memcpy(&pt, slot, sizeof pt);
        rec.SetText(pt.text);
        rec.capacity = pt.capacity;
        rec.length = pt.length;
    } else {
        std::memcpy(&rec, slot, PackedSlotSize(tag.Type()));
    }
    tag.Assign(rec);
}

// Makes room for every tag of the batch and packs the included ones.
// False when memory runs out.
bool Pack(TagObject* const* tags, std::int32_t count, Batch& batch) {
    const std::size_t n = static_cast<std::size_t>(count);
    if (n > kInlineTags) {
        try {
            batch.heap_refs.resize(n);
            batch.heap_tags.resize(n);
            batch.heap_values.resize(n * kPackedTextSlot);
        } catch (const std::exception&) {
            return false;
        }
        batch.refs = batch.heap_refs.data();
        batch.tags = batch.heap_tags.data();
        batch.values = batch.heap_values.data();
    }
    std::uint8_t* slot = batch.values;
    for (std::int32_t k = 0; k < count; ++k) {
        TagObject* tag = tags[k];
        if (!Included(tag)) continue;
        PackSlot(*tag, slot);
        slot += PackedSlotSize(tag->Type());
        batch.refs[batch.count] = tag->Ref();
        batch.tags[batch.count++] = tag;
    }
    return true;
}

// Hands each included tag its slot of a buffer the kernel filled.
void Unpack(const Batch& batch) {
    const std::uint8_t* slot = batch.values;
    for (std::int32_t k = 0; k < batch.count; ++k) {
        UnpackSlot(*batch.tags[k], slot);
        slot += PackedSlotSize(batch.tags[k]->Type());
    }
}

// The error of a failed kernel call. A failure for which the kernel keeps no
// error code is still a failure: the call's own result stands for it.
std::int32_t FailureCode(std::int32_t call_result) {
    std::int32_t code = kernel_last_error(CurrentTaskId());
    if (code == 0) code = call_result != 0 ? call_result : -1;
    return code;
}

using KernelWriteFn = std::int32_t (*)(TaskId, const TagRef*, std::int32_t, const void*);

std::int32_t WriteBatch(TagObject* const* tags, std::int32_t count, KernelWriteFn write, int primary) {
    if (tags == nullptr || count < 1) return 0;
    Batch batch;
    if (!Pack(tags, count, batch)) return kOutOfMemory;
    if (batch.count == 0) return 0;
    AcquireKernelAccess(primary);
    std::int32_t code = 0;
    const std::int32_t rc = write(CurrentTaskId(), batch.refs, batch.count, batch.values);
    if (rc != 0) {
        code = FailureCode(rc);
        if (code != kOutOfMemory) StatusMessage(kLevelError, "VDERROR", code);
    }
    ReleaseKernelAccess();
    return code;
}

}  // namespace

std::int32_t BatchRead(TagObject* const* tags, std::int32_t count) {
    if (tags == nullptr || count < 1) return 0;
    AcquireKernelAccess(1);
    std::int32_t code = 0;
    Batch batch;
    if (!Pack(tags, count, batch)) {
        code = kOutOfMemory;
    } else if (batch.count > 0) {
        const std::int32_t rc = kernel_read(CurrentTaskId(), batch.refs, batch.count, batch.values);
        if (rc != 0)
            code = FailureCode(rc);
        else
            Unpack(batch);
    }
    if (code != 0) StatusMessage(kLevelError, "VDERROR", code);
    ReleaseKernelAccess();
    return code;
}

std::int32_t BatchWrite(TagObject* const* tags, std::int32_t count) {
    return WriteBatch(tags, count, &kernel_write, 0);
}

std::int32_t BatchWriteResult(TagObject* const* tags, std::int32_t count) {
    return WriteBatch(tags, count, &kernel_write_result, 1);
}

// One tag, its slot on the stack: no allocation.
std::int32_t TransferQuiet(TagObject& tag, bool write) {
    if (!Included(&tag)) return 0;
    std::uint8_t slot[kPackedTextSlot] = {};
    PackSlot(tag, slot);
    const TagRef ref = tag.Ref();
    AcquireKernelAccess(0);
    const TaskId task = CurrentTaskId();
    const std::int32_t rc = write ? kernel_write(task, &ref, 1, slot) : kernel_read(task, &ref, 1, slot);
    const std::int32_t code = rc != 0 ? FailureCode(rc) : 0;
    if (code == 0 && !write) UnpackSlot(tag, slot);
    ReleaseKernelAccess();
    return code;
}

// ---- a tag object's own transfers: a batch of one ---------------------------

std::int32_t TagObject::Read() {
    TagObject* self = this;
    return BatchRead(&self, 1);
}

// The batch write reports every kernel failure itself; only the out-of-memory
// result (2) comes back unreported, so it is reported here, once.
int TagObject::Write() {
    TagObject* self = this;
    std::int32_t rc = BatchWrite(&self, 1);
    if (rc == 0) return 1;
    if (rc == 2) StatusMessage(kLevelError, "VDERROR", rc);
    return 0;
}

std::int32_t TagObject::ReadQuiet() { return TransferQuiet(*this, false); }

std::int32_t TagObject::WriteQuiet() { return TransferQuiet(*this, true); }

int TagObject::WriteResult() {
    TagObject* self = this;
    std::int32_t rc = BatchWriteResult(&self, 1);
    if (rc == 0) return 1;
    if (rc == 2) StatusMessage(kLevelError, "VDERROR", rc);
    return 0;
}
