// How refused bus messages reach the status message and the log without
// growing it without bound: the first refusal of a topic and reason is
// reported in full, the next ones of that key only counted, and each
// interval with a count gives one summary line. A key whose interval passes
// without a refusal is forgotten (its next refusal is reported in full
// again). At most `max_keys` keys are kept; beyond them every refusal shares
// one key "other topics".
//
// Not thread-safe: the caller holds its own lock. Times are passed in.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RefusalLog {
public:
    using Time = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::milliseconds kDefaultInterval{60000};
    static constexpr std::size_t kDefaultMaxKeys = 256;
    static constexpr const char* kOtherTopics = "other topics";
    static constexpr const char* kOtherReasons = "various reasons";

    explicit RefusalLog(std::chrono::milliseconds interval = kDefaultInterval, std::size_t max_keys = kDefaultMaxKeys);

    // A refusal at `now`: true when it is to be reported in full.
    bool Note(const std::string& topic, const std::string& reason, Time now);

    struct Summary {
        std::string topic, reason;
        int count = 0;
        int seconds = 0;  // the span the count covers
    };
    // The summaries of the intervals that have ended at `now` (all of them
    // when `all`, e.g. at a stop); those keys start a new interval.
    std::vector<Summary> Due(Time now, bool all = false);
    // When Due has something next (max(): nothing counted).
    Time NextDue() const;

private:
    struct Entry {
        Time since{};  // start of the current interval
        int count = 0;  // refusals not yet reported in it
    };
    std::chrono::milliseconds interval_;
    std::size_t max_keys_;
    std::map<std::pair<std::string, std::string>, Entry> entries_;
};
