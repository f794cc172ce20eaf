// The plant bus end to end: a real broker, the vdmqtt process (and vdwinut
// where a command needs its handler) on a runtime made by vdrt, clients on
// the bus. Tags of the sample application; topics under "test/st1".
#include "tests/e2e/bus/bus_runtime.h"

namespace {

using namespace bustest;
using namespace e2e;

TEST_F(BusRuntime, PublishesRetainedStateAtStartThenEachChange) {
    StartBus();
    // Once the bridge has published its last row, a client that comes later
    // still gets every published value, retained.
    ASSERT_TRUE(Client().WaitForTopic(T("line/alarm"), kWaitMs));
    BusClient& c = Client();
    for (auto [topic, payload] : std::vector<std::pair<std::string, std::string>>{
             {"status", "online"}, {"line/speed", "12.5"}, {"line/batch", "100234"},
             {"line/operator", "Night shift"}, {"line/alarm", "0"}, {"screensaver/timeout", "600"}}) {
        Received m;
        ASSERT_TRUE(c.WaitForTopic(T(topic), kWaitMs, &m)) << topic;
        EXPECT_EQ(m.payload, payload) << topic;
        EXPECT_TRUE(m.retained) << topic;
    }
    // A write-only row is not published.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const Received& m : c.Messages()) EXPECT_NE(m.topic, T("line/setpoint"));

    // Changes made in the runtime follow as they happen (each type's form:
    // payload_test).
    ASSERT_EQ(Vdrt("set LINE_SPEED -0.125"), 0);
    EXPECT_TRUE(WaitPayload(c, T("line/speed"), "-0.125"));
    const std::string long_text(255, 'q');
    ASSERT_EQ(Vdrt("set OPERATOR " + long_text), 0);
    EXPECT_TRUE(WaitPayload(c, T("line/operator"), long_text));  // whole, not cut at a tag object's 79
    ASSERT_EQ(Vdrt("set ALARM_LEVEL 3"), 0);
    EXPECT_TRUE(WaitPayload(c, T("line/alarm"), "3"));
    // The new value is what the broker keeps for the next client.
    BusClient& late = Client();
    Received m;
    ASSERT_TRUE(late.WaitForTopic(T("line/alarm"), kWaitMs, &m));
    EXPECT_EQ(m.payload, "3");
}

TEST_F(BusRuntime, BadMessagesAreRefusedWithTheirReasonThenWritesReachTheTags) {
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(c.WaitForTopic(T("status"), kWaitMs));
    struct Bad {
        std::string topic, payload, reason;
    };
    // One payload refusal of payload_test's table carried to the bus; the
    // refusals of the bridge itself.
    const std::vector<Bad> cases = {
        {"line/alarm/set", "3", "does not accept writes"},
        {"line/setpoint/set", "32768", "out of range for a 16-bit integer"},
        {"nothing/here/set", "1", "unknown topic"},
        {"line/speed/set/more", "1", "unknown topic"},
        {"line/speed", "5", "state topic of the bridge"},
        {"disk/free/query/call", "", "no response topic"},
    };
    for (const Bad& bad : cases) {
        c.Clear();
        ASSERT_TRUE(c.Publish(T(bad.topic), bad.payload)) << bad.topic;
        Received e;
        ASSERT_TRUE(c.WaitForTopic(T("error"), kWaitMs, &e)) << bad.topic;
        EXPECT_TRUE(Has(e.payload, "\"topic\":\"" + T(bad.topic) + "\"")) << e.payload;
        EXPECT_TRUE(Has(e.payload, bad.reason)) << bad.topic << ": " << e.payload;
        EXPECT_FALSE(e.retained);
        // The same reason as a status message of the bridge.
        EXPECT_TRUE(WaitMessage(bad.reason)) << Text("VDMQTT.MSG");
        EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
    }
    // Bad commands are answered once with the reason, and their tags stay.
    EXPECT_TRUE(Has(Call(c, T("screensaver/set-timeout/call"), "abc"), "{\"result\":\"refused\",\"reason\":\"not an integer\"}"));
    EXPECT_TRUE(Has(Call(c, T("disk/free/query/call"), "7"), "takes no value"));
    EXPECT_TRUE(Has(Call(c, T("no/such/call"), "1"), "unknown command"));

    EXPECT_EQ(Int("ALARM_LEVEL"), 0);
    EXPECT_EQ(Int("SETPOINT"), 40);
    EXPECT_EQ(Real("LINE_SPEED"), 12.5);
    EXPECT_EQ(Int("SS_SETTIME_VALUE"), 600);
    EXPECT_EQ(Int("SS_SETTIME_TRIG"), 0);
    EXPECT_EQ(Int("DISK_FREE_TRIG"), 0);

    ASSERT_TRUE(c.Publish(T("line/setpoint/set"), "-32768"));
    EXPECT_TRUE(WaitFor("SETPOINT", -32768));
    ASSERT_TRUE(c.Publish(T("line/batch/set"), "2147483647"));
    EXPECT_TRUE(WaitFor("BATCH_NO", 2147483647));
    // A written value that is published comes back as the new state.
    ASSERT_TRUE(c.Publish(T("line/speed/set"), "33.25"));
    EXPECT_TRUE(WaitPayload(c, T("line/speed"), "33.25"));
    EXPECT_EQ(Real("LINE_SPEED"), 33.25);
    ASSERT_TRUE(c.Publish(T("line/operator/set"), "Day shift: Ana"));
    EXPECT_TRUE(WaitPayload(c, T("line/operator"), "Day shift: Ana"));
    EXPECT_EQ(Text("OPERATOR"), "Day shift: Ana");
}

TEST_F(BusRuntime, CommandsThroughVdwinutAreAnsweredOnceWithTheirResults) {
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(c.WaitForTopic(T("status"), kWaitMs));

    // Pulse: the trigger goes back to 0, so the same command runs again.
    for (int i = 0; i < 2; ++i) {
        std::string answer = Call(c, T("disk/free/query/call"));
        EXPECT_TRUE(Has(answer, "\"result\":\"done\",\"values\":[" + std::to_string(Int("DISK_FREE")) + "]")) << answer;
        EXPECT_GT(Int("DISK_FREE"), 0);
        EXPECT_TRUE(WaitFor("DISK_FREE_TRIG", 0));
    }
    // The payload goes to the argument tag before the trigger.
    EXPECT_TRUE(Has(Call(c, T("screensaver/set-timeout/call"), "750"), "\"values\":[750]"));
    EXPECT_EQ(Int("SS_SETTIME_VALUE"), 750);
    EXPECT_TRUE(Has(Call(c, T("screensaver/query-timeout/call")), "\"result\":\"done\",\"values\":[750]"));
    if (kHostChecks) {
        // Value mode: the payload is the trigger value (lock, then unlock).
        std::string answer = Call(c, T("keyboard/alt-tab/lock/call"), "1");
        EXPECT_TRUE(Has(answer, "\"values\":[1]")) << answer;
        answer = Call(c, T("keyboard/alt-tab/lock/call"), "0");
        EXPECT_TRUE(Has(answer, "\"values\":[0]")) << answer;
        // Count mode: every command changes the trigger, the text goes first.
        EXPECT_TRUE(Has(Call(c, T("eventlog/write/call"), "Bus says hello"), "\"values\":[1]"));
        EXPECT_TRUE(Has(Call(c, T("eventlog/write/call"), "Bus says hello"), "\"values\":[2]"));
        ASSERT_EQ(Vdrt("eventlog"), 0);
        const std::string events = ReadFile(dir_ / "vdrt.out");
        EXPECT_NE(events.find("Bus says hello"), events.rfind("Bus says hello")) << events;
    } else {
        std::printf("[  NOTE    ] keyboard lock and event log commands not checked: %s\n", kNoHostChecks);
    }

    // An MQTT 3.1.1 client asks on <topic>/call/<id> and hears on
    // <topic>/reply/<id>, once.
    BusClient& old = Client(4);
    ASSERT_TRUE(old.Publish(T("disk/free/query/call/req-7"), ""));
    Received answer;
    ASSERT_TRUE(old.WaitForTopic(T("disk/free/query/reply/req-7"), kWaitMs, &answer));
    EXPECT_TRUE(Has(answer.payload, "\"result\":\"done\"")) << answer.payload;
    EXPECT_EQ(Count(old, T("disk/free/query/reply/req-7"), "\"result\""), 1);

    // A command nobody handles is answered with the timeout, once.
    const std::string timeout = Call(c, T("line/ping/call"));
    EXPECT_TRUE(Has(timeout, "{\"result\":\"timeout\",\"values\":[]")) << timeout;
    EXPECT_TRUE(WaitMessage("line/ping/call ended without done: timeout"));
    EXPECT_EQ(Count(c, "", "\"result\":\"timeout\""), 1);
}

// The test sets the done tag; the count-mode trigger counts the runs. (An
// MQTT 3.1.1 command's id is its topic: command_ledger_test.)
TEST_F(BusRuntime, ACopyOfACommandRunsNothingAndGetsTheFirstAnswerWhileAnotherIdIsBusy) {
    StartBus();
    BusClient& c = Client();
    const std::string answers = "bustest/answers", id = "dup-1", other = "other-2";
    ASSERT_TRUE(c.Subscribe(answers, kWaitMs));
    ASSERT_TRUE(c.WaitForTopic(T("status"), kWaitMs));
    auto call = [&](const char* payload, const std::string& correlation) {
        ASSERT_TRUE(c.Publish(T("eventlog/write/call"), payload, false, &answers, &correlation));
    };
    auto nth = [&](const std::string& correlation, int n) {  // the n-th answer to `correlation`
        Received m;
        c.WaitFor([&](const Received& r) { return r.topic == answers && r.correlation == correlation && --n == 0; },
                  kWaitMs, &m);
        return m.payload;
    };
    call("first", id);
    ASSERT_TRUE(WaitFor("EVT_TRIG", 1));
    call("first", id);       // a copy of the open command: not busy, not run
    call("second", other);   // another id: busy
    EXPECT_TRUE(Has(nth(other, 1), "busy"));
    ASSERT_EQ(Vdrt("set EVT_DONE 1"), 0);
    const std::string first = nth(id, 1);
    EXPECT_TRUE(Has(first, "{\"result\":\"done\",\"values\":[1]")) << first;
    call("first", id);       // a copy after the answer: the stored answer at once
    EXPECT_EQ(nth(id, 2), first);
    EXPECT_EQ(Count(c, answers, "\"result\""), 3);  // busy, first, copy
    EXPECT_EQ(Int("EVT_TRIG"), 1);
}

TEST_F(BusRuntime, AnswersNeverGoToTheStationsOwnOrTheBroadcastTopics) {
    StartBus(kQuickRetries, true, 0, "BroadcastPrefix=test/all\n");
    BusClient& c = Client();
    ASSERT_TRUE(c.Subscribe("test/all/#", kWaitMs));
    ASSERT_TRUE(c.WaitForTopic(T("line/alarm"), kWaitMs));
    const std::string correlation = "r1";
    for (const std::string& reply : {T("line/speed"), std::string("test/all/keyboard/alt-tab/lock/call")}) {
        c.Clear();
        ASSERT_TRUE(c.Publish(T("line/ping/call"), "", false, &reply, &correlation));
        Received e;
        ASSERT_TRUE(c.WaitForTopic(T("error"), kWaitMs, &e));
        EXPECT_TRUE(Has(e.payload, "the response topic lies under the station's or the broadcast prefix")) << e.payload;
        EXPECT_EQ(Count(c, reply, ""), 0) << reply;
    }
    EXPECT_EQ(Int("PING_TRIG"), 0);
}

TEST_F(BusRuntime, ForgedStateIsReplacedSoALateSubscriberReadsTheTrueValues) {
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(c.WaitForTopic(T("line/alarm"), kWaitMs));
    c.Clear();
    ASSERT_TRUE(c.Publish(T("error"), "forged", true));  // not a state topic: deleted
    ASSERT_TRUE(c.Publish(T("line/speed"), "999", true));
    ASSERT_TRUE(c.Publish(T("status"), "offline", true));
    EXPECT_TRUE(WaitPayload(c, T("status"), "online"));  // corrected in order: the others are too
    BusClient& late = Client();
    Received speed, status;
    ASSERT_TRUE(late.WaitForTopic(T("line/speed"), kWaitMs, &speed) && late.WaitForTopic(T("status"), kWaitMs, &status));
    EXPECT_EQ(speed.payload + " " + status.payload, "12.5 online");
    EXPECT_EQ(Count(late, T("error"), "forged"), 0);
}

TEST_F(BusRuntime, ManyRefusalsAddAFewLogLinesWhileTheErrorTopicGetsEachOne) {
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(c.WaitForTopic(T("status"), kWaitMs));
    const fs::path log = LogFile().parent_path() / "VDMQTT.log";
    auto lines = [&] { const std::string t = ReadFile(log); return std::count(t.begin(), t.end(), '\n'); };
    const auto before = lines();
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(c.Publish(T("line/alarm/set"), std::to_string(i)));
    int errors = 0;
    EXPECT_TRUE(c.WaitFor([&](const Received& m) { return m.topic == T("error") && ++errors == 500; }, 3 * kWaitMs));
    EXPECT_LE(lines() - before, 2) << ReadFile(log);
    EXPECT_EQ(StopBus(), 0);
    EXPECT_TRUE(Has(ReadFile(log), "499 more bus messages on test/st1/line/alarm/set refused: the tag does not accept writes"));
}

// The answer of a command that timed out while the broker was away is sent
// once after the reconnection.
TEST_F(BusRuntime, ABrokerRestartIsFollowedByReconnectResubscribeRepublishAndTheOpenAnswer) {
    // Slow retries: the client below is subscribed before the bridge is back.
    StartBus("ReconnectMinMs=2000\nReconnectMaxMs=4000\n");
    const std::string answers = "bustest/answers", correlation = "open-1";
    {
        BusClient& c = Client();
        ASSERT_TRUE(WaitPayload(c, T("status"), "online"));
        ASSERT_TRUE(c.Publish(T("line/ping/call"), "", false, &answers, &correlation));
        ASSERT_TRUE(WaitFor("PING_TRIG", 1));
    }
    clients_.clear();
    const int port = broker_->port();
    broker_->Kill();
    EXPECT_TRUE(WaitMessage("Connection to the broker lost")) << Text("VDMQTT.MSG");
    EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
    EXPECT_TRUE(WaitFor("PING_TRIG", 0));
    // Changed while the broker is away; the new broker keeps nothing.
    ASSERT_EQ(Vdrt("set LINE_SPEED 99.5"), 0);
    std::string error;
    ASSERT_TRUE(broker_->Start(dir_, "", error, port)) << error;

    BusClient& c = Client();
    ASSERT_TRUE(c.Subscribe(answers, kWaitMs));
    EXPECT_TRUE(WaitPayload(c, T("status"), "online"));
    EXPECT_TRUE(WaitPayload(c, T("line/speed"), "99.5"));
    EXPECT_TRUE(WaitPayload(c, T("line/operator"), "Night shift"));
    EXPECT_TRUE(WaitMessage("Running"));
    EXPECT_EQ(Int("VDMQTT.STATUS"), 1);
    ASSERT_TRUE(c.WaitForTopic(answers, kWaitMs));
    EXPECT_EQ(Count(c, answers, "\"result\":\"timeout\""), 1);
    // Subscribed again: writes arrive.
    ASSERT_TRUE(c.Publish(T("line/setpoint/set"), "77"));
    EXPECT_TRUE(WaitFor("SETPOINT", 77));
}

TEST_F(BusRuntime, AKilledBridgeShowsOfflineThroughItsLastWillAndAStopPublishesItOnce) {
    // wine may keep a killed program's socket open a while: the shortest
    // keepalive lets the broker notice the death either way (kWillWaitMs).
    const std::string keys = std::string(kQuickRetries) + "KeepAlive=5\n";
    StartBus(keys);
    BusClient& c = Client();
    ASSERT_TRUE(WaitPayload(c, T("status"), "online"));
    bus_->Kill();
    bus_.reset();
    EXPECT_TRUE(WaitPayload(c, T("status"), "offline", kWillWaitMs));
    Received m;
    ASSERT_TRUE(Client().WaitForTopic(T("status"), kWaitMs, &m));
    EXPECT_EQ(m.payload, "offline");
    EXPECT_TRUE(m.retained);

    c.Clear();
    StartBus(keys);
    ASSERT_TRUE(WaitPayload(c, T("status"), "online"));
    EXPECT_EQ(StopBus(), 0);
    EXPECT_TRUE(WaitPayload(c, T("status"), "offline"));
    EXPECT_EQ(Int("VDMQTT.STATUS"), 0);
    EXPECT_EQ(Text("VDMQTT.MSG"), "Stopped");
    // An orderly stop is not a death: the broker sends no will on top.
    EXPECT_EQ(Count(c, T("status"), "offline"), 1);
}

// A broker with a user and an access list: station1 may read the prefix
// and write only its status.
class SecuredBus : public BusRuntime {
protected:
    void SetUp() override {
        if (std::string(VD_MOSQUITTO_PASSWD).empty())
            GTEST_SKIP() << "no mosquitto_passwd this program can run (under wine it is a Linux program)";
        BusRuntime::SetUp();
    }

