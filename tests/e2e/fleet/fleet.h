// A fleet of stations on one machine, for the fleet test and the fleet
// benchmark: one broker on a free loopback port and, per station, a folder
// of its own with the sample application, its runtime (vdrt create), its
// simulated host, its station name ("st1", "st2", ...: prefix
// SAMPLE/plant/stN, broadcasts under SAMPLE/plant/all), and its vdwinut
// and vdmqtt processes. In the Sparkplug dialect each station is edge node
// stN of group "plant". Every process started here is ended when the fleet
// goes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/process.h"
#include "tests/e2e/bus/test_broker.h"
#include "tests/support/bus_test_client.h"
#include "tests/support/runtime_folder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/task_process.h"

namespace fleet {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr const char* kBroadcastPrefix = "SAMPLE/plant/all";
inline constexpr const char* kGroup = "plant";  // the Sparkplug group

struct Station : vdtest::RuntimeFolder {
    std::string name, prefix;
    std::unique_ptr<sim::ChildProcess> task, bus;
};

// An answer to a command: who gave it, the correlation it carried, its payload.
struct Answer {
    std::string station, correlation, payload;
};

class Fleet {
public:
    // The programs of the build (VD_VDRT, ...) on the sample application;
    // the stations speak Sparkplug B when `sparkplug` is set.
    explicit Fleet(int debug_level = 1, bool sparkplug = false) : debug_level_(debug_level), sparkplug_(sparkplug) {}
    ~Fleet() {
        stations.clear();  // kills what still runs
        broker_->Kill();
        vdtest::ClearRuntimeEnvironment();
    }

    // The broker and `count` stations, created but not started: the sample
    // application built once, then a copy per station.
    bool Create(int count, std::string& error) {
        const fs::path sample = dir / "sample";
        fs::create_directories(sample);
        if (!vdtest::CopySampleApplication(VD_EXAMPLES, sample, VD_CTBUILD, error) ||
            !broker_->Start(dir, "", error))
            return false;
        for (int i = 1; i <= count; ++i) {
            Station& s = stations.emplace_back();
            s.name = "st" + std::to_string(i);
            s.prefix = "SAMPLE/plant/" + s.name;
            s.dir = dir / s.name;
            fs::copy(sample, s.dir, fs::copy_options::recursive);
            std::ofstream(s.dir / "app" / "net" / "VDMQTT.ini", std::ios::trunc)
                << "[Debug]\nDebugLevel=" << debug_level_ << "\n[Broker]\nPort=" << broker_->port()
                << "\nReconnectMinMs=2000\nReconnectMaxMs=4000\n[Bus]\nStation=" << s.name << "\n"
                << (sparkplug_ ? std::string("[Sparkplug]\nEnabled=1\nGroupId=") + kGroup + "\n" : "");
            std::ofstream(s.dir / "app" / "net" / "VDWINUT.ini", std::ios::trunc)
                << "[Debug]\nDebugLevel=" << debug_level_ << "\n[DiskSpace]\nUseMB=1\n";
            if (!s.CreateRuntime(VD_VDRT, error)) return false;
        }
        return true;
    }

    // Starts every station's vdwinut, then every vdmqtt, and waits until
    // each task runs and each station is online (WaitPresence).
    bool StartAll(int timeout_ms, std::string& error) {
        std::unique_ptr<BusClient> watch = Client({PresenceFilter()}, error);
        auto fail = [&](const std::string& why) { return error = why, false; };
        if (!watch) return false;
        for (const bool bus : {false, true}) {
            for (Station& s : stations) {
                std::unique_ptr<sim::ChildProcess>& p = bus ? s.bus : s.task;
                s.SetEnvironment();  // the child inherits the station's variables
                p = sim::ChildProcess::Start({bus ? VD_VDMQTT : VD_VDWINUT}, error,
                                             (s.dir / (bus ? "bus.out" : "task.out")).string());
                if (!p) return fail(s.name + ": " + error);
            }
        }
        for (const Station& s : stations)
            if (!s.WaitInt("VDWINUT.STATUS", 1, timeout_ms)) return fail(s.name + ": vdwinut does not run");
        if (!WaitPresence(*watch, true, timeout_ms)) return fail("not every station came online");
        return true;
    }

