#include "frame/trigger_list.h"

#include <cstring>

#include "kernel/kernel.h"
#include "support/ordered_tree.h"

namespace {

// The index orders entries by the four bytes of their reference.
int CompareEntries(const void* a, const void* b) {
    return std::memcmp(&static_cast<const TagEntry*>(a)->reference, &static_cast<const TagEntry*>(b)->reference,
                       sizeof(TagRef));
}

void ReleaseRecord(HandlerRecord* record) {
    if (record->on_release != nullptr) record->on_release(nullptr, record->arg_count, record->args);
    mem_free(record->args);
    mem_free(record);
}

void ReleaseArrays(TriggerList* list) {
    mem_free(list->references);
    mem_free(list->entries);
    list->references = nullptr;
    list->entries = nullptr;
    list->array_size = 0;
    list->block_count = 0;
    list->block_index = 0;
}

// The entry after the current block's last one.
TagEntry* AfterBlock(const TriggerList* list) {
    if (list->block_count <= 0) return nullptr;
    return list->entries[list->block_count - 1]->next;
}

void ResetValue(TriggerList* list, ValueRecord* value) {
    std::memset(value, 0, sizeof *value);
    value->SetText(list->text_buffer);
    value->capacity = list->text_size;
    value->length = 0;
}

void DropLock(TriggerList* list, TaskId task) {
    if (list->lock_held) {
        kernel_unlock(task);
        list->lock_held = 0;
    }
}

}  // namespace

std::int32_t trigger_list_create(TriggerList** out) {
    if (out == nullptr) return kTlBadArgument;
    *out = nullptr;
    auto* list = static_cast<TriggerList*>(mem_zalloc(1, sizeof(TriggerList)));
    if (list == nullptr) return kTlNoMemory;
    list->index = tree_new(CompareEntries);
    if (list->index == nullptr || trigger_list_set_text_size(list, kTriggerTextSize) != kTlOk) {
        tree_free(list->index, nullptr);
        mem_free(list->text_buffer);
        mem_free(list);
        return kTlNoMemory;
    }
    *out = list;
    return kTlOk;
}

std::int32_t trigger_list_destroy(TriggerList* list) {
    if (list == nullptr) return kTlBadArgument;
    if (list->in_handler) return kTlBusy;
    ReleaseArrays(list);
    for (TagEntry* entry = list->first; entry != nullptr;) {
        TagEntry* next = entry->next;
        tree_remove(list->index, entry);
        for (HandlerRecord* record = entry->handlers; record != nullptr;) {
            HandlerRecord* following = record->entry_next;
            ReleaseRecord(record);
            record = following;
        }
        mem_free(entry);
        entry = next;
    }
    tree_free(list->index, nullptr);
    mem_free(list->text_buffer);
    mem_free(list);
    return kTlOk;
}

std::int32_t trigger_list_set_text_size(TriggerList* list, std::uint16_t size) {
    if (list == nullptr) return kTlBadArgument;
    if (list->in_handler) return kTlBusy;
    if (list->text_buffer != nullptr && size == list->text_size) return kTlOk;
    auto* buffer = static_cast<char*>(mem_zalloc(static_cast<std::int32_t>(size) + 1, 1));
    if (buffer == nullptr) return kTlNoMemory;
    mem_free(list->text_buffer);
    list->text_buffer = buffer;
    list->text_size = size;
    return kTlOk;
}

std::int32_t trigger_list_find(TriggerList* list, TagRef reference, TagEntry** out) {
    if (out != nullptr) *out = nullptr;
    if (list == nullptr || out == nullptr) return kTlBadArgument;
    TagEntry key{};
    key.reference = reference;
    auto* entry = static_cast<TagEntry*>(tree_find(list->index, &key));
    if (entry == nullptr) return kTlNotInList;
    *out = entry;
    return kTlOk;
}

