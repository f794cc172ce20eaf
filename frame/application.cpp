#include "frame/application.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/task_base.h"
#include "platform/module.h"
#include "platform/system_info.h"

namespace {
constexpr const char* kTrademarksKey = "\\StringFileInfo\\040904B0\\LegalTrademarks";
constexpr win::DWORD kModulePathSize = 260;
}  // namespace

std::string TaskApplication::AppNameFromPath(const char* path) {
    if (path == nullptr) return "";
    std::string name = path;
    std::size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string TaskApplication::ReadTrademarks(const char* file_name) {
    if (file_name == nullptr) return "";
    win::DWORD handle = 0;
    win::DWORD size = win::GetFileVersionInfoSizeA(file_name, &handle);
    if (size == 0) return "";
    std::vector<unsigned char> block(size + 1, 0);
    if (!win::GetFileVersionInfoA(file_name, handle, size, block.data())) return "";
    void* value = nullptr;
    win::UINT length = 0;
    if (!win::VerQueryValueA(block.data(), kTrademarksKey, &value, &length) || value == nullptr) return "";
    // The value lies inside the block; never read past it.
    const char* text = static_cast<const char*>(value);
    const char* end = reinterpret_cast<const char*>(block.data()) + size;
    if (text < reinterpret_cast<const char*>(block.data()) || text >= end) return "";
    return std::string(text, strnlen(text, static_cast<std::size_t>(end - text)));
}

bool TaskApplication::InitFramework(win::HMODULE instance, const char* command_line, int) {
    instance_ = instance;
    command_line_ = command_line == nullptr ? "" : command_line;
    char path[kModulePathSize + 1] = {};
    // The program's own file (a null module is the program on every side).
    win::DWORD n = win::GetModuleFileNameA(nullptr, path, kModulePathSize);
    if (n == 0) return false;
    app_name_ = AppNameFromPath(path);
    return !app_name_.empty();
}

bool TaskApplication::InitInstance() {
    const std::string file = app_name_ + ".exe";
    SetRegistryKey(ReadTrademarks(file.c_str()).c_str());
    return true;
}

int ProcessMain(TaskApplication& app, TaskBase& task) {
    const char* command_line = win::GetCommandLineA();
    if (!app.InitFramework(win::GetModuleHandleA(nullptr), command_line, 0)) {
        std::fputs("Fatal Error: MFC initialization failed", stderr);
        std::fputs("\n", stderr);
        return kExitFailure;
    }
    app.InitInstance();
    if (task.Start() != 0) return kExitFailure;
    while (task.RunStep(task.blocking) == 0) {
    }
    task.Shutdown();
    return kExitOk;
}
