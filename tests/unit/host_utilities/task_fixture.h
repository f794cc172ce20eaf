// A running HostUtilitiesTask over an in-process runtime and a copy of the
// sample application of examples/; exit and lock replaced by recording
// functions; changes reach the rows through the trigger list the rows bound.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_utilities/host_utilities_task.h"
#include "kernel/kernel.h"
#include "frame/task_state.h"
#include "frame/trigger_list.h"
#include "platform/test_hooks.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/shutdown.h"
#include "platform/system_params.h"
#include "sim/sim.h"
#include "support/archive_text.h"
#include "tests/support/in_process_kernel.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"

namespace cmdtest {

using vdtest::ReadFile;
using vdtest::ReadLines;
using vdtest::WriteFile;

struct ExitCall { win::UINT flags; win::DWORD reason; };

inline std::vector<ExitCall> g_exit_calls;
inline int g_lock_calls = 0;

constexpr char kPolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kDesktopKey[] = "Control Panel\\Desktop";

// A string value set, or deleted for nullptr (the key is created).
inline void SetRegText(const char* path, const char* name, const char* text) {
    win::HKEY key = nullptr;
    ASSERT_EQ(win::RegCreateKeyExA(win::HKEY_CURRENT_USER, path, 0, nullptr, 0, win::KEY_ALL_ACCESS, nullptr, &key,
                                   nullptr),
              win::ERROR_SUCCESS);
    if (text == nullptr)
        win::RegDeleteValueA(key, name);
    else
        win::RegSetValueExA(key, name, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text),
                            static_cast<win::DWORD>(std::strlen(text) + 1));
    win::RegCloseKey(key);
}

// A value as text: a string with its stored terminator, "dword:N", or
// "<no key>" / "<no value>".
inline std::string GetRegText(const char* path, const char* name) {
    win::HKEY key = nullptr;
    if (win::RegOpenKeyExA(win::HKEY_CURRENT_USER, path, 0, win::KEY_READ, &key) != win::ERROR_SUCCESS)
        return "<no key>";
    char buffer[64] = {};
    win::DWORD size = sizeof buffer - 1;
    win::DWORD type = 0;
    win::LONG rc = win::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<win::BYTE*>(buffer), &size);
    win::RegCloseKey(key);
    if (rc != win::ERROR_SUCCESS) return "<no value>";
    if (type == win::REG_DWORD) {
        win::DWORD v;
        std::memcpy(&v, buffer, sizeof v);
        return "dword:" + std::to_string(v);
    }
    return std::string(buffer, size);
}

