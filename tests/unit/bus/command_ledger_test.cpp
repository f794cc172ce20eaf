// The ledger of command ids and the refusal log, on times passed in.
#include <gtest/gtest.h>

#include <string>

#include "bus/command_ledger.h"
#include "bus/refusal_log.h"

namespace {

using Seen = CommandLedger::Seen;
using std::chrono::milliseconds;
const CommandLedger::Time t0{};

TEST(BusCommandLedger, ACopyOfAnOpenOrAnsweredCommandIsSeenUntilItsWindowEndsAndTheTableIsBounded) {
    CommandLedger ledger;
    std::string answer;
    EXPECT_EQ(ledger.Take("k", t0, &answer), Seen::kNew);
    EXPECT_EQ(ledger.Take("k", t0 + milliseconds(10), &answer), Seen::kOpen);
    ledger.Finish("k", "first", t0 + milliseconds(100), LedgerWindow(300));
    EXPECT_EQ(ledger.Take("k", t0 + milliseconds(60099), &answer), Seen::kAnswered);
    EXPECT_EQ(answer, "first");
    EXPECT_EQ(ledger.Take("k", t0 + milliseconds(60100), &answer), Seen::kNew);
    // The window: 60 s, or twice a longer timeout.
    EXPECT_EQ(LedgerWindow(29999), milliseconds(60000));
    EXPECT_EQ(LedgerWindow(45000), milliseconds(90000));

    // Full: the first answered go first, open ones stay.
    CommandLedger full(3);
    for (const char* k : {"open", "b", "c"}) full.Take(k, t0, nullptr);
    full.Finish("c", "C", t0, LedgerWindow(0));
    full.Finish("b", "B", t0 + milliseconds(1), LedgerWindow(0));
    EXPECT_EQ(full.Take("d", t0 + milliseconds(2), nullptr), Seen::kNew);  // "c" made room
    EXPECT_EQ(full.Take("open", t0 + milliseconds(2), nullptr), Seen::kOpen);
    EXPECT_EQ(full.Take("b", t0 + milliseconds(2), nullptr), Seen::kAnswered);
    EXPECT_EQ(full.Take("c", t0 + milliseconds(2), nullptr), Seen::kNew);
}

TEST(BusCommandLedger, KeysAndStaleQueuedCommands) {
    BusMessage m;
    m.topic = "p/x/call/7";
    EXPECT_EQ(CommandKey(m, true), "p/x/call/7");
    m.response_topic = "r";
    EXPECT_EQ(CommandKey(m, false), "");  // MQTT 5 without correlation: no id

    EXPECT_EQ(StaleQueuedReason(false, 301, 300), "");  // not queued
    EXPECT_EQ(StaleQueuedReason(true, 301, 301), "");
    EXPECT_NE(StaleQueuedReason(true, 301, 300).find("queued at the broker while the station was offline (up to 301 ms"),
              std::string::npos);
}

TEST(BusRefusalLog, TheFirstIsReportedThenACountPerIntervalAndBeyondTheBoundOneSharedKey) {
    RefusalLog log(milliseconds(60000), 3);
    EXPECT_TRUE(log.Note("a", "bad", t0));
    EXPECT_TRUE(log.Note("a", "worse", t0));  // a reason of its own
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(log.Note("a", "bad", t0 + milliseconds(i)));
    EXPECT_TRUE(log.Note("c", "x", t0));    // the shared key's first
    EXPECT_FALSE(log.Note("d", "y", t0));   // counted under it
    EXPECT_TRUE(log.Due(t0 + milliseconds(59999)).empty());
    const auto due = log.Due(t0 + milliseconds(60000));
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].topic + due[0].reason + std::to_string(due[0].count) + "/" + std::to_string(due[0].seconds),
              "abad4/60");
    EXPECT_EQ(due[1].topic + std::to_string(due[1].count), std::string(RefusalLog::kOtherTopics) + "1");
    EXPECT_FALSE(log.Note("a", "bad", t0 + milliseconds(60001)));
    EXPECT_EQ(log.Due(t0 + milliseconds(61000), true).at(0).count, 1);  // a stop reports what is counted
    EXPECT_TRUE(log.Due(t0 + milliseconds(130000)).empty());  // quiet: forgotten, the next one in full
    EXPECT_TRUE(log.Note("a", "bad", t0 + milliseconds(130001)));
}

}  // namespace