    // Stop requests to every process; true when each ended with code 0
    // within the time (the others are killed).
    bool StopAll(int timeout_ms) {
        bool clean = true;
        for (const bool bus : {true, false}) {
            for (Station& s : stations) s.RequestStop(bus ? "VDMQTT" : "VDWINUT");
            for (Station& s : stations) {
                std::unique_ptr<sim::ChildProcess>& p = bus ? s.bus : s.task;
                clean = (!p || vdtest::EndChild(p, timeout_ms) == 0) && clean;
            }
        }
        return clean;
    }

    // A connected MQTT 5 client, subscribed to `filters`; null on failure.
    std::unique_ptr<BusClient> Client(const std::vector<std::string>& filters, std::string& error) const {
        std::unique_ptr<BusClient> client = vdtest::ConnectClient(vdtest::ClientOn(broker_->port()), filters, error);
        return error.empty() ? std::move(client) : nullptr;
    }

    // Where the stations say whether they are online: their retained
    // status, in Sparkplug their births and deaths.
    std::string PresenceFilter() const {
        return sparkplug_ ? std::string("spBv1.0/") + kGroup + "/+/+" : "SAMPLE/plant/+/status";
    }
    // Waits until every station is `online` (or offline) by its latest
    // message on `client` (subscribed to PresenceFilter(); every message
    // it receives meanwhile is taken).
    bool WaitPresence(BusClient& client, bool online, int timeout_ms) const {
        std::map<std::string, bool> latest;  // by station name
        const std::string group = std::string("spBv1.0/") + kGroup + "/";
        auto reached = [&] {
            for (const BusClient::Received& m : client.Take(50)) {
                const std::size_t slash = m.topic.rfind('/');
                const std::string kind = m.topic.substr(0, slash), last = m.topic.substr(slash + 1);
                if (!sparkplug_ && last == "status")
                    latest[kind.substr(kind.rfind('/') + 1)] = m.payload == "online";
                else if (sparkplug_ && (kind == group + "NBIRTH" || kind == group + "NDEATH"))
                    latest[last] = kind == group + "NBIRTH";
            }
            for (const Station& s : stations)
                if (latest.count(s.name) == 0 || latest[s.name] != online) return false;
            return true;
        };
        return vdtest::WaitUntil(reached, timeout_ms, {}, std::chrono::microseconds(0));
    }

    bustest::TestBroker& broker() { return *broker_; }
    std::vector<Station> stations;
    const vdtest::ScratchDir scratch{"vd_fleet_"};
    const fs::path dir = scratch.Dir();

private:
    int debug_level_;
    bool sparkplug_;
    const std::unique_ptr<bustest::TestBroker> broker_ = bustest::TestBroker::Make();
};

// The "station" of a JSON answer, else the whole payload.
inline std::string StationOf(const std::string& payload) {
    const std::string key = "\"station\":\"";
    const std::size_t at = payload.find(key);
    if (at == std::string::npos) return payload;
    const std::size_t end = payload.find('"', at + key.size());
    return payload.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

// Publishes one MQTT 5 command on `topic` with `response_topic` and
// `correlation`, then appends every message on `response_topic` to
// `answers` until `expected` distinct stations have answered with that
// correlation (true) or `timeout_ms` passed. Microseconds to the last of
// them in *micros. A station names itself in its JSON ("station"); a
// bare echo answers with its name alone.
inline bool Gather(BusClient& client, const std::string& topic, const std::string& payload,
                   const std::string& response_topic, const std::string& correlation, std::size_t expected,
                   int timeout_ms, std::vector<Answer>& answers, double* micros = nullptr) {
    const Clock::time_point start = Clock::now();
    if (!client.Publish(topic, payload, false, &response_topic, &correlation)) return false;
    std::set<std::string> seen;
    Clock::time_point last = start;
    for (auto end = start + std::chrono::milliseconds(timeout_ms); seen.size() < expected && Clock::now() < end;) {
        for (BusClient::Received& m : client.Take(20)) {
            if (m.topic != response_topic) continue;
            Answer a{StationOf(m.payload), m.correlation, std::move(m.payload)};
            if (a.correlation == correlation && seen.insert(a.station).second) last = m.at;
            answers.push_back(std::move(a));
        }
    }
    if (micros != nullptr) *micros = std::chrono::duration<double, std::micro>(last - start).count();
    return seen.size() >= expected;
}

}  // namespace fleet
