// The part of the stand-in kernel that differs by platform: the shared
// memory (a file mapping, or memory of this process), the database lock and
// the per-task wake-ups. The POSIX or the Windows implementation is picked
// by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// Bytes the header reserves for the platform's lock and wake-up objects.
inline constexpr std::size_t kSyncAreaSize = 4096;

class Backend {
public:
    virtual ~Backend() = default;

    virtual std::uint8_t* Base() = 0;
    virtual std::size_t Size() const = 0;

    // Prepares the lock and wake-up objects of a new database (once, by its
    // creator), or connects to those of an existing one.
    virtual bool InitSync(std::size_t sync_offset, std::uint64_t instance_id, std::string& error) = 0;
    virtual bool OpenSync(std::size_t sync_offset, std::uint64_t instance_id, std::string& error) = 0;

    // Takes the database lock; true when its previous holder died holding it
    // (the lock is then taken over and usable).
    virtual bool Lock() = 0;
    virtual void Unlock() = 0;

    // With the lock held: releases it, sleeps until Notify(slot) or the
    // timeout (-1: none), and takes it again. False on timeout. `recovered`
    // is set when the lock had to be taken over from a dead holder.
    virtual bool Wait(int slot, int timeout_ms, bool& recovered) = 0;
    // Wakes the task slot's waiter (with the lock held or just after
    // giving it up).
    virtual void Notify(int slot) = 0;
    // With the lock held: makes a task slot's wake-up fresh for a new task.
    virtual void ResetSlot(int slot) = 0;
};

// Maps an existing database file read-write, shared with other processes.
std::unique_ptr<Backend> MapDatabaseFile(const std::string& path, std::string& error);
// Zero-filled memory of this process.
std::unique_ptr<Backend> InProcessMemory(std::size_t size);

// Replaces `to` by `from` (both in one directory).
bool ReplaceDatabaseFile(const std::string& from, const std::string& to, std::string& error);

// Identifies which implementation made a database: files of the other one
// are refused.
std::uint32_t BackendFlavour();
int CurrentProcessId();
bool ProcessAlive(int pid);
std::uint64_t RandomInstanceId();

}  // namespace sim