    std::string BrokerExtra() override {
        const std::string passwd = (dir_ / "passwd").string();
        EXPECT_EQ(sim::RunProgram({VD_MOSQUITTO_PASSWD, "-c", "-b", passwd, "station1", "secret"}), 0);
        std::ofstream(dir_ / "acl") << "user station1\ntopic read test/st1/#\ntopic write test/st1/status\n";
        return "allow_anonymous false\npassword_file " + passwd + "\nacl_file " + (dir_ / "acl").string() + "\n";
    }
};

// A wrong password is reported with the broker's reason (growing pauses
// between tries: the TLS and takeover tests).
TEST_F(SecuredBus, AWrongPasswordIsReportedAndMessagesTheAccessListRefusesOncePerTopic) {
    StartBus(std::string(kQuickRetries) + "User=station1\nPassword=wrong\n", false);
    EXPECT_TRUE(WaitMessage("Broker refused the connection")) << Text("VDMQTT.MSG");
    EXPECT_TRUE(Has(Text("VDMQTT.MSG"), "Not authorized")) << Text("VDMQTT.MSG");
    EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
    EXPECT_EQ(StopBus(), 0);
    // station1 may not write the state topics: each refused topic is
    // reported once, the status still goes out. (The broker's access list
    // does not refuse subscriptions: it only filters what it delivers.)
    std::ofstream(dir_ / "pwfile") << "secret\n";
    StartBus(std::string(kQuickRetries) + "User=station1\nPasswordFile=" + (dir_ / "pwfile").string() + "\n", false);
    BusClient::Options o = vdtest::ClientOn(broker_->port());
    o.user = "station1";
    o.password = "secret";
    std::string error;
    const std::unique_ptr<BusClient> reader = vdtest::ConnectClient(o, {T("#")}, error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(WaitPayload(*reader, T("status"), "online"));
    EXPECT_TRUE(WaitMessage("Broker refused a message on test/st1/")) << Text("VDMQTT.MSG");
    for (const Received& m : reader->Messages()) EXPECT_EQ(m.topic, T("status"));
    // The log line may follow the message tag by a moment.
    std::string out;
    std::size_t first = std::string::npos;
    vdtest::WaitUntil([&] {
        first = (out = BusOut()).find("refused a message on test/st1/line/speed");
        return first != std::string::npos;
    }, kWaitMs);
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_EQ(Vdrt("set LINE_SPEED 1.5"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(BusOut().find("refused a message on test/st1/line/speed", first + 1), std::string::npos);
}

}  // namespace
