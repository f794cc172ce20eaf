// The plant bus in its Sparkplug B dialect end to end: the vdmqtt process
// (and vdwinut for a command's handler) on a runtime made by vdrt, a real
// broker, and an independent primary host (host.js, on npm's Sparkplug B
// codec) that checks bdSeq, seq, aliases, types and timestamps of every
// message and reports each one decoded.
#include "tests/e2e/bus/bus_runtime.h"
#include "tests/e2e/sparkplug/sparkplug_host.h"

namespace {

using namespace bustest;
using namespace e2e;

// wine may keep a killed program's socket open a while: the shortest
// keepalive lets the broker notice the death either way.
const std::string kKeepAlive = std::string(kQuickRetries) + "KeepAlive=5\n";
const char* kSparkplug = "[Sparkplug]\nEnabled=1\nGroupId=plant\nEdgeNodeId=st1\nPrimaryHostId=vdhost\n";

class SparkplugBus : public BusRuntime {
protected:
    void SetUp() override {
        if (!SparkplugHost::Unavailable().empty()) GTEST_SKIP() << SparkplugHost::Unavailable();
        BusRuntime::SetUp();
    }
    void TearDown() override {
        host_.reset();
        BusRuntime::TearDown();  // the host goes with the broker
    }

    void StartHost() {
        std::string error;
        host_ = std::make_unique<SparkplugHost>();
        ASSERT_TRUE(host_->Start(*broker_, dir_ / "host.out", "plant", "st1", "vdhost", error)) << error;
    }
    std::string Event(const std::string& type, const std::string& part = "", int wait_ms = kWaitMs) {
        return host_->Event(type, part, wait_ms);
    }
    void Do(const std::string& request) { ASSERT_TRUE(host_->Do(request)) << request; }
    static std::string Write(const std::string& name, const std::string& type, const std::string& value,
                             bool by_alias = false) {
        return SparkplugHost::Write(name, type, value, by_alias);
    }

