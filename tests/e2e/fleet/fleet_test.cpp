// The plant bus across a fleet of five stations on one broker: broadcasts
// reach every station and are answered once by each, naming it; each
// station's own commands and state stay its own; a broker restart, a
// killed station, bad broadcast prefixes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "tests/e2e/fleet/fleet.h"

namespace {

using fleet::Answer;

constexpr int kStations = 5;
constexpr int kWaitMs = 20000;
const std::string kAnswers = "fleettest/answers";
const std::string kLock = "/keyboard/alt-tab/lock/call";
const std::string kAll = std::string(fleet::kBroadcastPrefix) + kLock;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class FleetRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(fleet_.Create(kStations, error)) << error;
        BeforeStart();
        ASSERT_TRUE(fleet_.StartAll(kWaitMs, error)) << error;
        caller_ = fleet_.Client({kAnswers, "SAMPLE/plant/+/status"}, error);
        ASSERT_TRUE(caller_) << error;
    }
    virtual void BeforeStart() {}

    // A command answered on kAnswers: every answer until `expected`
    // stations have answered, then those of `settle_ms` more (a second
    // answer of anyone would be in).
    std::vector<Answer> Send(const std::string& topic, const std::string& payload, const std::string& correlation,
                             int expected, int settle_ms = 500) {
        std::vector<Answer> answers;
        EXPECT_TRUE(fleet::Gather(*caller_, topic, payload, kAnswers, correlation, expected, kWaitMs, answers)) << topic;
        for (BusClient::Received& m : caller_->Take(settle_ms))
            if (m.topic == kAnswers) answers.push_back({fleet::StationOf(m.payload), m.correlation, m.payload});
        return answers;
    }

    static std::set<std::string> Stations(const std::vector<Answer>& answers) {
        std::set<std::string> stations;
        for (const Answer& a : answers) stations.insert(a.station);
        return stations;
    }

    fleet::Fleet fleet_{{VD_VDRT, VD_CTBUILD, VD_VDWINUT, VD_VDMQTT, VD_EXAMPLES}};
    std::unique_ptr<BusClient> caller_;
};

TEST_F(FleetRuntime, ABroadcastIsAnsweredOnceByEveryStationAndOwnCommandsStaySeparate) {
    const std::vector<Answer> answers = Send(kAll, "1", "b1", kStations);
    for (const Answer& a : answers) {
        EXPECT_EQ(a.correlation, "b1");
        EXPECT_TRUE(Has(a.payload, "{\"result\":\"done\",\"values\":[1]")) << a.payload;
    }
    EXPECT_EQ(answers.size(), std::size_t{kStations});
    const std::set<std::string> stations = Stations(answers);
    for (const fleet::Station& s : fleet_.stations) {
        EXPECT_EQ(stations.count(s.prefix), 1u) << s.prefix;
        EXPECT_EQ(s.Int("KB_TAB_STATE"), 1) << s.name;
    }

    // MQTT 3.1.1: the call on .../call/<id>, each answer on the station's own reply topic.
    BusClient::Options o;
    o.port = fleet_.broker().port();
    o.protocol = 4;
    BusClient old(o);
    std::string error;
    ASSERT_TRUE(old.Connect(kWaitMs, error)) << error;
    ASSERT_TRUE(old.Subscribe("SAMPLE/plant/+/keyboard/alt-tab/lock/reply/r9", kWaitMs));
    ASSERT_TRUE(old.Publish(kAll + "/r9", "0"));
    std::map<std::string, std::string> replies;  // topic -> payload
    for (int i = 0; i < 100 && replies.size() < std::size_t{kStations}; ++i)
        for (const BusClient::Received& m : old.Take(100)) replies[m.topic] = m.payload;
    ASSERT_EQ(replies.size(), std::size_t{kStations});
    for (const fleet::Station& s : fleet_.stations) {
        const std::string& reply = replies[s.prefix + "/keyboard/alt-tab/lock/reply/r9"];
        EXPECT_TRUE(Has(reply, "\"values\":[0]")) << reply;
        EXPECT_EQ(fleet::StationOf(reply), s.prefix);
        EXPECT_EQ(s.Int("KB_TAB_STATE"), 0) << s.name;
    }

    // A row not marked for broadcasts does not hear them.
    caller_->Take(0);
    ASSERT_TRUE(caller_->Publish(std::string(fleet::kBroadcastPrefix) + "/disk/free/query/call", "", false, &kAnswers));
    EXPECT_TRUE(caller_->Take(500).empty());

    // Each station's own command: its own value, in its own runtime only.
    for (std::size_t i = 0; i < fleet_.stations.size(); ++i) {
        const std::string value = std::to_string(301 + 7 * i);
        const auto own = Send(fleet_.stations[i].prefix + "/screensaver/set-timeout/call", value, value, 1, 0);
        ASSERT_EQ(own.size(), 1u);
        EXPECT_TRUE(Has(own[0].payload, "\"values\":[" + value + "]")) << own[0].payload;
        EXPECT_FALSE(Has(own[0].payload, "station")) << own[0].payload;
    }
    for (std::size_t i = 0; i < fleet_.stations.size(); ++i)
        EXPECT_EQ(fleet_.stations[i].Int("SS_SETTIME_VALUE"), static_cast<std::int64_t>(301 + 7 * i));

    EXPECT_TRUE(fleet_.StopAll(kWaitMs));
    EXPECT_TRUE(fleet_.WaitStatus(*caller_, fleet_.All(), "offline", kWaitMs));
}

