#include "frame/status_message.h"

#include <cstdio>
#include <cstring>

#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "kernel/kernel.h"
#include "frame/task_state.h"
#include "support/message_lookup.h"

namespace {

void FormatInto(const char* key, std::span<const FormatArg> args, char* out, std::size_t size) {
    out[0] = '\0';
    const char* text = msg_lookup(key);
    if (text == nullptr) return;
    if (text == key && args.empty()) {  // no catalog entry: the key as it stands
        std::snprintf(out, size, "%s", text);
        return;
    }
    format_args(out, size, text, args);
}

// The type of a tag as the kernel knows it, or kTagNotConfigured.
std::int16_t TypeOf(TagRef ref) {
    if (!TagRefNamesTag(ref)) return kTagNotConfigured;
    std::int16_t type = kTagNotConfigured;
    if (kernel_tag_types(&ref, 1, &type, 0) != 0) return kTagNotConfigured;
    return type;
}

// Writes the text into the message tag; a tag that holds no text is left
// alone (its value slot would be read as something else).
void WriteText(TaskId task, TagRef ref, char* text, std::size_t length) {
    if (TypeOf(ref) != kTagText) return;
    PackedText slot{text, static_cast<std::uint16_t>(kStatusTextSize), static_cast<std::uint16_t>(length)};
    kernel_write(task, &ref, 1, &slot);
}

// Writes the level into the status tag in the tag's own form.
void WriteLevel(TaskId task, TagRef ref, std::int32_t level) {
    switch (TypeOf(ref)) {
        case kTagInt16:
        case kTagInt16Alt: {
            std::int16_t v = static_cast<std::int16_t>(level);
            kernel_write(task, &ref, 1, &v);
            break;
        }
        case kTagInt32: {
            std::int32_t v = level;
            kernel_write(task, &ref, 1, &v);
            break;
        }
        case kTagReal: {
            double v = static_cast<std::int16_t>(level);
            kernel_write(task, &ref, 1, &v);
            break;
        }
        case kTagText: {
            char text[16];
            int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<std::int16_t>(level)));
            PackedText slot{text, static_cast<std::uint16_t>(sizeof text), static_cast<std::uint16_t>(n)};
            kernel_write(task, &ref, 1, &slot);
            break;
        }
        default: break;
    }
}

void Status(std::int32_t level, const char* key, std::span<const FormatArg> args) {
    const std::int32_t log_level = level == kLevelError ? 2 : 4;
    AcquireKernelAccess(0);
    const TaskId task = CurrentTaskId();
    if (task == kNoTask) {
        ReleaseKernelAccess();
        // Not attached: only the bare key reaches the log.
        if (key != nullptr) WriteLogText(key, log_level, 2, kEventKindMessage);
        return;
    }
    char text[kStatusTextSize];
    text[0] = '\0';
    const TaskEnvironment& env = task_state().environment;
    if (key != nullptr) {
        FormatInto(key, args, text, sizeof text);
        WriteText(task, env.message_tag, text, std::strlen(text));
    }
    if (level >= 0) WriteLevel(task, env.status_tag, level);
    ReleaseKernelAccess();
    if (key != nullptr) {
        WriteLogArgs(text, log_level, static_cast<std::uint16_t>(log_level), kEventKindMessage, nullptr, 0, {});
    }
    task_state().LastStatusLevel = level;
}

}  // namespace

std::string FormatStatusText(const char* key, std::span<const FormatArg> args) {
    char text[kStatusTextSize];
    text[0] = '\0';
    if (key != nullptr) FormatInto(key, args, text, sizeof text);
    return text;
}

void StatusMessageArgs(std::int32_t level, const char* key, std::span<const FormatArg> args) {
    Status(level, key, args);
}
