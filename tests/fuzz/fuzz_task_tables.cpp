// Feeds bytes as the task's whole configuration archive: loads its rows
// (CtLoad), applies the start-up actions (RunLoad) and drops the rows (Stop).
// The kernel below gives tags of every type, so that the binding and handler
// paths run; every other operation succeeds without effect.
#include <cstring>

#include "host_utilities/host_utilities_task.h"
#include "kernel/kernel.h"
#include "frame/task_state.h"
#include "platform/environment.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

// Tag types by reference: the low bits of the index pick the type; 0xFFFF
// in the low half names no tag.
std::int16_t TypeOf(TagRef ref) {
  if (!TagRefNamesTag(ref)) return kTagNotConfigured;
  static constexpr std::int16_t kTypes[8] = {kTagInt16, kTagInt32, kTagReal,   kTagText,
                                             kTagBlock, kTagInt16Alt, kTagNotConfigured, 9};
  return kTypes[TagRefIndex(ref) & 7u];
}

std::int32_t Ok(TaskId) { return 0; }
std::int32_t Refs(TaskId, const TagRef* refs, std::int32_t count) { return refs == nullptr || count < 0 ? -1 : 0; }
std::int32_t Write(TaskId, const TagRef* refs, std::int32_t count, const void* values) {
  return refs == nullptr || values == nullptr || count < 0 ? -1 : 0;
}

// Reads: every slot zero (a text slot keeps its pointer and capacity, its
// length becomes 0).
std::int32_t Read(TaskId, const TagRef* refs, std::int32_t count, void* values) {
  if (refs == nullptr || values == nullptr || count < 0) return -1;
  auto* out = static_cast<std::uint8_t*>(values);
  for (std::int32_t i = 0; i < count; ++i) {
    std::int16_t type = TypeOf(refs[i]);
    if (type == kTagBlock || type < 0 || type > kTagBlock) return -1;  // batches never hold these
    const std::size_t slot = PackedSlotSize(type);
    std::memset(type == kTagText ? out + sizeof(void*) + 2 : out, 0, type == kTagText ? 2 : slot);
    out += slot;
  }
  return 0;
}

const KernelOps kOps = {
    .attach = [](const char*, const char*, const char*, const char*, const char*) -> TaskId { return 0; },
    .detach = Ok,
    .get_env = [](const char*, char* buffer, std::int32_t size) { return kernel_detail::ClearedBuffer(buffer, size); },
    .banner = []() { return ""; },
    .task_text = [](TaskId, char* buffer) { return kernel_detail::ClearedBuffer(buffer, 1); },
    .task_environment = [](TaskId, TaskEnvironment* env) { return env ? (*env = EmptyTaskEnvironment(), 0) : 0; },
    .start_notice = [](TaskId, std::int32_t, std::int32_t) -> std::int32_t { return 0; },
    .stop_requested = Ok, .after_wait = Ok, .lock = Ok, .unlock = Ok,
    .next_changed = [](TaskId, const TagRef*, std::int32_t, std::int32_t*, ValueRecord*) -> std::int32_t { return -1; },
    .last_error = [](TaskId) -> std::int32_t { return kKernelErrNoChange; },
    .wait_change = [](TaskId, std::int32_t) -> std::int32_t { return 0; },
    .arm_wait = Refs, .disarm_wait = Refs, .watch = Refs, .unwatch = Refs,
    .read = Read, .write = Write, .write_result = Write,
    .tag_types = [](const TagRef* refs, std::int32_t count, std::int16_t* types, std::int32_t) -> std::int32_t {
      if (refs == nullptr || types == nullptr || count < 0) return -1;
      for (std::int32_t i = 0; i < count; ++i) types[i] = TypeOf(refs[i]);
      return 0;
    },
    .shutdown_probe = []() -> std::int32_t { return -1; },
};

HostUtilitiesTask& Task() {
  static HostUtilitiesTask* task = [] {
    const std::string base = fuzz::WorkDir("fuzz_task_tables_").generic_string();
    win::SetEnvironmentVariableA("VDHOST", (base + "/host").c_str());
    kernel_bind_table(kOps);
    auto* t = new HostUtilitiesTask("VDWINUT", "Windows Host Utilities");
    TaskState& st = task_state();
    copy_fixed(st.vd_app, kEnvDirSize, base.c_str());
    copy_fixed(st.vd_domain, kEnvDomainSize, "plant");
    st.task_id = st.second_task_id = 0;
    return t;
  }();
  return *task;
}

}  // namespace

VD_FUZZ(bytes) {
  const auto& dir = fuzz::WorkDir("fuzz_task_tables_");
  fuzz::Put(dir / "plant" / "ct" / "VDWINUT.ct", bytes);
  HostUtilitiesTask& task = Task();
  task.CtLoad();
  // Every row holds a well-formed object: a row is built whole or not at all.
  for (const auto& row : task.command_rows())
    if (row == nullptr || row->task != &task || !row->trigger || !row->done_tag) __builtin_trap();
  for (const auto& row : task.event_log_rows())
    if (row == nullptr || std::memchr(row->text, 0, sizeof row->text) == nullptr) __builtin_trap();
  task.RunLoad();
  task.Stop();
  fuzz::Remove(dir / "plant");
}
