// What the running task changes on its host, read back from the host itself:
// the registry (the event source, the screen-saver flag, the user policies),
// the settings files as the system's own reader sees them, the disk figures,
// and the exit and lock calls (recorded by the test build of vdwinut, never
// carried out). In the Windows build this is the real registry and the real
// settings reader of the emulation's private prefix; in the host build the
// simulated host's.
#include <cstring>

#include "platform/disk.h"
#include "platform/registry.h"
#include "tests/e2e/task_runtime.h"

namespace {

using namespace e2e;

constexpr const char* kApplicationLog = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr const char* kSource = "Windows Host Utilities";
constexpr const char* kDesktop = "Control Panel\\Desktop";
constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

struct RegValue {
    bool found = false;
    win::DWORD type = 0;
    std::string data;  // exactly the stored bytes
};

RegValue Query(win::HKEY root, const char* path, const char* name) {
    RegValue out;
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(root, path, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS) return out;
    char buffer[1024];
    win::DWORD size = sizeof buffer;
    if (win::RegQueryValueExA(key, name, nullptr, &out.type, reinterpret_cast<win::LPBYTE>(buffer), &size) ==
        win::ERROR_SUCCESS) {
        out.found = true;
        out.data.assign(buffer, size);
    }
    win::RegCloseKey(key);
    return out;
}

bool KeyExists(win::HKEY root, const char* path) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(root, path, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS) return false;
    win::RegCloseKey(key);
    return true;
}

void CreateKey(win::HKEY root, const char* path) {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegCreateKeyExA(root, path, 0, nullptr, 0, win::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              win::ERROR_SUCCESS)
        << path;
    win::RegCloseKey(key);
}

void SetValue(win::HKEY root, const char* path, const char* name, win::DWORD type, const std::string& data) {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegOpenKeyExA(root, path, 0, win::KEY_ALL_ACCESS, &key), win::ERROR_SUCCESS) << path;
    EXPECT_EQ(win::RegSetValueExA(key, name, 0, type, reinterpret_cast<const win::BYTE*>(data.data()),
                                  static_cast<win::DWORD>(data.size())),
              win::ERROR_SUCCESS);
    win::RegCloseKey(key);
}

std::uint32_t Dword(const RegValue& v) {
    std::uint32_t n = 0;
    if (v.data.size() == 4) std::memcpy(&n, v.data.data(), 4);
    return n;
}

class HostEffectsTest : public TaskRuntime {
protected:
    // Sets `trigger` to a new value and waits for `done` to become 1. The
    // done flag is cleared first, so every run is seen.
    void Run(const char* trigger, const char* done) {
        ASSERT_EQ(Vdrt(std::string("set ") + done + " 0"), 0);
        ASSERT_EQ(Vdrt(std::string("set ") + trigger + " " + std::to_string(++trigger_value_)), 0);
        ASSERT_TRUE(WaitFor(done, 1)) << trigger << "\n" << ReadFile(LogFile());
    }
    void Set(const char* tag, int value) { ASSERT_EQ(Vdrt(std::string("set ") + tag + " " + std::to_string(value)), 0); }

    void StartRecordingTask() {
        StartTask(VD_VDWINUT_RECORDING);
        ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    }
    void StopTask() {
        ASSERT_EQ(Vdrt("stop VDWINUT"), 0);
        EXPECT_EQ(TaskExit(), Reported(0));
    }

    int trigger_value_ = 0;
};

