// The frame's binding of tag objects to handler functions of the form
// handler(tag object, argument), on the handler records of the trigger list
// (frame/trigger_list.h, which also calls the records of a changed tag).
#pragma once

#include <cstdint>

#include "frame/trigger_list.h"

class TagObject;

// A handler bound with TaskBase::BindTrigger: called after the trigger's new
// value has been copied into its tag object.
using TriggerHandler = void (*)(TagObject* tag, void* argument);

// The frame's change function: argument words (tag object, handler,
// handler argument). Assigns the value to the tag object (reading a block
// tag from the database first) and calls the handler.
void EventDispatcher(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args);

// Binds `tag` to `handler` on `list` (created into *list when null).
// 0 when bound or when the tag is not configured (nothing bound), else the
// list's error code. Failures are not reported here.
std::int32_t BindTagObject(TriggerList** list, TagObject* tag, TriggerHandler handler, void* argument);
