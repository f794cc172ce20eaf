// A fleet of stations on one machine, for the fleet test and the fleet
// benchmark: one broker on a free loopback port and, per station, a folder
// of its own with the sample application, its runtime (vdrt create), its
// simulated host, its station name ("st1", "st2", ...: prefix
// SAMPLE/plant/stN, broadcasts under SAMPLE/plant/all), and its vdwinut
// and vdmqtt processes. Every process started here is ended when the fleet
// goes.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/vdbus/bus_client.h"
#include "sim/process.h"
#include "sim/sim.h"
#include "tests/e2e/bus/test_broker.h"

namespace fleet {

namespace fs = std::filesystem;

inline constexpr const char* kBroadcastPrefix = "SAMPLE/plant/all";

struct Programs {
    std::string vdrt, ctbuild, vdwinut, vdmqtt;
    fs::path examples;  // the sample application: app/, root/, tags.lst
};

struct Station {
    std::string name, prefix;
    fs::path dir;
    std::unique_ptr<sim::Database> db;
    std::unique_ptr<sim::ChildProcess> task, bus;

    std::int64_t Int(const char* tag) const;  // -9999 when unreadable
    bool WaitInt(const char* tag, std::int64_t value, int timeout_ms) const;
};

// An answer to a command: who gave it, the correlation it carried, its payload.
struct Answer {
    std::string station, correlation, payload;
};

class Fleet {
public:
    explicit Fleet(Programs programs, int debug_level = 1);
    ~Fleet();

    // The broker and `count` stations, created but not started.
    bool Create(int count, std::string& error);
    // Starts every station's vdwinut, then every vdmqtt, and waits until
    // each task runs and each station's retained status is "online".
    bool StartAll(int timeout_ms, std::string& error);
    // Stop requests to every process; true when each ended with code 0
    // within the time (the others are killed).
    bool StopAll(int timeout_ms);

    // A connected MQTT 5 client, subscribed to `filters`.
    std::unique_ptr<BusClient> Client(const std::vector<std::string>& filters, std::string& error) const;
    // Waits until the status of every station in `which` (indexes) reads
    // `payload` on `client` (subscribed to "SAMPLE/plant/+/status"; every
    // message it receives meanwhile is taken).
    bool WaitStatus(BusClient& client, const std::set<std::size_t>& which, const std::string& payload,
                    int timeout_ms) const;
    std::set<std::size_t> All() const;

    bustest::TestBroker& broker() { return *broker_; }
    std::vector<Station> stations;
    fs::path dir;

private:
    void SetEnvironment(const Station& s) const;

    Programs programs_;
    int debug_level_;
    std::unique_ptr<bustest::TestBroker> broker_;
};

// Publishes one MQTT 5 command on `topic` with `response_topic` and
// `correlation`, then appends every message on `response_topic` to
// `answers` until `expected` distinct stations have answered with that
// correlation (true) or `timeout_ms` passed. Microseconds to the last of
// them in *micros. A station names itself in its JSON ("station"); a
// bare echo answers with its name alone.
bool Gather(BusClient& client, const std::string& topic, const std::string& payload, const std::string& response_topic,
            const std::string& correlation, std::size_t expected, int timeout_ms, std::vector<Answer>& answers,
            double* micros = nullptr);

// The "station" of a JSON answer, else the whole payload.
std::string StationOf(const std::string& payload);

}  // namespace fleet