TEST_F(HostEffectsTest, EventSourceScreenSaverFlagAndPoliciesReachTheRegistry) {
    // The application log knows one source; the task's own is not there yet.
    CreateKey(win::HKEY_LOCAL_MACHINE, kApplicationLog);
    SetValue(win::HKEY_LOCAL_MACHINE, kApplicationLog, "Sources", win::REG_MULTI_SZ,
             std::string("Application\0\0", 13));
    const std::string source_key = std::string(kApplicationLog) + "\\" + kSource;
    win::RegDeleteKeyA(win::HKEY_LOCAL_MACHINE, source_key.c_str());
    // No policy key: the task must not create it.
    win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kPolicies);
    ASSERT_FALSE(KeyExists(win::HKEY_CURRENT_USER, kPolicies));
    CreateKey(win::HKEY_CURRENT_USER, kDesktop);

    StartRecordingTask();

    // Start-up registered the source: its message file with the terminating
    // zero, the type mask, and the name appended to "Sources".
    RegValue file = Query(win::HKEY_LOCAL_MACHINE, source_key.c_str(), "EventMessageFile");
    ASSERT_TRUE(file.found);
    EXPECT_EQ(file.type, win::REG_SZ);
    ASSERT_FALSE(file.data.empty());
    EXPECT_EQ(file.data.back(), '\0');
    EXPECT_NE(file.data.find("\\VdMsgZAR.dll"), std::string::npos) << file.data;
    RegValue types = Query(win::HKEY_LOCAL_MACHINE, source_key.c_str(), "TypesSupported");
    EXPECT_EQ(types.type, win::REG_DWORD);
    EXPECT_EQ(types.data.size(), 4u);
    RegValue sources = Query(win::HKEY_LOCAL_MACHINE, kApplicationLog, "Sources");
    EXPECT_EQ(sources.type, win::REG_MULTI_SZ);
    EXPECT_EQ(sources.data, std::string("Application\0Windows Host Utilities\0\0", 36));

    // The screen-saver flag: written as a two-byte text, read back as 1/0.
    Set("SS_SETSEC_VALUE", 1);
    Run("SS_SETSEC_TRIG", "SS_SETSEC_DONE");
    RegValue secure = Query(win::HKEY_CURRENT_USER, kDesktop, "ScreenSaverIsSecure");
    EXPECT_EQ(secure.type, win::REG_SZ);
    EXPECT_EQ(secure.data, std::string("1\0", 2));
    Run("SS_SECURE_TRIG", "SS_SECURE_DONE");
    EXPECT_EQ(Int("SS_SECURE"), 1);
    Set("SS_SETSEC_VALUE", 0);
    Run("SS_SETSEC_TRIG", "SS_SETSEC_DONE");
    EXPECT_EQ(Query(win::HKEY_CURRENT_USER, kDesktop, "ScreenSaverIsSecure").data, std::string("0\0", 2));
    Run("SS_SECURE_TRIG", "SS_SECURE_DONE");
    EXPECT_EQ(Int("SS_SECURE"), 0);

    // A policy write without the policy key reports and creates nothing.
    Run("LOCKPOL_SET_TRIG", "LOCKPOL_SET_DONE");
    EXPECT_FALSE(KeyExists(win::HKEY_CURRENT_USER, kPolicies));
    // With the key in place both policies are written as numbers and read back.
    CreateKey(win::HKEY_CURRENT_USER, kPolicies);
    Run("LOCKPOL_SET_TRIG", "LOCKPOL_SET_DONE");
    RegValue lock = Query(win::HKEY_CURRENT_USER, kPolicies, "DisableLockWorkstation");
    EXPECT_EQ(lock.type, win::REG_DWORD);
    EXPECT_EQ(Dword(lock), 1u);
    Run("LOCKPOL_TRIG", "LOCKPOL_DONE");
    EXPECT_EQ(Int("LOCKPOL"), 1);
    Run("TASKMGR_SET_TRIG", "TASKMGR_SET_DONE");
    EXPECT_EQ(Dword(Query(win::HKEY_CURRENT_USER, kPolicies, "DisableTaskMgr")), 1u);
    Set("TASKMGR_SET", 0);
    Run("TASKMGR_SET_TRIG", "TASKMGR_SET_DONE");
    RegValue taskmgr = Query(win::HKEY_CURRENT_USER, kPolicies, "DisableTaskMgr");
    EXPECT_TRUE(taskmgr.found);
    EXPECT_EQ(Dword(taskmgr), 0u);
    Run("TASKMGR_TRIG", "TASKMGR_DONE");
    EXPECT_EQ(Int("TASKMGR"), 0);

    StopTask();
    // A second start finds its name in "Sources" and leaves the list alone.
    StartRecordingTask();
    EXPECT_EQ(Query(win::HKEY_LOCAL_MACHINE, kApplicationLog, "Sources").data, sources.data);
    StopTask();
    win::RegDeleteKeyA(win::HKEY_CURRENT_USER, kPolicies);
}