    std::unique_ptr<SparkplugHost> host_;
};

TEST_F(SparkplugBus, AHostAdoptsTheStationFromItsBirthAndFollowsWritesAndCommands) {
    StartTask();
    StartHost();
    StartBus(kKeepAlive, true, 0, kSparkplug);
    std::string birth = Event("NBIRTH");
    ASSERT_FALSE(birth.empty());
    EXPECT_TRUE(Has(birth, "\"line/speed\":12.5,")) << birth;
    EXPECT_TRUE(Has(birth, "\"line/setpoint\":40,")) << birth;
    EXPECT_TRUE(Has(birth, "\"line/operator\":\"Night shift\"")) << birth;
    EXPECT_TRUE(Has(birth, "\"Node Control/Rebirth\":false")) << birth;
    EXPECT_TRUE(Has(birth, "\"disk/free/query/count\":0")) << birth;
    EXPECT_TRUE(Has(birth, "\"bdSeq\":0")) << birth;

    ASSERT_EQ(Vdrt("set LINE_SPEED -99.5"), 0);
    EXPECT_FALSE(Event("NDATA", "\"line/speed\":-99.5").empty());
    // Writes by name and by alias; a negative one through the host's codec.
    Do(Write("line/setpoint", "Int16", "77"));
    EXPECT_TRUE(WaitFor("SETPOINT", 77));
    EXPECT_FALSE(Event("NDATA", "\"line/setpoint\":77").empty());
    Do(Write("line/setpoint", "Int16", "-5", true));
    EXPECT_TRUE(WaitFor("SETPOINT", -5));
    EXPECT_FALSE(Event("NDATA", "\"line/setpoint\":-5").empty());
    // Refused writes change nothing and say why, with the true value.
    for (const auto& [request, reason] : std::vector<std::pair<std::string, std::string>>{
             {Write("line/setpoint", "String", "\"x\""), "line/setpoint: wrong datatype String"},
             {Write("line/setpoint", "Int16", "70000"), "line/setpoint: out of range for Int16"},
             {Write("line/setpoint", "Int16", "null"), "line/setpoint: no value"}}) {
        Do(request);
        const std::string e = Event("NDATA", reason);
        EXPECT_TRUE(Has(e, "\"line/setpoint\":-5")) << e;
    }
    Do(Write("line/alarm", "Int16", "2"));
    EXPECT_FALSE(Event("NDATA", "line/alarm: the tag does not accept writes").empty());
    Do("{\"raw\":\"12ff01\"}");
    EXPECT_FALSE(Event("NDATA", "NCMD: not a Sparkplug B payload").empty());
    EXPECT_EQ(Int("SETPOINT"), -5);

    // A command answered by vdwinut: one NDATA with all of its metrics.
    Do(Write("disk/free/query/call", "Boolean", "true"));
    std::string answer = Event("NDATA", "\"disk/free/query/result\":\"done\"");
    EXPECT_TRUE(Has(answer, "\"disk/free/query/value1\":" + std::to_string(Int("DISK_FREE")) + ",")) << answer;
    EXPECT_TRUE(Has(answer, "\"disk/free/query/reason\":\"\"")) << answer;
    EXPECT_TRUE(Has(answer, "\"disk/free/query/count\":1")) << answer;
    EXPECT_TRUE(Has(answer, "\"disk/free/query/ms\":")) << answer;
    // Nobody answers the ping within its 300 ms; a false call runs nothing.
    Do(Write("line/ping/call", "Boolean", "true"));
    EXPECT_FALSE(Event("NDATA", "\"line/ping/result\":\"timeout\"").empty());
    Do(Write("line/ping/call", "Boolean", "false"));
    answer = Event("NDATA", "\"line/ping/result\":\"refused\"");
    EXPECT_TRUE(Has(answer, "false runs nothing") && Has(answer, "\"line/ping/count\":2")) << answer;

    // A rebirth keeps bdSeq and what the commands answered.
    Do(Write("Node Control/Rebirth", "Boolean", "true"));
    birth = Event("NBIRTH");
    EXPECT_TRUE(Has(birth, "\"bdSeq\":0") && Has(birth, "\"disk/free/query/count\":1")) << birth;
    // seq wraps (the host checks each one; its burst ends with the last NDATA).
    Do("{\"burst\":{\"name\":\"line/setpoint\",\"type\":\"Int16\",\"from\":1000,\"count\":260}}");
    EXPECT_EQ(Int("SETPOINT"), 1259);

    // Killed: the will; back: a new bdSeq; stopped: the death first.
    bus_->Kill();
    bus_.reset();
    EXPECT_FALSE(Event("NDEATH", "\"bdSeq\":0", kWillWaitMs).empty());
    StartBus(kKeepAlive, true, 0, kSparkplug);
    EXPECT_FALSE(Event("NBIRTH", "\"bdSeq\":1").empty());
    EXPECT_EQ(StopBus(), 0);
    EXPECT_FALSE(Event("NDEATH", "\"bdSeq\":1").empty());
}

TEST_F(SparkplugBus, ThePrimaryHostsStateGatesTheBirthAndOneOutageGivesOneReconnect) {
    // The last run's bdSeq was 255: this one wraps.
    vdtest::WriteFile(LogFile().parent_path() / "VDMQTT.bdseq", "255\n");
    StartBus(kQuickRetries, true, 0, kSparkplug);
    StartHost();  // after the station: its birth waits for the host
    ASSERT_FALSE(Event("NBIRTH", "\"bdSeq\":0").empty());
    // The host's death as its will would say it (the birth's timestamp):
    // the station dies and reconnects once, and waits for the host again.
    Do("{\"state\":\"offline\"}");
    EXPECT_FALSE(Event("NDEATH", "\"bdSeq\":0").empty());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    { const std::string e = Event("NDEATH", "", 0); EXPECT_TRUE(e.empty()) << "a second reconnection" << e; }
    Do("{\"state\":\"online\",\"fresh\":true}");
    EXPECT_FALSE(Event("NBIRTH", "\"bdSeq\":1").empty());
}

// Without a second registration both threads share the task's id: a birth
// (every tag read under the publication lock) and a change the main thread
// publishes must not wait for each other.
TEST_F(SparkplugBus, WithoutASecondRegistrationWritesAndRebirthsInTurnAllGoThrough) {
    StartHost();
    StartBus(kKeepAlive, true, 0, std::string(kSparkplug) + "[Task]\nDriver2Ids=0\n");
    ASSERT_FALSE(Event("NBIRTH").empty());
    EXPECT_TRUE(WaitMessage("No second registration")) << Text("VDMQTT.MSG");
    const std::string rebirth = "{\"name\":\"Node Control/Rebirth\",\"type\":\"Boolean\",\"value\":true}";
    for (int i = 1; i <= 100; ++i)
        Do("{\"ncmd\":[{\"name\":\"line/setpoint\",\"type\":\"Int16\",\"value\":" + std::to_string(i) + "}," +
           rebirth + "]}");
    EXPECT_TRUE(WaitFor("SETPOINT", 100));
    EXPECT_FALSE(Event("NBIRTH", "\"line/setpoint\":100,").empty());
}

TEST_F(SparkplugBus, AnIdWithATopicCharacterKeepsTheStationOffTheBroker) {
    StartHost();
    StartBus(kQuickRetries, false, 0, "[Sparkplug]\nEnabled=1\nEdgeNodeId=st/1\n");
    EXPECT_TRUE(WaitMessage("EdgeNodeId=st/1 is empty or holds")) << Text("VDMQTT.MSG");
    EXPECT_TRUE(Event("NBIRTH", "", 1000).empty());
    EXPECT_EQ(Int("VDMQTT.STATUS"), 2) << "not running normally while off the broker";
}

}  // namespace
