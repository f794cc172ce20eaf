// POSIX backend: mmap of the database file, a process-shared robust mutex
// and one process-shared condition variable per task slot, all inside the
// mapping.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "kernel/kernel.h"
#include "sim/backend.h"

namespace sim {
namespace {

struct SyncArea {
    pthread_mutex_t mutex;
    pthread_cond_t wake[kKernelMaxTasks];
};
static_assert(sizeof(SyncArea) <= kSyncAreaSize);

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void InitCond(pthread_cond_t* cond) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    std::memset(static_cast<void*>(cond), 0, sizeof *cond);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

class PosixBackend : public Backend {
public:
    PosixBackend(std::uint8_t* base, std::size_t size, bool mapped) : base_(base), size_(size), mapped_(mapped) {}
    ~PosixBackend() override {
        if (mapped_)
            ::munmap(base_, size_);
        else
            ::operator delete(base_, std::align_val_t(64));
    }

    std::uint8_t* Base() override { return base_; }
    std::size_t Size() const override { return size_; }

    bool InitSync(std::size_t offset, std::uint64_t, std::string& error) override {
        if (!Place(offset, error)) return false;
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        int rc = pthread_mutex_init(&sync_->mutex, &attr);
        pthread_mutexattr_destroy(&attr);
        if (rc != 0) {
            error = std::string("cannot create the database lock: ") + std::strerror(rc);
            return false;
        }
        for (pthread_cond_t& cond : sync_->wake) InitCond(&cond);
        return true;
    }

    bool OpenSync(std::size_t offset, std::uint64_t, std::string& error) override { return Place(offset, error); }

    bool Lock() override {
        int rc = pthread_mutex_lock(&sync_->mutex);
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(&sync_->mutex);
            return true;
        }
        if (rc != 0) {
            // Not recoverable: only possible if a holder died and nobody made
            // the mutex consistent, which this code always does.
            std::fprintf(stderr, "runtime kernel: database lock failed: %s\n", std::strerror(rc));
            std::abort();
        }
        return false;
    }

    void Unlock() override { pthread_mutex_unlock(&sync_->mutex); }

    bool Wait(int slot, int timeout_ms, bool& recovered) override {
        pthread_cond_t* cond = &sync_->wake[slot];
        int rc;
        if (timeout_ms < 0) {
            rc = pthread_cond_wait(cond, &sync_->mutex);
        } else {
            timespec deadline;
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            deadline.tv_sec += timeout_ms / 1000;
            deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
            if (deadline.tv_nsec >= 1000000000L) {
                deadline.tv_sec += 1;
                deadline.tv_nsec -= 1000000000L;
            }
            rc = pthread_cond_timedwait(cond, &sync_->mutex, &deadline);
        }
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(&sync_->mutex);
            recovered = true;
            return true;
        }
        return rc != ETIMEDOUT;
    }

    void Notify(int slot) override { pthread_cond_broadcast(&sync_->wake[slot]); }

    // A waiter that died inside the wait may have left its condition
    // variable in any state; the slot's next task gets a new one.
    void ResetSlot(int slot) override { InitCond(&sync_->wake[slot]); }

private:
    bool Place(std::size_t offset, std::string& error) {
        if (offset % 64 != 0 || offset + kSyncAreaSize > size_) {
            error = "the lock area lies outside the database";
            return false;
        }
        sync_ = reinterpret_cast<SyncArea*>(base_ + offset);
        return true;
    }

    std::uint8_t* base_;
    std::size_t size_;
    bool mapped_;
    SyncArea* sync_ = nullptr;
};

}  // namespace

std::unique_ptr<Backend> MapDatabaseFile(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = Errno(path.c_str());
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = Errno(path.c_str());
        ::close(fd);
        return nullptr;
    }
    if (st.st_size <= 0) {
        error = path + ": the file is empty";
        ::close(fd);
        return nullptr;
    }
    std::size_t size = static_cast<std::size_t>(st.st_size);
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) {
        error = Errno(path.c_str());
        return nullptr;
    }
    return std::make_unique<PosixBackend>(static_cast<std::uint8_t*>(base), size, true);
}

std::unique_ptr<Backend> InProcessMemory(std::size_t size) {
    void* base = ::operator new(size, std::align_val_t(64));
    std::memset(base, 0, size);
    return std::make_unique<PosixBackend>(static_cast<std::uint8_t*>(base), size, false);
}

bool ReplaceDatabaseFile(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = Errno(to.c_str());
        return false;
    }
    return true;
}

std::uint32_t BackendFlavour() { return 0x50534958u; }  // "POSIX"-made file

// Asked at every lock: kept, and forgotten in the child of a fork.
namespace {
std::atomic<int> cached_pid{0};
void ForgetPid() { cached_pid.store(0, std::memory_order_relaxed); }
}  // namespace

int CurrentProcessId() {
    int pid = cached_pid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, &ForgetPid);
        (void)registered;
        pid = static_cast<int>(::getpid());
        cached_pid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::uint64_t RandomInstanceId() {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(::getpid());
}

}  // namespace sim
