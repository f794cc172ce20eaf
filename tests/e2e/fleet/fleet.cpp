#include "tests/e2e/fleet/fleet.h"

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "tests/support/runtime_environment.h"

namespace fleet {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

std::int64_t Station::Int(const char* tag) const {
    sim::Value v;
    const std::int32_t index = db ? db->FindTag(tag) : -1;
    return index >= 0 && db->GetValue(static_cast<std::uint32_t>(index), v) ? v.integer : -9999;
}

bool Station::WaitInt(const char* tag, std::int64_t value, int timeout_ms) const {
    for (auto end = Clock::now() + std::chrono::milliseconds(timeout_ms); Clock::now() < end;) {
        if (Int(tag) == value) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Int(tag) == value;
}

Fleet::Fleet(Programs programs, int debug_level)
    : programs_(std::move(programs)), debug_level_(debug_level), broker_(bustest::TestBroker::Make()) {
    dir = fs::temp_directory_path() / ("vd_fleet_" + std::to_string(Clock::now().time_since_epoch().count()));
}

Fleet::~Fleet() {
    for (Station& s : stations) {
        if (s.bus) s.bus->Kill();
        if (s.task) s.task->Kill();
        s.db.reset();
    }
    broker_->Kill();
    vdtest::ClearRuntimeEnvironment();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void Fleet::SetEnvironment(const Station& s) const {
    vdtest::SetRuntimeEnvironment({(s.dir / "app").string(), (s.dir / "root").string(), "plant", "SAMPLE", "operator",
                                   (s.dir / "runtime.db").string(), (s.dir / "host").string()});
}

bool Fleet::Create(int count, std::string& error) {
    // The sample application once, with its archives built, then a copy per station.
    const fs::path sample = dir / "sample";
    fs::create_directories(sample);
    if (!vdtest::CopySampleApplication(programs_.examples, sample, programs_.ctbuild, error)) return false;
    const std::string tags = (sample / "tags.lst").string();
    if (!broker_->Start(dir, "", error)) return false;
    for (int i = 1; i <= count; ++i) {
        Station& s = stations.emplace_back();
        s.name = "st" + std::to_string(i);
        s.prefix = "SAMPLE/plant/" + s.name;
        s.dir = dir / s.name;
        fs::copy(sample, s.dir, fs::copy_options::recursive);
        std::ofstream(s.dir / "app" / "net" / "VDMQTT.ini", std::ios::trunc)
            << "[Debug]\nDebugLevel=" << debug_level_ << "\n[Broker]\nPort=" << broker_->port()
            << "\nReconnectMinMs=2000\nReconnectMaxMs=4000\n[Bus]\nStation=" << s.name << "\n";
        std::ofstream(s.dir / "app" / "net" / "VDWINUT.ini", std::ios::trunc)
            << "[Debug]\nDebugLevel=" << debug_level_ << "\n[DiskSpace]\nUseMB=1\n";
        const std::string db = (s.dir / "runtime.db").string();
        SetEnvironment(s);
        if (sim::RunProgram({programs_.vdrt, "--db", db, "create", tags}, (s.dir / "vdrt.out").string()) != 0) {
            error = "vdrt create failed for " + s.name;
            return false;
        }
        s.db = sim::Database::Open(db, error);
        if (!s.db) return false;
    }
    return true;
}

std::set<std::size_t> Fleet::All() const {
    std::set<std::size_t> all;
    for (std::size_t i = 0; i < stations.size(); ++i) all.insert(i);
    return all;
}

bool Fleet::StartAll(int timeout_ms, std::string& error) {
    std::unique_ptr<BusClient> watch = Client({"SAMPLE/plant/+/status"}, error);
    if (!watch) return false;
    auto spawn = [&](Station& s, const std::string& program, const char* out, std::unique_ptr<sim::ChildProcess>& slot) {
        SetEnvironment(s);  // the child inherits the station's variables
        slot = sim::ChildProcess::Start({program}, error, (s.dir / out).string());
        if (!slot) error = s.name + ": " + error;
        return slot != nullptr;
    };
    for (Station& s : stations)
        if (!spawn(s, programs_.vdwinut, "task.out", s.task)) return false;
    for (Station& s : stations)
        if (!spawn(s, programs_.vdmqtt, "bus.out", s.bus)) return false;
    for (const Station& s : stations) {
        if (!s.WaitInt("VDWINUT.STATUS", 1, timeout_ms)) {
            error = s.name + ": vdwinut does not run";
            return false;
        }
    }
    if (!WaitStatus(*watch, All(), "online", timeout_ms)) {
        error = "not every station came online";
        return false;
    }
    return true;
}

bool Fleet::WaitStatus(BusClient& client, const std::set<std::size_t>& which, const std::string& payload,
                       int timeout_ms) const {
    std::map<std::string, std::string> status;  // by topic, the latest
    std::set<std::string> wanted;
    for (std::size_t i : which) wanted.insert(stations[i].prefix + "/status");
    for (auto end = Clock::now() + std::chrono::milliseconds(timeout_ms); Clock::now() < end;) {
        for (const BusClient::Received& m : client.Take(50)) status[m.topic] = m.payload;
        std::size_t reached = 0;
        for (const std::string& topic : wanted) reached += status.count(topic) != 0 && status[topic] == payload;
        if (reached == wanted.size()) return true;
    }
    return false;
}

bool Fleet::StopAll(int timeout_ms) {
    bool clean = true;
    for (const char* task : {"VDMQTT", "VDWINUT"}) {
        for (Station& s : stations) {
            const TaskId id = s.db ? s.db->FindTask(task) : kNoTask;
            if (id >= 0) s.db->RequestStop(id);
        }
        for (Station& s : stations) {
            std::unique_ptr<sim::ChildProcess>& p = std::string(task) == "VDMQTT" ? s.bus : s.task;
            if (!p) continue;
            int code = -1;
            if (!p->Wait(timeout_ms, code)) p->Kill();
            clean = clean && code == 0;
            p.reset();
        }
    }
    return clean;
}

std::unique_ptr<BusClient> Fleet::Client(const std::vector<std::string>& filters, std::string& error) const {
    BusClient::Options o;
    o.port = broker_->port();
    auto client = std::make_unique<BusClient>(o);
    if (!client->Connect(10000, error)) return nullptr;
    for (const std::string& filter : filters) {
        if (!client->Subscribe(filter, 10000)) {
            error = "cannot subscribe to " + filter;
            return nullptr;
        }
    }
    return client;
}

std::string StationOf(const std::string& payload) {
    const std::string key = "\"station\":\"";
    const std::size_t at = payload.find(key);
    if (at == std::string::npos) return payload;
    const std::size_t end = payload.find('"', at + key.size());
    return payload.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

bool Gather(BusClient& client, const std::string& topic, const std::string& payload, const std::string& response_topic,
            const std::string& correlation, std::size_t expected, int timeout_ms, std::vector<Answer>& answers,
            double* micros) {
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