std::int32_t trigger_list_add(TriggerList* list, TagRef reference, ChangeFunction on_change, HandlerRecord** out) {
    if (out != nullptr) *out = nullptr;
    if (list == nullptr || on_change == nullptr) return kTlBadArgument;
    if (!TagRefNamesTag(reference)) return kTlUnknownTag;

    TagEntry* entry = nullptr;
    std::int16_t type = kTagNotConfigured;
    if (trigger_list_find(list, reference, &entry) != kTlOk) {
        entry = nullptr;
        if (kernel_tag_types(&reference, 1, &type, 0) < 0) return kTlUnknownTag;
    }

    auto* record = static_cast<HandlerRecord*>(mem_zalloc(1, sizeof(HandlerRecord)));
    if (record == nullptr) return kTlNoMemory;
    record->on_change = on_change;

    if (entry == nullptr) {
        entry = static_cast<TagEntry*>(mem_zalloc(1, sizeof(TagEntry)));
        if (entry == nullptr) {
            mem_free(record);
            return kTlNoMemory;
        }
        entry->reference = reference;
        entry->type = type;
        int rc = tree_insert(list->index, entry, TREE_REBALANCE);
        if (rc != 0) {
            mem_free(record);
            mem_free(entry);
            return rc == -2 ? kTlNoMemory : kTlIndexRefused;
        }
        entry->owner = list;
        entry->prev = list->last;
        if (list->last != nullptr) list->last->next = entry;
        else list->first = entry;
        list->last = entry;
        list->dirty = 1;
        ++list->entry_count;
    }

    HandlerRecord* tail = entry->handlers;
    while (tail != nullptr && tail->entry_next != nullptr) tail = tail->entry_next;
    record->entry_prev = tail;
    if (tail != nullptr) tail->entry_next = record;
    else entry->handlers = record;
    record->entry = entry;

    if (out != nullptr) *out = record;
    return kTlOk;
}

std::int32_t trigger_list_remove(TriggerList* list, HandlerRecord* record) {
    if (list == nullptr || record == nullptr || record->entry == nullptr || record->entry->owner != list)
        return kTlBadArgument;
    TagEntry* entry = record->entry;

    if (list->entry_dispatch_next == record) list->entry_dispatch_next = record->entry_next;
    if (record->entry_prev != nullptr) record->entry_prev->entry_next = record->entry_next;
    else entry->handlers = record->entry_next;
    if (record->entry_next != nullptr) record->entry_next->entry_prev = record->entry_prev;
    record->entry_prev = record->entry_next = nullptr;
    record->entry = nullptr;
    ReleaseRecord(record);

    if (entry->handlers != nullptr) return kTlOk;

    if (list->cursor == entry) list->cursor = entry->next;
    // The next resume compares the cursor with this; a freed address must
    // not match a later entry.
    if (list->previous_cursor == entry) list->previous_cursor = nullptr;
    if (entry->prev != nullptr) entry->prev->next = entry->next;
    else list->first = entry->next;
    if (entry->next != nullptr) entry->next->prev = entry->prev;
    else list->last = entry->prev;
    tree_remove(list->index, entry);
    mem_free(entry);
    --list->entry_count;
    list->dirty = 1;
    return kTlOk;
}

std::int32_t handler_set_args(HandlerRecord* record, std::int16_t count, const HandlerWord* words) {
    if (record == nullptr || count < 0 || (count > 0 && words == nullptr)) return kTlBadArgument;
    HandlerWord* copy = nullptr;
    if (count > 0) {
        copy = static_cast<HandlerWord*>(mem_zalloc(count, sizeof(HandlerWord)));
        if (copy == nullptr) return kTlNoMemory;
        std::memcpy(copy, words, sizeof(HandlerWord) * static_cast<std::size_t>(count));
    }
    mem_free(record->args);
    record->args = copy;
    record->arg_count = count;
    return kTlOk;
}