inline win::UINT ScreenSaverValue(win::UINT action) {
    win::UINT v = 12345;
    EXPECT_TRUE(win::SystemParametersInfoA(action, 0, &v, 0));
    return v;
}

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_exit_calls.clear();
        g_lock_calls = 0;
        // Replaced for the rest of the program: no test leaves the session.
        win::test::ReplaceCalls("ExitWindowsEx", +[](win::UINT flags, win::DWORD reason) -> win::BOOL {
            g_exit_calls.push_back({flags, reason});
            return win::TRUE;
        });
        win::test::ReplaceCalls("LockWorkStation", +[]() -> win::BOOL { return ++g_lock_calls, win::TRUE; });
        win::test::UseTestClock(true);  // the start-up's pauses

        const char* source = std::getenv("VD_SOURCE_DIR");
        const std::filesystem::path examples = std::filesystem::path(source ? source : VD_TEST_SOURCE_DIR) / "examples";
        std::filesystem::copy(examples / "app", App(), std::filesystem::copy_options::recursive);
        std::filesystem::copy(examples / "root", Root(), std::filesystem::copy_options::recursive);
        std::string error;
        ASSERT_TRUE(sim::ParseTagList(ReadFile(examples / "tags.lst"), tags_, error)) << error;
        for (const auto& spec : tags_) tag_names_.names.push_back(spec.name);
        BuildArchive("ct/domain", ReadFile(examples / "app/ct/domain.ct.txt"));
        BuildArchive("plant/ct/global", ReadFile(examples / "app/plant/ct/global.ct.txt"));
        task_archive_ = ReadFile(examples / "app/plant/ct/VDWINUT.ct.txt");

        vdtest::SetRuntimeEnvironment({App().generic_string(), Root().generic_string(), "plant", "SAMPLE", "operator",
                                       "", State().generic_string()});
        win::SetEnvironmentVariableA("VDPATH", nullptr);
    }

    void TearDown() override {
        Stop();
        vdtest::UnbindInProcessKernel();
        db_.reset();
        win::test::UseTestClock(false);
        win::test::ClearFaults();
        vdtest::ClearRuntimeEnvironment();
    }

    std::filesystem::path App() const { return scratch_.Dir() / "app"; }
    std::filesystem::path Root() const { return scratch_.Dir() / "root"; }
    std::filesystem::path State() const { return scratch_.State(); }

    // Text form to archive under the application directory ("" writes no
    // file at all).
    void BuildArchive(const std::string& name, const std::string& text) {
        std::filesystem::path path = App() / (name + ".ct");
        std::filesystem::remove(path);
        if (text.empty()) return;
        std::istringstream in(text);
        cttext::Archive archive;
        std::string error;
        ASSERT_TRUE(cttext::parse(in, name, &tag_names_, false, archive, error)) << error;
        ASSERT_TRUE(cttext::write_archive(archive, path.string(), error)) << error;
    }

    // Starts the task on task_archive_, with `cut` bytes cut off its end.
    void Start(std::uintmax_t cut = 0) {
        BuildArchive("plant/ct/VDWINUT", task_archive_);
        const std::filesystem::path path = App() / "plant" / "ct" / "VDWINUT.ct";
        if (cut != 0) std::filesystem::resize_file(path, std::filesystem::file_size(path) - cut);
        std::string error;
        db_ = sim::Database::CreateInProcess(tags_, error);
        ASSERT_NE(db_, nullptr) << error;
        sim::SetCurrentDatabase(db_.get());
        kernel_bind_table(sim::Ops());
        task_ = std::make_unique<HostUtilitiesTask>("VDWINUT", "Windows Host Utilities");
        ASSERT_EQ(task_->Start(), 0);
    }

    void Stop() {
        if (task_ == nullptr) return;
        task_->Shutdown();
        task_.reset();
        // The process keeps its lock semaphores for good; a test process
        // that starts many tasks gives them back.
        vdtest::ResetKernelAccess();
    }

    std::int32_t Step() {
        if (task_->trigger_list == nullptr) return kTlNoChange;
        return trigger_list_poll(task_->trigger_list, task_state().task_id);
    }

    void AddTag(const std::string& name, const std::string& type = "int16", const std::string& initial = "0") {
        std::vector<sim::TagSpec> specs;
        std::string error;
        ASSERT_TRUE(sim::ParseTagList(name + " " + type + " " + initial + "\n", specs, error)) << error;
        tags_.push_back(specs[0]);
        tag_names_.names.push_back(name);
    }

    std::uint32_t Index(const std::string& name) const {
        std::int32_t i = db_->FindTag(name);
        EXPECT_GE(i, 0) << name;
        return static_cast<std::uint32_t>(i);
    }
    void Set(const std::string& name, std::int64_t v) {
        sim::TagInfo info;
        ASSERT_TRUE(db_->GetTagInfo(Index(name), info));
        ASSERT_EQ(db_->SetValue(Index(name), sim::Value{info.type, v, static_cast<double>(v), {}, {}}), 0) << name;
    }
    void SetText(const std::string& name, const std::string& text) {
        ASSERT_EQ(db_->SetValue(Index(name), sim::Value{kTagText, 0, 0.0, text, {}}), 0) << name;
    }
    std::int64_t Get(const std::string& name) const {
        sim::Value value;
        EXPECT_TRUE(db_->GetValue(Index(name), value)) << name;
        return value.integer;
    }
    void Trigger(const std::string& name, std::int64_t v = 1) {
        Set(name, v);
        ASSERT_EQ(Step(), kTlOk) << name << " did not reach a handler";
    }

    int LogCount(const std::string& text) const {
        int n = 0;
        for (const auto& line : ReadLines(App() / "SAMPLE" / "plant" / "operator" / "log" / "VDWINUT.log"))
            if (line.find(text) != std::string::npos) ++n;
        return n;
    }

    vdtest::ScratchDir scratch_{"vdc", true};
    std::vector<sim::TagSpec> tags_;
    cttext::TagList tag_names_;
    std::string task_archive_;
    std::unique_ptr<sim::Database> db_;
    std::unique_ptr<HostUtilitiesTask> task_;
};

}  // namespace cmdtest
