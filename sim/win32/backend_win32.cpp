// Windows backend: a file mapping of the database file, a named mutex as the
// database lock (an abandoned mutex is taken over) and one named auto-reset
// event per task slot. The names derive from the database's instance id.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "kernel/kernel.h"
#include "sim/backend.h"

namespace sim {
namespace {

std::string SystemError(const std::string& what) {
    return what + ": Windows error " + std::to_string(static_cast<unsigned long>(::GetLastError()));
}

class WinBackend : public Backend {
public:
    WinBackend(std::uint8_t* base, std::size_t size, HANDLE mapping) : base_(base), size_(size), mapping_(mapping) {}
    ~WinBackend() override {
        for (HANDLE& h : events_)
            if (h != nullptr) ::CloseHandle(h);
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
        if (mapping_ != nullptr) {
            ::UnmapViewOfFile(base_);
            ::CloseHandle(mapping_);
        } else {
            ::operator delete(base_, std::align_val_t(64));
        }
    }

    std::uint8_t* Base() override { return base_; }
    std::size_t Size() const override { return size_; }

    bool InitSync(std::size_t, std::uint64_t id, std::string& error) override { return Connect(id, error); }
    bool OpenSync(std::size_t, std::uint64_t id, std::string& error) override { return Connect(id, error); }

    bool Lock() override {
        DWORD rc = ::WaitForSingleObject(mutex_, INFINITE);
        if (rc == WAIT_ABANDONED) return true;
        if (rc != WAIT_OBJECT_0) {
            std::fprintf(stderr, "runtime kernel: database lock failed (%lu)\n",
                         static_cast<unsigned long>(::GetLastError()));
            std::abort();
        }
        return false;
    }

    void Unlock() override { ::ReleaseMutex(mutex_); }

    bool Wait(int slot, int timeout_ms, bool& recovered) override {
        ::ReleaseMutex(mutex_);
        DWORD rc = ::WaitForSingleObject(events_[slot], timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
        if (Lock()) recovered = true;
        return rc == WAIT_OBJECT_0;
    }

    void Notify(int slot) override { ::SetEvent(events_[slot]); }
    void ResetSlot(int slot) override { ::ResetEvent(events_[slot]); }

private:
    bool Connect(std::uint64_t id, std::string& error) {
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "vdkernel_%016llx", static_cast<unsigned long long>(id));
        // A database of this process only gets unnamed objects.
        bool named = mapping_ != nullptr;
        std::string name = std::string(prefix) + "_lock";
        mutex_ = ::CreateMutexA(nullptr, FALSE, named ? name.c_str() : nullptr);
        if (mutex_ == nullptr) {
            error = SystemError("cannot create the database lock");
            return false;
        }
        for (int i = 0; i < kKernelMaxTasks; ++i) {
            std::string ev = std::string(prefix) + "_task" + std::to_string(i);
            events_[i] = ::CreateEventA(nullptr, FALSE, FALSE, named ? ev.c_str() : nullptr);
            if (events_[i] == nullptr) {
                error = SystemError("cannot create a task wake-up event");
                return false;
            }
        }
        return true;
    }

    std::uint8_t* base_;
    std::size_t size_;
    HANDLE mapping_;
    HANDLE mutex_ = nullptr;
    HANDLE events_[kKernelMaxTasks] = {};
};

}  // namespace

std::unique_ptr<Backend> MapDatabaseFile(const std::string& path, std::string& error) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemError(path);
        return nullptr;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        error = path + ": the file is empty";
        ::CloseHandle(file);
        return nullptr;
    }
    HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    ::CloseHandle(file);
    if (mapping == nullptr) {
        error = SystemError(path);
        return nullptr;
    }
    void* base = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (base == nullptr) {
        error = SystemError(path);
        ::CloseHandle(mapping);
        return nullptr;
    }
    return std::make_unique<WinBackend>(static_cast<std::uint8_t*>(base), static_cast<std::size_t>(size.QuadPart),
                                        mapping);
}

std::unique_ptr<Backend> InProcessMemory(std::size_t size) {
    void* base = ::operator new(size, std::align_val_t(64));
    std::memset(base, 0, size);
    return std::make_unique<WinBackend>(static_cast<std::uint8_t*>(base), size, nullptr);
}

bool ReplaceDatabaseFile(const std::string& from, const std::string& to, std::string& error) {
    if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = SystemError(to + " (is the runtime in use?)");
        return false;
    }
    return true;
}

std::uint32_t BackendFlavour() { return 0x57494E33u; }  // "WIN3"-made file

int CurrentProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD rc = ::WaitForSingleObject(process, 0);
    ::CloseHandle(process);
    return rc == WAIT_TIMEOUT;
}

std::uint64_t RandomInstanceId() {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ ::GetCurrentProcessId() ^ ::GetTickCount();
}

}  // namespace sim
