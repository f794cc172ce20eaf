#include "frame/trigger_list.h"

std::int32_t trigger_list_create(TriggerList** out) { return out == nullptr ? kTlBadArgument : kTlNoMemory; }
std::int32_t trigger_list_destroy(TriggerList*) { return kTlBadArgument; }
std::int32_t trigger_list_set_text_size(TriggerList*, std::uint16_t) { return kTlBadArgument; }
std::int32_t trigger_list_find(TriggerList*, TagRef, TagEntry**) { return kTlBadArgument; }
std::int32_t trigger_list_add(TriggerList*, TagRef, ChangeFunction, HandlerRecord**) { return kTlBadArgument; }
std::int32_t trigger_list_remove(TriggerList*, HandlerRecord*) { return kTlBadArgument; }
std::int32_t trigger_list_next_changed(TriggerList*, TaskId, int, TagEntry**, ValueRecord*) { return kTlBadArgument; }
std::int32_t trigger_list_poll(TriggerList*, TaskId) { return kTlBadArgument; }
std::int32_t trigger_list_wait(TriggerList*, TaskId) { return kTlBadArgument; }
std::int32_t trigger_list_block(TriggerList*, TaskId) { return kTlBadArgument; }
std::int32_t trigger_list_apply(TriggerList*, TaskId, std::int32_t) { return kTlBadArgument; }
std::int32_t trigger_list_sync(TriggerList*, TagEntry*, int) { return kTlBadArgument; }
