#include "bus/command_ledger.h"

#include <algorithm>
#include <cstdint>

std::string CommandKey(const BusMessage& message, bool topic_has_id) {
    if (message.response_topic.empty()) return topic_has_id ? message.topic : std::string();
    if (!message.has_correlation && !topic_has_id) return {};
    // Zero bytes cannot occur in topics: the parts cannot run into each other.
    std::string key = message.topic;
    key += '\0';
    key += message.response_topic;
    key += '\0';
    if (message.has_correlation) key += "c" + message.correlation;
    return key;
}

std::string StaleQueuedReason(bool queued, std::int64_t queued_max_ms, std::uint32_t timeout_ms) {
    if (!queued || queued_max_ms <= static_cast<std::int64_t>(timeout_ms)) return {};
    const std::string waited = queued_max_ms == INT64_MAX ? std::string("for an unknown time")
                                                          : "up to " + std::to_string(queued_max_ms) + " ms";
    return "queued at the broker while the station was offline (" + waited + ", longer than the command's timeout of " +
           std::to_string(timeout_ms) + " ms): not run";
}

std::chrono::milliseconds LedgerWindow(std::uint32_t timeout_ms) {
    return std::max(std::chrono::milliseconds(60000), 2 * std::chrono::milliseconds(timeout_ms));
}

CommandLedger::CommandLedger(std::size_t max_keys, std::size_t max_bytes)
    : max_keys_(std::max<std::size_t>(1, max_keys)), max_bytes_(max_bytes) {}

void CommandLedger::Forget(Entries::iterator it) {
    if (!it->second.open) {
        finished_.erase(it->second.order);
        auto [from, to] = expiry_.equal_range(it->second.expires);
        for (auto e = from; e != to; ++e) {
            if (e->second == it) {
                expiry_.erase(e);
                break;
            }
        }
    }
    bytes_ -= Bytes(*it);
    entries_.erase(it);
}

void CommandLedger::Expire(Time now) {
    while (!expiry_.empty() && expiry_.begin()->first <= now) Forget(expiry_.begin()->second);
}

CommandLedger::Seen CommandLedger::Take(const std::string& key, Time now, std::string* answer) {
    Expire(now);
    auto it = entries_.find(key);
    if (it != entries_.end()) {
        if (it->second.open) return Seen::kOpen;
        if (answer != nullptr) *answer = it->second.answer;
        return Seen::kAnswered;
    }
    // Room for the new key: the finished keys answered first go first.
    while (!finished_.empty() && (entries_.size() >= max_keys_ || bytes_ + key.size() > max_bytes_))
        Forget(finished_.begin()->second);
    it = entries_.emplace(key, Entry{}).first;
    bytes_ += Bytes(*it);
    return Seen::kNew;
}

void CommandLedger::Finish(const std::string& key, std::string answer, Time now, std::chrono::milliseconds window) {
    auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.open) return;
    bytes_ += answer.size();
    it->second.answer = std::move(answer);
    it->second.open = false;
    it->second.expires = now + window;
    it->second.order = next_order_++;
    finished_.emplace(it->second.order, it);
    expiry_.emplace(it->second.expires, it);
    // Over the byte bound with the answer: older finished keys make room.
    while (bytes_ > max_bytes_ && finished_.size() > 1) {
        auto oldest = finished_.begin()->second;
        if (oldest == it) break;
        Forget(oldest);
    }
}
