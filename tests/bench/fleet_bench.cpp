// Speed figures of the plant bus across a fleet of stations on one broker
// (the fleet harness of tests/e2e/fleet), each against a baseline of the
// same run:
//  1. one broadcast command (lock, then unlock, a key combination) until
//     every station has answered: median and p99 over the rounds, against
//     the same broadcast answered by as many bare clients (echo processes);
//     target: median within 2x;
//  2. idle CPU of the broker and of each station's vdmqtt and vdwinut
//     (all threads, from /proc), connected, nothing changing;
//  3. sustained commands spread over the fleet (one open per station, the
//     next sent when its answer is in): answers per second, lost answers
//     (target 0), resident memory per station at start and end (flat).
//
//   fleet_bench [--stations N] [--seconds S] [--rounds R] [--idle S]
//   fleet_bench --echo PORT --name NAME   (one bare client of the baseline)
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <map>

#include "bench_runtime.h"
#include "tests/e2e/fleet/fleet.h"

namespace {

using namespace bench;

const std::string kAnswers = "bench/answers";
constexpr int kWarmUp = 5;

// ---- a bare client: answers every message on bench/echo/all with its name
void OnEchoMessage(mosquitto* m, void* name, const mosquitto_message*, const mosquitto_property* props) {
    char* response = nullptr;
    void* correlation = nullptr;
    std::uint16_t length = 0;
    mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false);
    mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false);
    if (response != nullptr) {
        mosquitto_property* out = nullptr;
        if (correlation != nullptr) mosquitto_property_add_binary(&out, MQTT_PROP_CORRELATION_DATA, correlation, length);
        const std::string& text = *static_cast<std::string*>(name);
        mosquitto_publish_v5(m, nullptr, response, static_cast<int>(text.size()), text.data(), 1, false, out);
        mosquitto_property_free_all(&out);
    }
    std::free(response);
    std::free(correlation);
}

