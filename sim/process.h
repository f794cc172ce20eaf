// Starting other programs of the runtime (vdrt, helper programs, tasks)
// straight from an argument vector: no command processor in between, so
// blanks, quotes and backslashes in paths and arguments arrive unchanged.
// The POSIX or the Windows implementation is picked by the build.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class ChildProcess {
public:
    // Starts args[0] with the arguments args[1..]. A program name without a
    // directory is searched on the path. With `output_path`, the program's
    // standard output goes to that file (created or truncated); otherwise
    // it shares this process's standard streams. Null with a reason when the
    // program cannot be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args, std::string& error,
                                               const std::string& output_path = {});

    // A program still running when its object goes is ended (Kill) and
    // waited for, so a failed test leaves no process behind.
    virtual ~ChildProcess() = default;

    // Waits up to `timeout_ms` (-1: no limit) for the program to end. True
    // when it has ended; `exit_code` is then its exit code (128 + signal
    // number for a program ended by a signal).
    virtual bool Wait(int timeout_ms, int& exit_code) = 0;
    bool Running() {
        int code = 0;
        return !Wait(0, code);
    }
    // Ends the program at once, as a crash would: no clean-up of its own
    // runs (TerminateProcess, SIGKILL). Waits until it has ended.
    virtual void Kill() = 0;
    virtual int Pid() const = 0;

private:
    // The platform's part of Start, for a non-empty program name.
    static std::unique_ptr<ChildProcess> StartProgram(const std::vector<std::string>& args, std::string& error,
                                                      const std::string& output_path);
};

// Starts a program and waits for its end: its exit code, or -1 when it
// could not be started (the reason then goes to the standard error stream).
int RunProgram(const std::vector<std::string>& args, const std::string& output_path = {});

// One argument in the form the Windows command-line parser reads back as
// exactly that argument (quotes around an argument with blanks or quotes or
// an empty one; backslashes doubled where they precede a quote).
std::string QuoteWindowsArgument(std::string_view arg);
// The whole command line of an argument vector, arguments separated by one
// blank.
std::string WindowsCommandLine(const std::vector<std::string>& args);

}  // namespace sim
