// A task program run through the command processor (std::system) on a
// thread of its own, and ending a child process (sim::ChildProcess) after a
// stop request. Both work in the host build and under wine64.
#pragma once

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>

#include "sim/process.h"

namespace vdtest {

class SystemProcess {
public:
    void Start(const std::string& command) {
        status_ = std::async(std::launch::async, [command] { return std::system(command.c_str()); });
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
