#include "bus/refusal_log.h"

#include <algorithm>

RefusalLog::RefusalLog(std::chrono::milliseconds interval, std::size_t max_keys)
    : interval_(std::max(interval, std::chrono::milliseconds(1))), max_keys_(std::max<std::size_t>(1, max_keys)) {}

bool RefusalLog::Note(const std::string& topic, const std::string& reason, Time now) {
    std::pair<std::string, std::string> key(topic, reason);
    auto it = entries_.find(key);
    if (it == entries_.end() && entries_.size() >= max_keys_ - 1) {
        // The last place is the shared key of everything beyond the bound.
        key = {kOtherTopics, kOtherReasons};
        it = entries_.find(key);
    }
    if (it == entries_.end()) {
        entries_.emplace(std::move(key), Entry{now, 0});
        return true;
    }
    ++it->second.count;
    return false;
}

std::vector<RefusalLog::Summary> RefusalLog::Due(Time now, bool all) {
    std::vector<Summary> due;
    for (auto it = entries_.begin(); it != entries_.end();) {
        Entry& e = it->second;
        if (!all && now < e.since + interval_) {
            ++it;
            continue;
        }
        if (e.count == 0) {
            it = entries_.erase(it);  // a quiet interval: forgotten
            continue;
        }
        const auto span = std::chrono::duration_cast<std::chrono::seconds>(now - e.since).count();
        due.push_back({it->first.first, it->first.second, e.count, static_cast<int>(std::max<long long>(1, span))});
        e.since = now;
        e.count = 0;
        ++it;
    }
    return due;
}

RefusalLog::Time RefusalLog::NextDue() const {
    Time next = Time::max();
    for (const auto& [key, e] : entries_) next = std::min(next, e.since + interval_);
    return next;
}
