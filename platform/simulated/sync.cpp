// Synchronisation and threads on the simulated host: process-local
// counting semaphores over a mutex and a condition variable.
#include "platform/sync.h"
#include "platform/fault_points.h"
#include "platform/test_hooks.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/error.h"
#include "platform/simulated/host_object.h"

namespace win {
namespace host {
namespace {

class Semaphore final : public HostObject {
public:
    Semaphore(LONG initial, LONG maximum) : count_(initial), maximum_(maximum) {}

    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> hold(mutex_);
        auto ready = [this] { return count_ > 0; };
        if (milliseconds == INFINITE) {
            changed_.wait(hold, ready);
        } else if (!changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), ready)) {
            return WAIT_TIMEOUT;
        }
        --count_;
        return WAIT_OBJECT_0;
    }

    bool Release(LONG amount, LONG* previous) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (amount > maximum_ - count_) return false;
        if (previous != nullptr) *previous = count_;
        count_ += amount;
        changed_.notify_all();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    LONG count_;
    LONG maximum_;
};

}  // namespace

}  // namespace host

HANDLE sys::CreateSemaphoreA(const SECURITY_ATTRIBUTES*, LONG initial_count, LONG maximum_count, LPCSTR name) {
    if (maximum_count < 1 || initial_count < 0 || initial_count > maximum_count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (name != nullptr && *name != '\0') {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return static_cast<host::HostObject*>(new host::Semaphore(initial_count, maximum_count));
}

BOOL sys::ReleaseSemaphore(HANDLE semaphore, LONG release_count, LONG* previous_count) {
    auto* object = host::As<host::Semaphore>(semaphore);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (release_count <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!object->Release(release_count, previous_count)) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    return TRUE;
}

DWORD sys::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    host::HostObject* object = host::FromHandle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
}

DWORD GetCurrentThreadId() {
    thread_local DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
    return id;
}

void Sleep(DWORD milliseconds) {
    VD_TEST_CLOCK_SLEEP(milliseconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace win