void OnEchoConnect(mosquitto* m, void*, int rc, int, const mosquitto_property*) {
    if (rc == 0) mosquitto_subscribe_v5(m, nullptr, "bench/echo/all", 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
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

// Resident KB of the stations' vdmqtt (bus) or vdwinut processes.
Spread Resident(const fleet::Fleet& f, bool bus) {
    std::vector<double> kb;
    for (const fleet::Station& s : f.stations) kb.push_back(static_cast<double>(RssKb((bus ? s.bus : s.task)->Pid())));
    return SpreadOf(kb);
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> o{{"stations", "50"}, {"seconds", "60"}, {"rounds", "100"}, {"idle", "10"},
                                         {"echo", ""}, {"name", ""}};
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: fleet_bench [--stations N] [--seconds S] [--rounds R] [--idle S]\n");
        return 2;
    }
    if (!o["echo"].empty()) return Echo(std::atoi(o["echo"].c_str()), o["name"]);
    auto number = [&](const char* name) { return std::max(1, std::atoi(o[name].c_str())); };
    const int stations = number("stations"), seconds = number("seconds"), idle_s = number("idle");
    const int rounds = std::max(10, number("rounds"));
    fleet::Fleet f(0);
    std::string error;
    const auto t0 = Clock::now();
    if (!f.Create(stations, error) || !f.StartAll(30000 + 2000 * stations, error)) {
        std::fprintf(stderr, "the fleet did not start: %s\n", error.c_str());
        return 1;
    }
    const double start_s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::unique_ptr<BusClient> caller = f.Client({kAnswers}, error);
    std::vector<std::unique_ptr<sim::ChildProcess>> echoes;
    for (int i = 0; i < stations && caller; ++i)
        echoes.push_back(sim::ChildProcess::Start(
            {argv[0], "--echo", std::to_string(f.broker().port()), "--name", "echo" + std::to_string(i + 1)}, error));
    if (!caller) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::size_t n = static_cast<std::size_t>(stations);
    std::vector<fleet::Answer> answers;
    bool echo_ready = false;  // every echo has subscribed
    for (int i = 0; i < 50 && !echo_ready; ++i) {
        answers.clear();
        echo_ready = fleet::Gather(*caller, "bench/echo/all", "", kAnswers, std::to_string(i) + "ready", n, 500, answers);
    }
    const Spread b0 = Resident(f, true), w0 = Resident(f, false);

    // 1. Broadcasts, in alternating blocks so that both see the same load.
    std::vector<double> echo_us, bus_us;
    int failed = 0, round = 0;
    for (int b = 0; b < 5 && echo_ready; ++b) {
        for (int i = 0; i < (rounds / 5 + kWarmUp); ++i, ++round) {
            double us = 0;
            answers.clear();
            const std::string c = std::to_string(round) + "e";
            if (!fleet::Gather(*caller, "bench/echo/all", "", kAnswers, c, n, 10000, answers, &us)) ++failed;
            else if (i >= kWarmUp) echo_us.push_back(us);
            answers.clear();
            const std::string lock = std::string(fleet::kBroadcastPrefix) + "/keyboard/alt-tab/lock/call";
            if (!fleet::Gather(*caller, lock, round % 2 ? "0" : "1", kAnswers, std::to_string(round) + "b", n, 10000,
                               answers, &us))
                ++failed;
            else if (i >= kWarmUp) bus_us.push_back(us);
        }
    }
    for (auto& e : echoes) e->Kill();
    caller->Take(200);
    const Latency echo_l = Summarise(echo_us), bus_l = Summarise(bus_us);

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
    std::vector<long> sent(n, 0);
    std::map<std::string, int> answered;  // correlation -> answers
    long done = 0, other = 0;
    auto send = [&](std::size_t s) {
        const std::string c = std::to_string(s) + "-" + std::to_string(++sent[s]);
        caller->Publish(f.stations[s].prefix + "/disk/free/query/call", "", false, &kAnswers, &c);
    };
    auto take = [&](int ms, bool more) {
        for (const BusClient::Received& m : caller->Take(ms)) {
            if (m.topic != kAnswers || ++answered[m.correlation] > 1) continue;
            (m.payload.find("\"result\":\"done\"") != std::string::npos ? done : other) += 1;
            const std::size_t s = std::strtoul(m.correlation.c_str(), nullptr, 10);
            if (more && s < n) send(s);
        }
    };
    for (std::size_t s = 0; s < n; ++s) send(s);
    const auto s0 = Clock::now();
    while (Clock::now() - s0 < std::chrono::seconds(seconds)) take(50, true);
    const double sustained_s = std::chrono::duration<double>(Clock::now() - s0).count();
    long total_sent = 0;
    for (long x : sent) total_sent += x;
    for (auto end = Clock::now() + std::chrono::seconds(6);
         Clock::now() < end && static_cast<long>(answered.size()) < total_sent;)
        take(100, false);
    long twice = 0;
    for (const auto& [c, count] : answered) twice += count > 1;
    const long lost = total_sent - static_cast<long>(answered.size());
    const Spread b1 = Resident(f, true), w1 = Resident(f, false);
    const bool clean = f.StopAll(20000);

    const double ratio = echo_l.median > 0 ? bus_l.median / echo_l.median : 0;
    const double p99_ratio = echo_l.p99 > 0 ? bus_l.p99 / echo_l.p99 : 0;
    const Spread bc = SpreadOf(bus_cpu), tc = SpreadOf(task_cpu);
    std::printf("fleet of %d stations (each vdwinut + vdmqtt), one broker; started in %.1f s\n", stations, start_s);
    std::printf("%-44s %12s %12s\n", "broadcast until all answers are in", "median us", "p99 us");
    std::printf("%-44s %12.0f %12.0f\n", ("  stations (" + std::to_string(bus_l.samples) + " rounds)").c_str(),
                bus_l.median, bus_l.p99);
    std::printf("%-44s %12.0f %12.0f\n", ("  bare clients (" + std::to_string(echo_l.samples) + " rounds)").c_str(),
                echo_l.median, echo_l.p99);
    std::printf("%-44s %11.2fx %11.2fx   (target: median within 2x) %s\n", "  ratio", ratio, p99_ratio,
                ratio > 0 && ratio <= 2.0 ? "ok" : "OVER");
    std::printf("%-44s %d\n", "  rounds without every answer", failed);
    std::printf("idle for %d s, CPU %%: broker %.3f; per station vdmqtt mean %.3f max %.3f, vdwinut mean %.3f max %.3f\n",
                idle_s, percent.back(), bc.mean, bc.max, tc.mean, tc.max);
    std::printf("sustained %.0f s over the fleet: %.0f answers/s (%ld done, %ld other), sent %ld, lost %ld, twice %ld %s\n",
                sustained_s, static_cast<double>(done + other) / sustained_s, done, other, total_sent, lost, twice,
                lost == 0 && twice == 0 ? "ok" : "LOST");
    std::printf("resident KB per station   %14s %14s\n", "start mean/max", "end mean/max");
    std::printf("  vdmqtt                  %7.0f/%-6.0f %7.0f/%-6.0f\n", b0.mean, b0.max, b1.mean, b1.max);
    std::printf("  vdwinut                 %7.0f/%-6.0f %7.0f/%-6.0f\n", w0.mean, w0.max, w1.mean, w1.max);
    std::printf("stopped cleanly: %s\n", clean ? "yes" : "NO");
    return (ratio > 0 && ratio <= 2.0 && lost == 0 && twice == 0 && failed == 0 && clean) ? 0 : 1;
}
