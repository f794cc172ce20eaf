#include "frame/dispatch.h"

std::int32_t handler_set_args(HandlerRecord*, std::int16_t, const HandlerWord*) { return kTlBadArgument; }
void dispatch_entry(TriggerList*, TagEntry*, ValueRecord*) {}
void EventDispatcher(TagEntry*, ValueRecord*, std::uint32_t, HandlerWord*) {}
std::int32_t BindTagObject(TriggerList**, TagObject*, TriggerHandler, void*) { return kTlBadArgument; }
