// Dispatch of changed triggers to their handler records, and the frame's
// binding of tag objects to handler functions of the form
// handler(tag object, argument).
#pragma once

#include <cstdint>

#include "frame/trigger_list.h"

class TagObject;

// A handler bound with TaskBase::BindTrigger: called after the trigger's new
// value has been copied into its tag object.
using TriggerHandler = void (*)(TagObject* tag, void* argument);

// Replaces the record's argument words with a copy of `count` words.
// 0, -2, -4 (the old words stay).
std::int32_t handler_set_args(HandlerRecord* record, std::int16_t count, const HandlerWord* words);

// Calls every handler record of `entry`, in binding order; a record removed
// (or added) by a handler during the walk is handled safely.
void dispatch_entry(TriggerList* list, TagEntry* entry, ValueRecord* value);

// The frame's change function: argument words (tag object, handler,
// handler argument). Assigns the value to the tag object (reading a block
// tag from the database first) and calls the handler.
void EventDispatcher(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args);

// Binds `tag` to `handler` on `list` (created into *list when null).
// 0 when bound or when the tag is not configured (nothing bound), else the
// list's error code. Failures are not reported here.
std::int32_t BindTagObject(TriggerList** list, TagObject* tag, TriggerHandler handler, void* argument);
