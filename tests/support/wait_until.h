// Waiting for another process with a bound: polls a condition.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vdtest {

// Polls `done` every `step` until it holds (true), `timeout_ms` has passed
// or `ended` holds (the other side is gone); then `done` once more.
inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms, const std::function<bool()>& ended = {},
                      std::chrono::microseconds step = std::chrono::milliseconds(20)) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end && !(ended && ended()) && !done()) std::this_thread::sleep_for(step);
    return done();
}

}  // namespace vdtest
