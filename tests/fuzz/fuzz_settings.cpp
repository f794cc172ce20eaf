// Feeds bytes as the task's two settings files (the application copy up to
// the first 0xFF byte, the installation copy after it): reads values, key
// lists and section lists through the simulated host's reader into buffers
// of exactly the given size, then runs the task's settings rules
// (LoadSettings, ReadSetting, ReadIntSetting) over both copies.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/log_writer.h"
#include "frame/settings.h"
#include "frame/task_base.h"
#include "frame/task_state.h"
#include "platform/environment.h"
#include "platform/profile.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

// One read into a heap buffer of exactly `size` bytes, so that any write
// past it is caught; checks the documented result bounds and terminators.
void read_checked(const char* section, const char* key, const char* deflt, unsigned size, const std::string& file) {
  std::unique_ptr<char[]> buffer(size ? new char[size] : nullptr);
  if (size) std::memset(buffer.get(), 'x', size);
  win::DWORD n = win::GetPrivateProfileStringA(section, key, deflt, buffer.get(), size, file.c_str());
  if (size == 0) {
    if (n != 0) __builtin_trap();
    return;
  }
  if (n >= size || buffer[n] != '\0') __builtin_trap();
  // (A value may hold zero bytes of the file itself, so its length is not
  // checked against the count.) A list ends in two zeros: the one after its
  // last name (counted) and one more; a list that was cut ends in two zeros
  // after size-2. A whole list may also end exactly there, so at size-2
  // either form is right.
  if ((section == nullptr || key == nullptr) && n > 0 && buffer[n - 1] != '\0' &&
      !(n == size - 2 && buffer[n + 1] == '\0'))
    __builtin_trap();
}

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\xff');
  const std::string_view net = input.substr(0, cut);
  const auto& dir = fuzz::WorkDir("fuzz_settings_");
  const std::string net_file = (dir / "app" / "net" / "VDWINUT.ini").string();
  const std::string bin_file = (dir / "root" / "bin" / "VDWINUT.ini").string();
  fuzz::Put(net_file, net);
  fuzz::Put(bin_file, cut == std::string_view::npos ? "" : input.substr(cut + 1));

  // The task's own names, and the first section and key the text names.
  std::vector<std::string> sections{"Debug", "Task", "DiskSpace"}, keys{"DebugLevel", "PollingMode", "UseMB"};
  const std::size_t open = net.find('['), close = net.find(']', open), eq = net.find('=');
  if (close != std::string_view::npos && close - open < 200)
    sections.emplace_back(net.substr(open + 1, close - open - 1));
  const std::size_t line = eq == std::string_view::npos ? eq : net.rfind('\n', eq) + 1;  // npos + 1 = 0
  if (eq != std::string_view::npos && eq - line < 200) keys.emplace_back(net.substr(line, eq - line));

  const unsigned sizes[] = {0, 1, 2, 3, 8, 80, 4096};
  const unsigned pick = size ? data[0] : 0;
  for (const auto& s : sections) {
    for (const auto& k : keys) read_checked(s.c_str(), k.c_str(), "  default  ", sizes[pick % 7], net_file);
    read_checked(s.c_str(), nullptr, nullptr, sizes[(pick / 7) % 7], net_file);
  }
  read_checked(nullptr, nullptr, nullptr, sizes[(pick / 49) % 7], net_file);
  read_checked(nullptr, "k", "d", 5, bin_file);
  for (unsigned n : sizes) read_checked(sections.back().c_str(), keys.back().c_str(), nullptr, n, bin_file);
  win::GetPrivateProfileIntA(sections.back().c_str(), keys.back().c_str(), -7, net_file.c_str());

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
  std::error_code ec;
  std::filesystem::remove_all(dir / "app", ec);
  std::filesystem::remove_all(dir / "root", ec);
  return 0;
}
