// Speed figures of the plant bus across a fleet of stations on one broker
// (the fleet harness of tests/e2e/fleet), each against a baseline of the
// same run:
//  1. one broadcast command (lock, then unlock, a key combination) until
//     every station has answered: median and p99 over the rounds, against
//     the same broadcast answered by as many bare clients (echo processes)
//     at QoS 1, in alternate rounds; target: median within 2x, 1.6x for one
//     station (also shown: bare clients answering at QoS 2, as the stations
//     do);
//  2. idle CPU of the broker and of each station's vdmqtt and vdwinut
//     (all threads, from /proc), connected, nothing changing;
//  3. sustained commands spread over the fleet (one open per station, the
//     next sent when its answer is in): answers per second, lost answers
//     (target 0), resident memory per station at start and end (flat).
// With --dialect sparkplug the stations speak Sparkplug B, and 1. and 3.
// become: 1. an NCMD on a station's disk/free/query/call until the NDATA
// that answers it, one station at a time, against the same round trip
// through one bare client (target: median within 2x); 3. the NDATA rate
// over the fleet under the same sustained calls, nothing lost (no call
// unanswered, no gap in any station's seq).
//
//   fleet_bench [--stations N] [--seconds S] [--rounds R] [--idle S] [--dialect topic|sparkplug]
//   fleet_bench --echo PORT --name NAME   (one bare client of the baseline)
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <map>

#include "bench_runtime.h"
#include "bus/sparkplug_payload.h"
#include "tests/e2e/fleet/fleet.h"

namespace {

using namespace bench;

const std::string kAnswers = "bench/answers";
constexpr int kWarmUp = 5;

// ---- a bare client: answers every message on bench/echo/all and on
// bench/echo/<its name> with its name, at QoS 1, or at QoS 2 when the
// message says "2" (the stations answer at QoS 2)
void OnEchoMessage(mosquitto* m, void* name, const mosquitto_message* in, const mosquitto_property* props) {
    char* response = nullptr;
    void* correlation = nullptr;
    std::uint16_t length = 0;
    mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false);
    mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false);
    if (response != nullptr) {
        mosquitto_property* out = nullptr;
        if (correlation != nullptr) mosquitto_property_add_binary(&out, MQTT_PROP_CORRELATION_DATA, correlation, length);
        const std::string& text = *static_cast<std::string*>(name);
        const int qos = in->payloadlen == 1 && static_cast<const char*>(in->payload)[0] == '2' ? 2 : 1;
        mosquitto_publish_v5(m, nullptr, response, static_cast<int>(text.size()), text.data(), qos, false, out);
        mosquitto_property_free_all(&out);
    }
    std::free(response);
    std::free(correlation);
}

