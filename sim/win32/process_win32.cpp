// Starting programs on Windows: CreateProcessA with a command line quoted
// for the C runtime's parser, the standard handles passed on explicitly.
#include <windows.h>

#include <string>

#include "sim/process.h"

namespace sim {
namespace {

std::string LastErrorText(const std::string& what) {
    return what + ": Windows error " + std::to_string(static_cast<unsigned long>(::GetLastError()));
}

// An inheritable copy of a standard handle, or null when there is none.
HANDLE InheritableCopy(DWORD which) {
    HANDLE h = ::GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, h, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) return nullptr;
    return copy;
}

class WinChild : public ChildProcess {
public:
    WinChild(HANDLE process, DWORD pid) : process_(process), pid_(pid) {}
    ~WinChild() override {
        Kill();
        ::CloseHandle(process_);
    }

    bool Wait(int timeout_ms, int& exit_code) override {
        DWORD rc = ::WaitForSingleObject(process_, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
        if (rc != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        exit_code = static_cast<int>(code);
        return true;
    }

    void Kill() override {
        if (::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return;
        ::TerminateProcess(process_, 137);
        ::WaitForSingleObject(process_, INFINITE);
    }

    int Pid() const override { return static_cast<int>(pid_); }

private:
    HANDLE process_;
    DWORD pid_;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::StartProgram(const std::vector<std::string>& args, std::string& error,
                                                         const std::string& output_path) {
    // A program given with a directory is named in full (a path without a
    // drive is taken on the current drive), so no search can pick another.
    std::string program = args[0];
    bool has_directory = program.find_first_of("/\\:") != std::string::npos;
    if (has_directory) {
        char full[MAX_PATH * 4];
        DWORD n = ::GetFullPathNameA(program.c_str(), sizeof full, full, nullptr);
        if (n == 0 || n >= sizeof full) {
            error = LastErrorText(program);
            return nullptr;
        }
        program.assign(full, n);
    }
    std::vector<std::string> argv = args;
    argv[0] = program;
    std::string line = WindowsCommandLine(argv);

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = InheritableCopy(STD_INPUT_HANDLE);
    si.hStdError = InheritableCopy(STD_ERROR_HANDLE);
    if (output_path.empty()) {
        si.hStdOutput = InheritableCopy(STD_OUTPUT_HANDLE);
    } else {
        SECURITY_ATTRIBUTES sa{};
        sa.nLength = sizeof sa;
        sa.bInheritHandle = TRUE;
        si.hStdOutput = ::CreateFileA(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (si.hStdOutput == INVALID_HANDLE_VALUE) {
            error = LastErrorText(output_path);
            if (si.hStdInput) ::CloseHandle(si.hStdInput);
            if (si.hStdError) ::CloseHandle(si.hStdError);
            return nullptr;
        }
    }

    PROCESS_INFORMATION pi{};
    BOOL ok = ::CreateProcessA(has_directory ? program.c_str() : nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    DWORD start_error = ::GetLastError();
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError})
        if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    if (!ok) {
        ::SetLastError(start_error);
        error = LastErrorText("cannot start " + program);
        return nullptr;
    }
    ::CloseHandle(pi.hThread);
    return std::make_unique<WinChild>(pi.hProcess, pi.dwProcessId);
}

}  // namespace sim