void dispatch_entry(TriggerList* list, TagEntry* entry, ValueRecord* value) {
    if (list == nullptr || entry == nullptr) return;
    for (HandlerRecord* r = entry->handlers; r != nullptr; r = r->entry_next) r->pending = 1;
    // The successor is kept in the list, where a removal during the call
    // advances it; neither the record nor the entry is touched after a call.
    for (HandlerRecord* record = entry->handlers; record != nullptr;) {
        list->entry_dispatch_next = record->entry_next;
        if (record->pending) {
            record->pending = 0;
            if (record->on_change != nullptr) {
                list->in_handler = 1;
                record->on_change(entry, value, static_cast<std::uint16_t>(record->arg_count), record->args);
                list->in_handler = 0;
            }
        }
        record = list->entry_dispatch_next;
    }
    list->entry_dispatch_next = nullptr;
}

std::int32_t trigger_list_sync(TriggerList* list, TagEntry* start, int test_cursor) {
    if (list == nullptr) return kTlBadArgument;
    if (test_cursor && !list->dirty && list->block_index < list->block_count &&
        list->cursor != list->entries[list->block_index])
        list->dirty = 1;
    if (!list->dirty && list->entries != nullptr && list->array_size > 0 && start == list->entries[0]) return kTlOk;

    if (list->array_size != list->entry_count || (list->entry_count > 0 && list->entries == nullptr)) {
        ReleaseArrays(list);
        if (list->entry_count > 0) {
            list->references = static_cast<TagRef*>(mem_zalloc(list->entry_count, sizeof(TagRef)));
            list->entries = static_cast<TagEntry**>(mem_zalloc(list->entry_count, sizeof(TagEntry*)));
            if (list->references == nullptr || list->entries == nullptr) {
                ReleaseArrays(list);
                return kTlNoMemory;
            }
        }
        list->array_size = list->entry_count;
    }

    if (list->cursor == nullptr) list->cursor = start;
    list->block_index = list->array_size;
    std::int32_t filled = 0;
    for (TagEntry* from = start; from != nullptr;) {
        filled = 0;
        bool met = false;
        TagEntry* entry = from;
        for (; entry != nullptr && filled < list->array_size; entry = entry->next, ++filled) {
            list->references[filled] = entry->reference;
            list->entries[filled] = entry;
            if (entry == list->cursor) {
                list->block_index = filled;
                met = true;
            }
        }
        if (met) break;
        if (entry == nullptr) {
            list->cursor = nullptr;
            break;
        }
        from = entry;
    }
    list->block_count = filled;
    if (list->block_index > filled) list->block_index = filled;
    list->dirty = 0;
    return kTlOk;
}

std::int32_t trigger_list_next_changed(TriggerList* list, TaskId task, int resume, TagEntry** out,
                                       ValueRecord* value) {
    if (out != nullptr) *out = nullptr;
    if (list == nullptr || value == nullptr) return kTlBadArgument;
    if (list->in_handler) return kTlBusy;

    TagEntry* start;
    if (!resume) {
        list->block_index = 0;
        start = list->first;
        list->cursor = list->previous_cursor = list->first;
    } else if (list->cursor != nullptr && list->cursor == list->previous_cursor) {
        ++list->block_index;
        list->cursor = list->cursor->next;
        // After an addition or removal the first slot may name a released
        // entry: rebuild from the head instead.
        start = (!list->dirty && list->block_count > 0) ? list->entries[0] : list->first;
    } else {
        start = list->first;
    }

    std::int32_t rc = kTlNoChange;
    bool reported = false;
    while (start != nullptr) {
        rc = trigger_list_sync(list, start, 1);
        if (rc != kTlOk) break;
        rc = kTlNoChange;
        if (list->block_index < list->block_count) {
            std::int32_t at = list->block_index;
            ResetValue(list, value);  // a text arrives in the list's own buffer
            if (kernel_next_changed(task, list->references, list->block_count, &at, value) == 0 && at >= 0 &&
                at < list->block_count) {
                list->block_index = at;
                TagEntry* entry = list->entries[at];
                list->cursor = entry;
                // The terminator goes inside the list's own text buffer
                // (text_size + 1 bytes), whatever capacity the kernel
                // handed back.
                if (entry->type == kTagText && value->Text() == list->text_buffer) {
                    if (value->length > list->text_size) value->length = list->text_size;
                    value->capacity = list->text_size;
                    value->Text()[value->length] = '\0';
                }
                rc = kTlOk;
                reported = true;
                break;
            }
            list->block_index = list->block_count;
            list->cursor = nullptr;
            if (kernel_last_error(task) != kKernelErrNoChange) {
                rc = kTlKernelFailed;
                break;
            }
        }
        start = AfterBlock(list);
    }
    if (!reported && rc == kTlOk) rc = kTlNoChange;
    list->previous_cursor = list->cursor;
    if (out != nullptr) *out = reported ? list->cursor : nullptr;
    return rc;
}

