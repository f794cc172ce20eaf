#include "frame/dispatch.h"

#include "frame/tag_object.h"

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
