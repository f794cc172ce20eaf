#include "frame/task_state.h"

#include <cstring>

TaskState& task_state() {
    static TaskState state;
    return state;
}

const char* task_name_or_null() {
    return task_state().task_id == kNoTask ? nullptr : task_state().task_name;
}

const char* task_title_or_null() {
    return task_state().task_id == kNoTask ? nullptr : task_state().task_title;
}

const char* task_app_dir_or_null() {
    return task_state().task_id == kNoTask ? nullptr : task_state().vd_app;
}

void copy_fixed(char* field, int size, const char* text) {
    if (field == nullptr || size <= 0) return;
    std::size_t n = text == nullptr ? 0 : std::strlen(text);
    if (n > static_cast<std::size_t>(size - 1)) n = static_cast<std::size_t>(size - 1);
    if (n > 0) std::memcpy(field, text, n);
    field[n] = '\0';
}
