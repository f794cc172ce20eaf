// Feeds bytes as the task's two settings files (the application copy up to
// the first 0xFF byte, the installation copy after it) and runs the task's
// settings rules (LoadSettings, ReadSetting, ReadIntSetting) over both.
#include <vector>

#include "frame/log_writer.h"
#include "frame/settings.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "platform/environment.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

class SettingsTask : public TaskBase {
public:
  SettingsTask() : TaskBase("VDWINUT", "Windows Host Utilities") {}
};

SettingsTask& Task() {
  static SettingsTask* task = [] {
    const std::string base = fuzz::WorkDir("fuzz_settings_").generic_string();
    win::SetEnvironmentVariableA("VDHOST", (base + "/host").c_str());
    auto* t = new SettingsTask;
    TaskState& st = task_state();
    copy_fixed(st.environment.app_dir, sizeof st.environment.app_dir, (base + "/app").c_str());
    copy_fixed(st.environment.root_dir, sizeof st.environment.root_dir, (base + "/root").c_str());
    copy_fixed(st.vd_name, kEnvNameSize, "SAMPLE");
    copy_fixed(st.vd_domain, kEnvDomainSize, "plant");
    copy_fixed(st.vd_user, kEnvUserSize, "operator");
    return t;
  }();
  return *task;
}

}  // namespace

VD_FUZZ(input) {
  const std::size_t cut = input.find('\xff');
  const std::string_view net = input.substr(0, cut);
  const auto& dir = fuzz::WorkDir("fuzz_settings_");
  fuzz::Put(dir / "app" / "net" / "VDWINUT.ini", net);
  fuzz::Put(dir / "root" / "bin" / "VDWINUT.ini", cut == std::string_view::npos ? "" : input.substr(cut + 1));

  // The task's own names, and the first section and key the text names.
  std::vector<std::string> sections{"Debug", "Task", "DiskSpace"}, keys{"DebugLevel", "PollingMode", "UseMB"};
  const std::size_t open = net.find('['), close = net.find(']', open), eq = net.find('=');
  if (close != std::string_view::npos && close - open < 200)
    sections.emplace_back(net.substr(open + 1, close - open - 1));
  const std::size_t line = eq == std::string_view::npos ? eq : net.rfind('\n', eq) + 1;  // npos + 1 = 0
  if (eq != std::string_view::npos && eq - line < 200) keys.emplace_back(net.substr(line, eq - line));

  SettingsTask& task = Task();
  LoadSettings(task);
  if (task.IsBlocking() != (task.polling_requests == 0 ? 1 : 0)) __builtin_trap();
  for (const auto& s : sections)
    for (const auto& k : keys) {
      if (ReadSetting(task, s.c_str(), k.c_str(), "fallback").size() > kSettingSize - 1) __builtin_trap();
      ReadIntSetting(task, s.c_str(), k.c_str(), -1);
    }
  // The log settings stay in the process; leave no file logging behind for
  // the next input.
  log_settings().log_to_file = 0;
  fuzz::Remove(dir / "app");
  fuzz::Remove(dir / "root");
}
