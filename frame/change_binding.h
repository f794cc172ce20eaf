// Change bindings a task makes from its own code: a tag object bound in the
// task's trigger list, so that on each change of its tag (on the main
// thread, in the run step) the new value is copied into the tag object and
// the task's function runs with it and a context of the task's own.
//
// As TaskBase::BindTrigger (the frame's dispatch; a tag that is not
// configured is skipped, a failure reported as "EVENTFUNCTION"), and the
// list's scans take texts as long as the longest text a bound tag object
// holds, so a change arrives as whole as its tag object can keep it.
#pragma once

#include <functional>

#include "frame/dispatch.h"

class TaskBase;
class TagObject;

// `handler(tag, argument)` on each change of `tag`.
void BindChange(TaskBase& task, TagObject& tag, TriggerHandler handler, void* argument);

// `OnChange(context, tag)` on each change of `tag`: a function taking
// (Context&, TagObject&), or a member function of Context taking TagObject&.
// Both objects live as long as the binding.
template <auto OnChange, typename Context>
void BindChange(TaskBase& task, TagObject& tag, Context& context) {
    BindChange(
        task, tag, [](TagObject* changed, void* argument) { std::invoke(OnChange, *static_cast<Context*>(argument), *changed); },
        &context);
}