std::int32_t trigger_list_poll(TriggerList* list, TaskId task) {
    if (list == nullptr) return kTlBadArgument;
    if (list->in_handler) return kTlBusy;
    std::int32_t rc = trigger_list_sync(list, list->first, 0);
    if (rc != kTlOk) return rc;

    ValueRecord value;
    ResetValue(list, &value);
    bool handled = false;
    int resume = 0;
    for (;;) {
        TagEntry* entry = nullptr;
        rc = trigger_list_next_changed(list, task, resume, &entry, &value);
        resume = 1;
        if (rc != kTlOk) break;
        handled = true;
        DropLock(list, task);
        dispatch_entry(list, entry, &value);
        ResetValue(list, &value);
    }
    if (handled && rc == kTlNoChange) return kTlOk;
    return rc;
}

std::int32_t trigger_list_wait(TriggerList* list, TaskId task) {
    if (list == nullptr) return kTlBadArgument;
    if (list->in_handler) return kTlBusy;
    std::int32_t rc = trigger_list_sync(list, list->first, 0);
    if (rc != kTlOk) return rc;

    list->lock_held = 1;
    kernel_lock(task);
    rc = trigger_list_poll(list, task);
    if (rc != kTlNoChange) {
        DropLock(list, task);
        return rc;
    }
    rc = trigger_list_block(list, task);
    kernel_unlock(task);
    list->lock_held = 0;
    if (rc == kTlOk) return trigger_list_poll(list, task);
    return rc;
}

std::int32_t trigger_list_block(TriggerList* list, TaskId task) {
    if (list == nullptr) return kTlBadArgument;
    bool took = false;
    if (!list->lock_held) {
        kernel_lock(task);
        list->lock_held = 1;
        took = true;
    }
    std::int32_t rc = trigger_list_apply(list, task, kApplyArm);
    if (rc == kTlOk && kernel_wait_change(task, kKernelWaitBlock) != 0) rc = kTlKernelFailed;
    if (trigger_list_apply(list, task, kApplyDisarm) != kTlOk) rc = kTlKernelFailed;
    if (took) DropLock(list, task);
    return rc;
}

std::int32_t trigger_list_apply(TriggerList* list, TaskId task, std::int32_t code) {
    using Operation = std::int32_t (*)(TaskId, const TagRef*, std::int32_t);
    Operation op = nullptr;
    switch (code) {
        case kApplyWatch: op = kernel_watch; break;
        case kApplyUnwatch: op = kernel_unwatch; break;
        case kApplyArm: op = kernel_arm_wait; break;
        case kApplyDisarm: op = kernel_disarm_wait; break;
        default: return kTlBadArgument;
    }
    if (list == nullptr) return kTlBadArgument;

    std::int32_t rc = kTlOk;
    for (TagEntry* start = list->first; start != nullptr;) {
        std::int32_t sync = trigger_list_sync(list, start, 0);
        if (sync != kTlOk) return sync;
        if (list->block_count <= 0) break;
        rc = op(task, list->references, list->block_count);
        if (rc == -1) {
            kernel_last_error(task);
            return kTlKernelFailed;
        }
        start = AfterBlock(list);
    }
    return rc;
}