void OnEchoConnect(mosquitto* m, void* name, int rc, int, const mosquitto_property*) {
    if (rc != 0) return;
    mosquitto_subscribe_v5(m, nullptr, "bench/echo/all", 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
    const std::string own = "bench/echo/" + *static_cast<std::string*>(name);
    mosquitto_subscribe_v5(m, nullptr, own.c_str(), 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
}

int Echo(int port, std::string name) {
    mosquitto_lib_init();
    mosquitto* m = mosquitto_new(("bench-" + name).c_str(), true, &name);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m, &OnEchoConnect);
    mosquitto_message_v5_callback_set(m, &OnEchoMessage);
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return 1;
    mosquitto_loop_forever(m, -1, 1);  // ends when the broker goes
    mosquitto_destroy(m);
    return 0;
}

struct Spread {
    double mean = 0, max = 0;
};
Spread SpreadOf(const std::vector<double>& v) {
    Spread s;
    for (double x : v) {
        s.mean += x / static_cast<double>(v.size());
        s.max = std::max(s.max, x);
    }
    return s;
}

// ---- Sparkplug: calls as NCMD, answers as NDATA
const std::string kCall = "disk/free/query/call", kCount = "disk/free/query/count";

class SparkplugWatch {
public:
    explicit SparkplugWatch(std::size_t stations) : count_alias_(stations, ~0ull), seq_(stations, -1) {}

    // An NCMD that runs the call once: its timestamp, one above the last,
    // makes each one new to the station's exactly-once rule.
    std::string Call() {
        sparkplug::Payload p;
        p.timestamp = ++stamp_;
        sparkplug::Metric& m = p.metrics.emplace_back();
        m.name = kCall;
        m.SetBoolean(true);
        return sparkplug::Encode(p);
    }
    static std::string Topic(std::size_t station, const char* kind) {
        return std::string("spBv1.0/") + fleet::kGroup + "/" + kind + "/st" + std::to_string(station + 1);
    }

    // Takes one message of the group: a birth gives the station's aliases,
    // an NDATA is counted and its seq checked. The station whose call it
    // answers, else -1.
    int Take(const BusClient::Received& m) {
        const std::size_t slash = m.topic.rfind('/');
        const std::size_t s = std::strtoul(m.topic.c_str() + slash + 3, nullptr, 10) - 1;
        const bool birth = m.topic.find("/NBIRTH/") != std::string::npos;
        sparkplug::Payload p;
        std::string error;
        if (s >= seq_.size() || (!birth && m.topic.find("/NDATA/") == std::string::npos) ||
            !sparkplug::Decode(m.payload, p, error) || !p.seq)
            return -1;
        const int seq = static_cast<int>(*p.seq);
        if (!birth && (++ndata, seq_[s] >= 0) && seq != (seq_[s] + 1) % 256) ++gaps;
        seq_[s] = seq;
        for (const sparkplug::Metric& metric : p.metrics) {
            if (birth && metric.name == kCount && metric.alias) count_alias_[s] = *metric.alias;
            if (!birth && metric.alias == count_alias_[s]) return static_cast<int>(s);
        }
        return -1;
    }
    bool AllBorn() const { return std::find(count_alias_.begin(), count_alias_.end(), ~0ull) == count_alias_.end(); }

    long ndata = 0, gaps = 0;

private:
    std::vector<std::uint64_t> count_alias_;
    std::vector<int> seq_;
    std::uint64_t stamp_ = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
};

// Resident KB of the stations' vdmqtt (bus) or vdwinut processes.
Spread Resident(const fleet::Fleet& f, bool bus) {
    std::vector<double> kb;
    for (const fleet::Station& s : f.stations) kb.push_back(static_cast<double>(RssKb((bus ? s.bus : s.task)->Pid())));
    return SpreadOf(kb);
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> o{{"stations", "50"}, {"seconds", "60"}, {"rounds", "100"}, {"idle", "10"},
                                         {"echo", ""}, {"name", ""}, {"dialect", "topic"}};
    if (!ParseOptions(argc, argv, o) || (o["dialect"] != "topic" && o["dialect"] != "sparkplug")) {
        std::fprintf(stderr, "usage: fleet_bench [--stations N] [--seconds S] [--rounds R] [--idle S] "
                             "[--dialect topic|sparkplug]\n");
        return 2;
    }
    if (!o["echo"].empty()) return Echo(std::atoi(o["echo"].c_str()), o["name"]);
    auto number = [&](const char* name) { return std::max(1, std::atoi(o[name].c_str())); };
    const int stations = number("stations"), seconds = number("seconds"), idle_s = number("idle");
    const int rounds = std::max(10, number("rounds"));
    const bool sparkplug = o["dialect"] == "sparkplug";
    const std::size_t n = static_cast<std::size_t>(stations);
    fleet::Fleet f(0, sparkplug);
    std::string error;
    const auto t0 = Clock::now();
    // In Sparkplug the caller hears the births: it connects first.
    std::unique_ptr<BusClient> caller;
    SparkplugWatch watch(n);
    if (!f.Create(stations, error) ||
        !(caller = f.Client({kAnswers, std::string("spBv1.0/") + fleet::kGroup + "/+/+"}, error)) ||
        !f.StartAll(30000 + 2000 * stations, error)) {
        std::fprintf(stderr, "the fleet did not start: %s\n", error.c_str());
        return 1;
    }
    const double start_s = std::chrono::duration<double>(Clock::now() - t0).count();
    for (auto end = Clock::now() + std::chrono::seconds(10); sparkplug && !watch.AllBorn() && Clock::now() < end;)
        for (const BusClient::Received& m : caller->Take(100)) watch.Take(m);
    std::vector<std::unique_ptr<sim::ChildProcess>> echoes;
    for (int i = 0; i < stations; ++i)
        echoes.push_back(sim::ChildProcess::Start(
            {argv[0], "--echo", std::to_string(f.broker().port()), "--name", "echo" + std::to_string(i + 1)}, error));
    std::vector<fleet::Answer> answers;
    bool ready = !sparkplug || watch.AllBorn();  // and every echo has subscribed
    bool echo_ready = false;
    for (int i = 0; i < 50 && ready && !echo_ready; ++i) {
        answers.clear();
        echo_ready = fleet::Gather(*caller, "bench/echo/all", "", kAnswers, std::to_string(i) + "ready", n, 500, answers);
    }
    const Spread b0 = Resident(f, true), w0 = Resident(f, false);

    // 1. Round trips, station and bare client in alternate rounds so that
    // both see the same load: a broadcast to all, or (Sparkplug) a call to
    // one station at a time.
    std::vector<double> echo_us, echo2_us, bus_us;
    int failed = 0;
    for (int round = 0; round < rounds + kWarmUp && echo_ready; ++round) {
        const bool counted = round >= kWarmUp;
        const std::size_t one = static_cast<std::size_t>(round) % n;
        double us = 0;
        answers.clear();
        const std::string c = std::to_string(round) + "e";
        const std::string echo = sparkplug ? "bench/echo/echo" + std::to_string(one + 1) : "bench/echo/all";
        if (!fleet::Gather(*caller, echo, "", kAnswers, c, sparkplug ? 1 : n, 10000, answers, &us)) ++failed;
        else if (counted) echo_us.push_back(us);
        answers.clear();
        if (!sparkplug && fleet::Gather(*caller, echo, "2", kAnswers, c + "2", n, 10000, answers, &us) && counted)
            echo2_us.push_back(us);
        if (sparkplug) {
            const auto sent = Clock::now();
            bool answered = caller->Publish(SparkplugWatch::Topic(one, "NCMD"), watch.Call());
            for (auto end = sent + std::chrono::seconds(10); answered && Clock::now() < end;) {
                bool in = false;
                for (const BusClient::Received& m : caller->Take(20))
                    if (watch.Take(m) == static_cast<int>(one) && !in) in = true, us = Micros(m.at - sent);
                if (in) break;
                answered = Clock::now() < end;
            }
            if (!answered) ++failed;
            else if (counted) bus_us.push_back(us);
            continue;
        }
        answers.clear();
        const std::string lock = std::string(fleet::kBroadcastPrefix) + "/keyboard/alt-tab/lock/call";
        if (!fleet::Gather(*caller, lock, round % 2 ? "0" : "1", kAnswers, std::to_string(round) + "b", n, 10000,
                           answers, &us))
            ++failed;
        else if (counted) bus_us.push_back(us);
    }
    for (auto& e : echoes) e->Kill();
    for (const BusClient::Received& m : caller->Take(200)) watch.Take(m);
    const Latency echo_l = Summarise(echo_us), echo2_l = Summarise(echo2_us), bus_l = Summarise(bus_us);

    // 2. Idle: connected, nothing changes.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<int> pids;
    for (const fleet::Station& s : f.stations) {
        pids.push_back(s.bus->Pid());
        pids.push_back(s.task->Pid());
    }
    pids.push_back(f.broker().pid());
    const std::vector<double> percent = CpuPercent(pids, idle_s);
    std::vector<double> bus_cpu, task_cpu;
    for (std::size_t s = 0; s < n; ++s) {
        bus_cpu.push_back(percent[2 * s]);
        task_cpu.push_back(percent[2 * s + 1]);
    }

    // 3. Sustained: one command open per station, the next on its answer.
    std::vector<long> sent(n, 0), got(n, 0);
    std::map<std::string, int> answered;  // correlation -> answers
    long done = 0, other = 0;
    const long ndata0 = watch.ndata, gaps0 = watch.gaps;
    auto send = [&](std::size_t s) {
        ++sent[s];
        if (sparkplug) {
            caller->Publish(SparkplugWatch::Topic(s, "NCMD"), watch.Call());
            return;
        }
        const std::string c = std::to_string(s) + "-" + std::to_string(sent[s]);
        caller->Publish(f.stations[s].prefix + "/disk/free/query/call", "", false, &kAnswers, &c);
    };
    auto take = [&](int ms, bool more) {
        for (const BusClient::Received& m : caller->Take(ms)) {
            std::size_t s = n;
            if (sparkplug) {
                const int station = watch.Take(m);
                if (station < 0) continue;
                s = static_cast<std::size_t>(station);
                ++got[s];
                ++done;
            } else {
                if (m.topic != kAnswers || ++answered[m.correlation] > 1) continue;
                (m.payload.find("\"result\":\"done\"") != std::string::npos ? done : other) += 1;
                s = std::strtoul(m.correlation.c_str(), nullptr, 10);
            }
            if (more && s < n) send(s);
        }
    };
    auto outstanding = [&] {
        long open = 0;
        for (std::size_t s = 0; s < n; ++s) open += sent[s] - (sparkplug ? got[s] : 0);
        return sparkplug ? open : open - static_cast<long>(answered.size());
    };
    for (std::size_t s = 0; s < n && ready; ++s) send(s);
    const auto s0 = Clock::now();
    while (ready && Clock::now() - s0 < std::chrono::seconds(seconds)) take(50, true);
    const double sustained_s = std::chrono::duration<double>(Clock::now() - s0).count();
    const long ndata = watch.ndata - ndata0;
    for (auto end = Clock::now() + std::chrono::seconds(6); Clock::now() < end && outstanding() > 0;) take(100, false);
    long twice = watch.gaps - gaps0, total_sent = 0;
    for (long x : sent) total_sent += x;
    for (const auto& [c, count] : answered) twice += count > 1;
    for (std::size_t s = 0; s < n; ++s) twice += std::max(0L, got[s] - sent[s]);
    const long lost = outstanding();
    const Spread b1 = Resident(f, true), w1 = Resident(f, false);
    const bool clean = f.StopAll(20000);

    const double ratio = echo_l.median > 0 ? bus_l.median / echo_l.median : 0;
    const double p99_ratio = echo_l.p99 > 0 ? bus_l.p99 / echo_l.p99 : 0;
    const double target = sparkplug || stations > 1 ? 2.0 : 1.6;
    const bool met = ratio > 0 && ratio <= target;
    const Spread bc = SpreadOf(bus_cpu), tc = SpreadOf(task_cpu);
    std::printf("fleet of %d stations (each vdwinut + vdmqtt, %s dialect), one broker; started in %.1f s\n", stations,
                sparkplug ? "Sparkplug B" : "topic", start_s);
    std::printf("%-44s %12s %12s\n",
                sparkplug ? "NCMD call until its answering NDATA" : "broadcast until all answers are in", "median us",
                "p99 us");
    std::printf("%-44s %12.0f %12.0f\n", ("  stations (" + std::to_string(bus_l.samples) + " rounds)").c_str(),
                bus_l.median, bus_l.p99);
    std::printf("%-44s %12.0f %12.0f\n", ("  bare clients (" + std::to_string(echo_l.samples) + " rounds)").c_str(),
                echo_l.median, echo_l.p99);
    std::printf("%-44s %11.2fx %11.2fx   target: median within %.1fx: %s\n", "  ratio", ratio, p99_ratio, target,
                met ? "met" : "short");
    if (!sparkplug && echo2_l.median > 0)
        std::printf("%-44s %12.0f %12.0f   (the stations' answer QoS; ratio %.2fx)\n",
                    "  bare clients answering at QoS 2", echo2_l.median, echo2_l.p99, bus_l.median / echo2_l.median);
    std::printf("%-44s %d\n", "  rounds without every answer", failed);
    std::printf("idle for %d s, CPU %%: broker %.3f; per station vdmqtt mean %.3f max %.3f, vdwinut mean %.3f max %.3f\n",
                idle_s, percent.back(), bc.mean, bc.max, tc.mean, tc.max);
    std::printf("sustained %.0f s over the fleet: %.0f answers/s (%ld done, %ld other), sent %ld, lost %ld, %s %ld %s\n",
                sustained_s, static_cast<double>(done + other) / sustained_s, done, other, total_sent, lost,
                sparkplug ? "twice or seq gaps" : "twice", twice, lost == 0 && twice == 0 ? "ok" : "LOST");
    if (sparkplug)
        std::printf("  NDATA %.0f/s over %d stations\n", static_cast<double>(ndata) / sustained_s, stations);
    std::printf("resident KB per station   %14s %14s\n", "start mean/max", "end mean/max");
    std::printf("  vdmqtt                  %7.0f/%-6.0f %7.0f/%-6.0f\n", b0.mean, b0.max, b1.mean, b1.max);
    std::printf("  vdwinut                 %7.0f/%-6.0f %7.0f/%-6.0f\n", w0.mean, w0.max, w1.mean, w1.max);
    std::printf("stopped cleanly: %s\n", clean ? "yes" : "NO");
    return (met && lost == 0 && twice == 0 && failed == 0 && clean && ready) ? 0 : 1;
}
