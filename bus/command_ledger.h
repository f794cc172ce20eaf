// The bridge's memory of the commands it has taken, so that no command runs
// twice: a command's id (its key) is looked up before anything else, and a
// copy of a command (a QoS 1 redelivery, a caller's retry) runs nothing. A
// copy of an open command is answered by the first run's answer, which goes
// to the same destination; a copy of an answered one gets the stored answer
// again at once.
//
// A finished command's key and answer are kept for max(60 s, 2 x the row's
// timeout) after its answer. The table holds at most `max_keys` keys and
// `max_bytes` bytes of keys and answers; when it is full, the finished keys
// that were answered first go first. Open keys never go (there is at most one
// per command row, plus the message being handled).
//
// Not thread-safe: the caller holds its own lock. Times are passed in.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "bus/mqtt_session.h"

// The key of a command message: for MQTT 5 the command topic, response
// topic and correlation data; for MQTT 3.1.1 the full topic, which ends in
// "call/<id>". Empty when the message carries no id (MQTT 5 without
// correlation data on "<topic>/call"): such a command is not checked for
// copies.
std::string CommandKey(const BusMessage& message, bool topic_has_id);

// Why a command that the broker kept while the station was away is not
// run: it may have waited there longer than its timeout. Empty when it may
// run (not queued, or queued for at most `timeout_ms`; see BusMessage).
std::string StaleQueuedReason(bool queued, std::int64_t queued_max_ms, std::uint32_t timeout_ms);

// How long a finished command's key is kept: max(60 s, 2 x timeout).
std::chrono::milliseconds LedgerWindow(std::uint32_t timeout_ms);

class CommandLedger {
public:
    using Time = std::chrono::steady_clock::time_point;

    static constexpr std::size_t kDefaultMaxKeys = 10000;
    static constexpr std::size_t kDefaultMaxBytes = std::size_t{16} << 20;

    explicit CommandLedger(std::size_t max_keys = kDefaultMaxKeys, std::size_t max_bytes = kDefaultMaxBytes);

    enum class Seen { kNew, kOpen, kAnswered };
    // Looks `key` up at `now` (keys whose window has passed are forgotten
    // first). kNew: the key is now open, the caller runs the command and
    // calls Finish. kAnswered: the stored answer is in *answer.
    Seen Take(const std::string& key, Time now, std::string* answer);
    // Stores the answer of an open key, kept for `window` from `now`.
    void Finish(const std::string& key, std::string answer, Time now, std::chrono::milliseconds window);

    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        bool open = true;
        std::string answer;
        Time expires{};
        std::uint64_t order = 0;  // finish order, for making room
    };
    using Entries = std::map<std::string, Entry, std::less<>>;

    void Forget(Entries::iterator it);
    void Expire(Time now);
    std::size_t Bytes(const Entries::value_type& e) const { return e.first.size() + e.second.answer.size(); }

    std::size_t max_keys_, max_bytes_;
    std::size_t bytes_ = 0;
    std::uint64_t next_order_ = 0;
    Entries entries_;
    std::map<std::uint64_t, Entries::iterator> finished_;  // by finish order
    std::multimap<Time, Entries::iterator> expiry_;
};
