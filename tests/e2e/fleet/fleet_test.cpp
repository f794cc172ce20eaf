// The plant bus across a fleet of five stations on one broker: broadcasts
// reach every station and are answered once by each, naming it; each
// station's own commands and state stay its own; bad broadcast prefixes.
// In the Sparkplug dialect, under an independent host that follows the
// whole group: every birth, writes to each node, and one node killed.
// (A broker restart and a killed bridge's last will: bus_test.)
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "tests/e2e/fleet/fleet.h"
#include "tests/e2e/sparkplug/sparkplug_host.h"

namespace {

using fleet::Answer;

constexpr int kStations = 5;
constexpr int kWaitMs = 20000;
const std::string kAnswers = "fleettest/answers";
const std::string kLock = "/keyboard/alt-tab/lock/call";
const std::string kAll = std::string(fleet::kBroadcastPrefix) + kLock;

using vdtest::Has;

class FleetRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(fleet_.Create(kStations, error)) << error;
        BeforeStart();
        ASSERT_TRUE(fleet_.StartAll(kWaitMs, error)) << error;
        caller_ = fleet_.Client({kAnswers, fleet_.PresenceFilter()}, error);
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

    fleet::Fleet fleet_;
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
    EXPECT_TRUE(fleet_.WaitPresence(*caller_, false, kWaitMs));
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

class SparkplugFleet : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bustest::SparkplugHost::Unavailable().empty()) GTEST_SKIP() << bustest::SparkplugHost::Unavailable();
        std::string error;
        ASSERT_TRUE(fleet_.Create(kStations, error)) << error;
        ASSERT_TRUE(host_.Start(fleet_.broker(), fleet_.dir / "host.out", fleet::kGroup, "+", "fleethost", error))
            << error;
        ASSERT_TRUE(fleet_.StartAll(kWaitMs, error)) << error;
    }
    // A write of line/setpoint to station `i`, until its tag holds it and
    // the host has its NDATA.
    void Write(std::size_t i, int value) {
        const fleet::Station& s = fleet_.stations[i];
        ASSERT_TRUE(host_.Do(bustest::SparkplugHost::Write("line/setpoint", "Int16", std::to_string(value), i % 2, s.name)));
        EXPECT_TRUE(s.WaitInt("SETPOINT", value, kWaitMs)) << s.name;
        EXPECT_FALSE(host_.Event("NDATA", "\"node\":\"" + s.name + "\"").empty()) << s.name;
    }

    fleet::Fleet fleet_{1, true};
    bustest::SparkplugHost host_;
};

TEST_F(SparkplugFleet, TheHostAdoptsEveryStationAndAKilledOneDiesWhileTheOthersKeepReporting) {
    std::set<std::string> born;
    for (int i = 0; i < kStations; ++i) {
        const std::string birth = host_.Event("NBIRTH");
        const std::size_t at = birth.find("\"node\":\"st");
        ASSERT_NE(at, std::string::npos) << birth;
        born.insert(birth.substr(at + 8, birth.find('"', at + 8) - at - 8));
    }
    EXPECT_EQ(born.size(), std::size_t{kStations});
    for (std::size_t i = 0; i < fleet_.stations.size(); ++i) Write(i, 101 + 7 * static_cast<int>(i));

    // The host checks the death's bdSeq against the birth's, and each
    // node's seq over every NDATA.
    fleet_.stations[2].bus.reset();  // killed
    EXPECT_FALSE(host_.Event("NDEATH", "\"node\":\"st3\"").empty());
    for (std::size_t i = 0; i < fleet_.stations.size(); ++i)
        if (i != 2) Write(i, -201 - static_cast<int>(i));
    EXPECT_EQ(fleet_.stations[2].Int("SETPOINT"), 115);
    EXPECT_TRUE(fleet_.StopAll(kWaitMs));
    for (int i = 0; i < kStations - 1; ++i) EXPECT_FALSE(host_.Event("NDEATH").empty());
}

}  // namespace
