#include "frame/dispatch.h"

#include <cstring>

#include "support/ordered_tree.h"

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

void EventDispatcher(TagEntry*, ValueRecord*, std::uint32_t, HandlerWord*) {}
std::int32_t BindTagObject(TriggerList**, TagObject*, TriggerHandler, void*) { return kTlBadArgument; }
