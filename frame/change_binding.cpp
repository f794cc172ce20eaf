#include "frame/change_binding.h"

#include "frame/tag_object.h"
#include "frame/task_base.h"

void BindChange(TaskBase& task, TagObject& tag, TriggerHandler handler, void* argument) {
    task.BindTrigger(&tag, handler, argument);
    TriggerList* list = task.trigger_list;
    const std::size_t text = tag.Type() == kTagText ? tag.BufferSize() : 0;
    // A list that cannot grow its buffer keeps the old one: texts come cut.
    if (list != nullptr && text > list->text_size) trigger_list_set_text_size(list, static_cast<std::uint16_t>(text));
}
