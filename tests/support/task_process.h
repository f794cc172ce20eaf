// A command run through the command processor (std::system), a task program
// run so on a thread of its own, and ending a child process
// (sim::ChildProcess) after a stop request. All work in the host build and
// under wine64.
#pragma once

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "sim/process.h"

namespace vdtest {

// std::system, with a failed start (-1: the command processor did not run,
// which wine64 does now and then while another command is running) tried
// again after a pause.
inline int RunCommand(const std::string& command) {
    int status = -1;
    for (int i = 0; i < 5 && status == -1; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        status = std::system(command.c_str());
    }
    return status;
}

class SystemProcess {
public:
    void Start(const std::string& command) {
        status_ = std::async(std::launch::async, [command] { return RunCommand(command); });
    }
    bool Started() const { return status_.valid(); }
    bool Ended() const { return Started() && status_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
    // Its status as std::system reports it, or -999 when it did not end
    // within `timeout_ms` (or was not started).
    int Exit(int timeout_ms) {
        if (!Started() || status_.wait_for(std::chrono::milliseconds(timeout_ms)) != std::future_status::ready)
            return -999;
        return status_.get();
    }

private:
    std::future<int> status_;
};

// Waits up to `timeout_ms` for `process` to end and drops it: its exit
// code, or -999 when it was not running or did not end (it is killed).
inline int EndChild(std::unique_ptr<sim::ChildProcess>& process, int timeout_ms) {
    int code = -999;
    if (process && !process->Wait(timeout_ms, code)) code = -999;
    process.reset();
    return code;
}

}  // namespace vdtest
