#include "frame/dispatch.h"

#include <cstring>

#include "frame/tag_object.h"
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

void EventDispatcher(TagEntry*, ValueRecord* value, std::uint32_t count, HandlerWord* args) {
    if (static_cast<std::int16_t>(count & 0xFFFFu) < 3 || args == nullptr || value == nullptr) return;
    // The words are taken before the call: the handler may unbind its own
    // record, which releases them.
    auto* tag = reinterpret_cast<TagObject*>(args[0]);
    auto handler = reinterpret_cast<TriggerHandler>(args[1]);
    auto* argument = reinterpret_cast<void*>(args[2]);
    if (tag == nullptr) return;
    if (tag->Type() == kTagBlock) tag->Read();
    tag->Assign(*value);
    if (handler != nullptr) handler(tag, argument);
}

std::int32_t BindTagObject(TriggerList** list, TagObject* tag, TriggerHandler handler, void* argument) {
    if (list == nullptr || tag == nullptr) return kTlBadArgument;
    if (tag->Type() == kTagNotConfigured) return kTlOk;
    if (*list == nullptr) {
        std::int32_t rc = trigger_list_create(list);
        if (rc != kTlOk) return rc;
    }
    HandlerRecord* record = nullptr;
    std::int32_t rc = trigger_list_add(*list, tag->Ref(), &EventDispatcher, &record);
    if (rc != kTlOk) return rc;
    const HandlerWord words[3] = {reinterpret_cast<HandlerWord>(tag), reinterpret_cast<HandlerWord>(handler),
                                  reinterpret_cast<HandlerWord>(argument)};
    rc = handler_set_args(record, 3, words);
    // A record without its words would be called for nothing: unbind it.
    if (rc != kTlOk) trigger_list_remove(*list, record);
    return rc;
}
