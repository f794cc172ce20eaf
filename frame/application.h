// The application object of the vdwinut program: initialises the process
// (command line, module, application name) and sets the registry key from
// the program's version information. It has no other behaviour.
#pragma once

#include <string>

#include "platform/library.h"
#include "platform/types.h"

class TaskBase;

class TaskApplication {
public:
    TaskApplication() = default;
    virtual ~TaskApplication() = default;
    TaskApplication(const TaskApplication&) = delete;
    TaskApplication& operator=(const TaskApplication&) = delete;

    // Process initialisation: keeps the command line and the module, and
    // takes the application name from the program's file name (without
    // directory and extension). False when the program's file name cannot
    // be read.
    virtual bool InitFramework(win::HMODULE instance, const char* command_line, int show);

    // Reads "\StringFileInfo\040904B0\LegalTrademarks" from the version
    // information of AppName() + ".exe" (empty when there is none) and sets
    // it as the registry key. The result does not matter to the caller.
    virtual bool InitInstance();

    void SetRegistryKey(const char* key) { registry_key_ = key == nullptr ? "" : key; }

    const std::string& AppName() const { return app_name_; }
    const std::string& RegistryKey() const { return registry_key_; }
    const std::string& CommandLine() const { return command_line_; }

    // The program's file name without directory and extension; empty for an
    // empty path.
    static std::string AppNameFromPath(const char* path);

    // The LegalTrademarks text of a file's version information, or "".
    static std::string ReadTrademarks(const char* file_name);

private:
    win::HMODULE instance_ = nullptr;
    std::string command_line_;
    std::string app_name_;
    std::string registry_key_;
};

// Exit codes of the process.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = -1;

// The process entry after static construction: framework initialisation,
// instance initialisation, Start, the run loop, Shutdown. Returns the exit
// code (0 after an orderly stop, -1 when the framework or start-up failed).
int ProcessMain(TaskApplication& app, TaskBase& task);