TEST_F(HostEffectsTest, SettingsFilesDecideTheDiskUnit) {
    win::ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(win::GetDiskFreeSpaceExA("C:\\", &available, &total, &free));

    // The application's copy, in lower case with blanks and quotes, wins
    // over the installation's "UseMB=0": figures in MB.
    std::ofstream(dir_ / "app" / "net" / "VDWINUT.ini") << "; application copy\n[debug]\ndebuglevel = 3\n"
                                                       << "[diskspace]\n  usemb = \"1\"  \n";
    StartRecordingTask();
    Run("DISK_TOTAL_TRIG", "DISK_TOTAL_DONE");
    EXPECT_EQ(Int("DISK_TOTAL"), static_cast<std::int64_t>(static_cast<std::uint32_t>(total.QuadPart >> 20)));
    Run("DISK_FREE_TRIG", "DISK_FREE_DONE");
    const std::int64_t free_mb = static_cast<std::int64_t>(available.QuadPart >> 20);
    EXPECT_NEAR(static_cast<double>(Int("DISK_FREE")), static_cast<double>(free_mb), 256.0);
    StopTask();

    // Without the key there, the installation's copy holds: KB, cut to 32 bits.
    std::ofstream(dir_ / "app" / "net" / "VDWINUT.ini") << "[Debug]\nDebugLevel=3\n";
    StartRecordingTask();
    Run("DISK_TOTAL_TRIG", "DISK_TOTAL_DONE");
    EXPECT_EQ(static_cast<std::uint32_t>(Int("DISK_TOTAL")), static_cast<std::uint32_t>(total.QuadPart >> 10));
    StopTask();
}

TEST_F(HostEffectsTest, ExitAndLockAreCalledWithTheirFlagsAndDeferredModeSticks) {
    const fs::path record = dir_ / "shutdown-calls.txt";
    Env("VDTEST_SHUTDOWN_RECORD", record.string());
    Set("SHUT_DEFER", 0);
    StartRecordingTask();

    // Immediate mode: shut down, with the reason argument 4 and no force bit.
    Run("SHUTDOWN_TRIG", "SHUTDOWN_DONE");
    EXPECT_EQ(ReadFile(record), "exitwindows flags=0x01 reason=4\n");
    EXPECT_EQ(Int("STOP"), 0);
    Run("LOCK_TRIG", "LOCK_DONE");
    EXPECT_EQ(ReadFile(record), "exitwindows flags=0x01 reason=4\nlock\n");

    // A nonzero value tag hands the shutdown to the stop tag ...
    Set("SHUT_DEFER", 1);
    Run("SHUTDOWN_TRIG", "SHUTDOWN_DONE");
    EXPECT_EQ(Int("STOP"), 1);
    // ... and from then on every exit command does, whatever its value tag.
    Set("STOP", 0);
    Set("SHUT_DEFER", 0);
    Run("SHUTDOWN_TRIG", "SHUTDOWN_DONE");
    EXPECT_EQ(Int("STOP"), 1);
    EXPECT_EQ(ReadFile(record), "exitwindows flags=0x01 reason=4\nlock\n");

    StopTask();
    win::SetEnvironmentVariableA("VDTEST_SHUTDOWN_RECORD", nullptr);
}

}  // namespace