TEST_F(FleetRuntime, ABrokerRestartMidRunLeavesEveryCommandAnsweredExactlyOnce) {
    std::map<std::string, std::vector<std::string>> answers;  // correlation -> payloads
    auto collect = [&](BusClient& c, int ms) {
        for (const BusClient::Received& m : c.Take(ms))
            if (m.topic == kAnswers) answers[m.correlation].push_back(m.payload);
    };
    auto send = [&](BusClient& c, const std::string& topic, const std::string& tag) {
        for (std::size_t i = 0; i < fleet_.stations.size(); ++i) {
            const std::string correlation = tag + std::to_string(i);
            ASSERT_TRUE(c.Publish(fleet_.stations[i].prefix + topic, "", false, &kAnswers, &correlation));
        }
    };
    send(*caller_, "/disk/free/query/call", "before");
    for (int i = 0; i < 100 && answers.size() < std::size_t{kStations}; ++i) collect(*caller_, 100);
    // Commands nobody handles (300 ms to their timeout): the broker goes
    // while they are open, their answers are sent after the reconnection.
    send(*caller_, "/line/ping/call", "open");
    for (const fleet::Station& s : fleet_.stations) ASSERT_TRUE(s.WaitInt("PING_TRIG", 1, kWaitMs)) << s.name;
    fleet_.broker().Kill();
    for (const fleet::Station& s : fleet_.stations) EXPECT_TRUE(s.WaitInt("PING_TRIG", 0, kWaitMs)) << s.name;
    std::string error;
    ASSERT_TRUE(fleet_.StartBroker(error)) << error;
    // Subscribed before the stations are back (they wait two seconds first).
    std::unique_ptr<BusClient> after = fleet_.Client({kAnswers}, error);
    std::unique_ptr<BusClient> status = fleet_.Client({"SAMPLE/plant/+/status"}, error);
    ASSERT_TRUE(after && status) << error;
    ASSERT_TRUE(fleet_.WaitStatus(*status, fleet_.All(), "online", kWaitMs));
    send(*after, "/disk/free/query/call", "after");
    for (int i = 0; i < 100 && answers.size() < 3 * std::size_t{kStations}; ++i) collect(*after, 100);
    collect(*after, 500);  // a second answer of anyone would be in
    collect(*caller_, 0);
    std::string seen;
    for (const auto& [correlation, payloads] : answers)
        for (const std::string& p : payloads) seen += correlation + ": " + p + "\n";
    for (const std::string tag : {"before", "open", "after"}) {
        for (std::size_t i = 0; i < fleet_.stations.size(); ++i) {
            const std::vector<std::string>& got = answers[tag + std::to_string(i)];
            ASSERT_EQ(got.size(), 1u) << tag << i << "\n" << seen;
            EXPECT_TRUE(Has(got[0], tag == "open" ? "\"result\":\"timeout\"" : "\"result\":\"done\"")) << got[0];
        }
    }
    EXPECT_EQ(answers.size(), 3 * std::size_t{kStations});
    for (const fleet::Station& s : fleet_.stations) EXPECT_TRUE(s.WaitInt("VDMQTT.STATUS", 1, kWaitMs)) << s.name;
}

TEST_F(FleetRuntime, AKilledStationShowsOfflineByItsLastWillAndTheOthersStillAnswer) {
    fleet_.stations[2].bus->Kill();
    EXPECT_TRUE(fleet_.WaitStatus(*caller_, {2}, "offline", kWaitMs));
    const std::vector<Answer> answers = Send(kAll, "1", "k1", kStations - 1);
    EXPECT_EQ(answers.size(), std::size_t{kStations - 1});
    EXPECT_EQ(Stations(answers).size(), std::size_t{kStations - 1});
    EXPECT_EQ(Stations(answers).count(fleet_.stations[2].prefix), 0u);
    EXPECT_EQ(fleet_.stations[2].Int("KB_TAB_STATE"), 0);  // nothing reached its runtime
}

// Station 1's broadcast prefix is its own prefix: it takes no broadcasts,
// else its own commands would arrive twice. Station 2's holds a wildcard:
// the default is used.
class FleetWithBadBroadcastPrefixes : public FleetRuntime {
    void BeforeStart() override {
        std::ofstream(fleet_.stations[0].dir / "app/net/VDMQTT.ini", std::ios::app) << "BroadcastPrefix=SAMPLE/plant/st1\n";
        std::ofstream(fleet_.stations[1].dir / "app/net/VDMQTT.ini", std::ios::app) << "BroadcastPrefix=SAMPLE/+/all\n";
    }
};

TEST_F(FleetWithBadBroadcastPrefixes, AnOverlappingOneIsOffAndAWildcardFallsBackToTheDefault) {
    const std::set<std::string> stations = Stations(Send(kAll, "1", "w1", kStations - 1));
    EXPECT_EQ(stations.size(), std::size_t{kStations - 1});
    EXPECT_EQ(stations.count(fleet_.stations[0].prefix), 0u);
    EXPECT_EQ(stations.count(fleet_.stations[1].prefix), 1u);
    const std::vector<Answer> own = Send(fleet_.stations[0].prefix + kLock, "1", "own", 1);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_TRUE(Has(own[0].payload, "{\"result\":\"done\",\"values\":[1]")) << own[0].payload;
}

}  // namespace
