// Exactly once across a link drop at the worst moment: the station behind a
// relay that cuts the link right after an answer reached the broker (before
// the broker's acknowledgement reached the station), or right after a
// command reached the station (before its acknowledgement reached the
// broker). The caller, on the broker directly at QoS 2, gets one answer;
// the command runs once (the count-mode trigger counts the runs).
#include "tests/e2e/bus/bus_runtime.h"
#include "tests/e2e/bus/link_relay.h"

namespace {

using namespace bustest;
using namespace e2e;

TEST_F(BusRuntime, ALinkCutAfterTheAnswerOrTheCommandWasForwardedLeavesOneRunAndOneAnswer) {
    LinkRelay relay(broker_->port());
    ASSERT_NE(relay.port(), 0);
    BusClient::Options o = vdtest::ClientOn(broker_->port());
    o.qos = 2;
    std::string error;
    const std::string answers = "bustest/answers";
    const std::unique_ptr<BusClient> client = vdtest::ConnectClient(o, {answers, T("status")}, error);
    ASSERT_EQ(error, "");
    BusClient& c = *client;
    StartBus(kQuickRetries, true, relay.port());
    auto count = [&](const std::string& topic, const std::string& part, const std::string* correlation) {
        int n = 0;
        for (const Received& m : c.Messages())
            n += m.topic == topic && Has(m.payload, part) && (!correlation || m.correlation == *correlation) ? 1 : 0;
        return n;
    };
    // The station's n-th "online" (the retained one at the subscription is the first).
    auto online = [&](int n) {
        return c.WaitFor([&](const Received& m) { return m.topic == T("status") && m.payload == "online" && --n == 0; },
                         kWaitMs);
    };
    auto cut = [&](int n) {
        for (int i = 0; i < 500 && relay.cuts() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return relay.cuts() == n;
    };
    ASSERT_TRUE(online(1));

    // The answer's PUBLISH reached the broker; its PUBREC never reaches the station.
    const std::string first = "cut-after-answer-1";
    relay.ArmCut(true, first);
    ASSERT_TRUE(c.Publish(T("eventlog/write/call"), "one", false, &answers, &first));
    ASSERT_TRUE(WaitFor("EVT_TRIG", 1));
    ASSERT_EQ(Vdrt("set EVT_DONE 1"), 0);
    ASSERT_TRUE(cut(1)) << BusOut();
    EXPECT_TRUE(online(2)) << BusOut();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(relay.sightings(), 2);  // sent again after the reconnection
    EXPECT_EQ(count(answers, "{\"result\":\"done\",\"values\":[1]", &first), 1) << BusOut();
    EXPECT_EQ(count(answers, "\"result\"", &first), 1);

    // The command reached the station; its PUBACK never reaches the broker,
    // which delivers it again after the reconnection: a copy of the open
    // command answered by the one run's answer, or (done while the station
    // was away) of an answered one, whose answer is not sent again.
    for (const bool done_while_away : {false, true}) {
        SCOPED_TRACE(done_while_away ? "done while away" : "done after the copy");
        const int run = done_while_away ? 3 : 2;
        const std::string id = "cut-after-call-" + std::to_string(run);
        relay.ArmCut(false, id, done_while_away);
        ASSERT_TRUE(c.Publish(T("eventlog/write/call"), "two", false, &answers, &id));
        ASSERT_TRUE(cut(run)) << BusOut();
        ASSERT_TRUE(WaitFor("EVT_TRIG", run));
        if (done_while_away) {
            ASSERT_EQ(Vdrt("set EVT_DONE 1"), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the answer waits in the client
            relay.Release();
        }
        EXPECT_TRUE(online(run + 1)) << BusOut();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(relay.sightings(), 2);  // the copy is in
        if (!done_while_away) {
            ASSERT_EQ(Vdrt("set EVT_DONE 1"), 0);
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_EQ(count(answers, "{\"result\":\"done\",\"values\":[" + std::to_string(run) + "]", &id), 1)
            << BusOut();
        EXPECT_EQ(count(answers, "\"result\"", &id), 1);
        EXPECT_EQ(Int("EVT_TRIG"), run);
    }
    EXPECT_EQ(count(answers, "\"result\"", &first), 1);
}

}  // namespace
