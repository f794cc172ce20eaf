// Speed figures of the plant bus, each against a baseline of the same run:
//  1. a command over the bus (publish the command, receive its answer: the
//     bridge, the runtime, vdwinut's handler and back), against a bare
//     round trip through the same broker (a client that echoes, in a
//     process of its own); median within 2x, p99 within 3x;
//  2. CPU used by an idle vdmqtt (no tag changes, connected) for 10 s,
//     all its threads (/proc/<pid>/task/*/schedstat): under 0.1 %.
//
//   bus_bench [--rounds N] [--idle SECONDS]
//   bus_bench --echo PORT          (the baseline's echo process)
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_runtime.h"
#include "bus/bus_client.h"
#include "bus/bus_rows.h"
#include "tests/e2e/bus/test_broker.h"

namespace {

using namespace bench;

constexpr int kWarmUp = 50;

// ---- the echo: every message on bench/echo goes back to its response topic
void OnEchoMessage(mosquitto* m, void*, const mosquitto_message* message, const mosquitto_property* props) {
    char* response = nullptr;
    void* correlation = nullptr;
    std::uint16_t length = 0;
    mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false);
    mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false);
    if (response != nullptr) {
        mosquitto_property* out = nullptr;
        if (correlation != nullptr) mosquitto_property_add_binary(&out, MQTT_PROP_CORRELATION_DATA, correlation, length);
        mosquitto_publish_v5(m, nullptr, response, message->payloadlen, message->payload, 1, false, out);
        mosquitto_property_free_all(&out);
    }
    std::free(response);
    std::free(correlation);
}

void OnEchoConnect(mosquitto* m, void*, int rc, int, const mosquitto_property*) {
    if (rc == 0) mosquitto_subscribe_v5(m, nullptr, "bench/echo", 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
}

int Echo(int port) {
    mosquitto_lib_init();
    mosquitto* m = mosquitto_new("bench-echo", true, nullptr);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m, &OnEchoConnect);
    mosquitto_message_v5_callback_set(m, &OnEchoMessage);
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return 1;
    mosquitto_loop_forever(m, -1, 1);  // ends when the broker goes
    mosquitto_destroy(m);
    return 0;
}

// Appends `rounds` round trips (after a warm-up) to `samples`; false when
// one fails.
bool Measure(BusClient& client, const std::string& topic, int rounds, std::vector<double>& samples) {
    for (int i = 0; i < rounds + kWarmUp; ++i) {
        BusClient::Received answer;
        double us = 0;
        if (!client.Call(topic, "", 5000, answer, us)) return false;
        if (answer.payload.find("\"refused\"") != std::string::npos || answer.payload.find("\"timeout\"") != std::string::npos) {
            std::fprintf(stderr, "answer: %s\n", answer.payload.c_str());
            return false;
        }
        if (i >= kWarmUp) samples.push_back(us);
    }
    return true;
}

// CPU time of all threads of a process in nanoseconds, or -1.
long long ProcessCpuNs(int pid) {
    long long total = 0;
    std::error_code ec;
    fs::directory_iterator it("/proc/" + std::to_string(pid) + "/task", ec);
    if (ec) return -1;
    for (const auto& task : it) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

void Put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v) { std::memcpy(r.data() + at, &v, 4); }

// The bridge's archive: one pulse command row on vdwinut's row 0 (trigger,
// done, the value tag as result), no tag rows.
bool WriteBusArchive(const Runtime& rt) {
    std::vector<std::uint8_t> rec(kCommandRowSize, 0);
    Put32(rec, 0, TriggerTag(0));
    Put32(rec, 4, DoneTag(0));
    Put32(rec, 8, kInvalidTagRef);
    Put32(rec, 12, 2);
    for (int i = 1; i < kResultTags; ++i) Put32(rec, 12 + 4 * i, kInvalidTagRef);
    std::uint16_t mode = kCommandPulse;
    std::memcpy(rec.data() + 28, &mode, 2);
    Put32(rec, 30, 5000);
    std::memcpy(rec.data() + 34, "disk/query", 10);
    CtArchive ct{};
    const std::string app = (rt.dir / "app").string();
    return ct_create(&ct, app.c_str(), "plant/ct/VDMQTT.ct") == CT_OK &&
           ct_add_table(&ct, kCommandRowTableType, "COMMANDS", nullptr, 0, kCommandRowSize) == CT_OK &&
           ct_append_records(&ct, rec.data(), rec.size(), 1) == CT_OK && ct_close(&ct) == CT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 1000, idle_s = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--echo") return Echo(std::atoi(argv[i + 1]));
        if (opt == "--rounds") rounds = std::max(10, std::atoi(argv[i + 1]));
        if (opt == "--idle") idle_s = std::max(1, std::atoi(argv[i + 1]));
    }
    const char* bin = std::getenv("VD_BINARY_DIR");
    const fs::path build = bin != nullptr ? bin : "build/host-release";
    const std::string vdwinut = (build / "app" / "vdwinut").string();
    const std::string vdmqtt = (build / "bus" / "vdmqtt").string();

    Runtime rt;
    if (!rt.Create("bus_bench", 1) || !WriteBusArchive(rt)) {
        std::fprintf(stderr, "cannot set up the runtime\n");
        return 1;
    }
    const std::unique_ptr<bustest::TestBroker> broker = bustest::TestBroker::Make();
    std::string error;
    if (!broker->Start(rt.dir, "", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::ofstream(rt.dir / "app" / "net" / "VDMQTT.ini")
        << "[Debug]\nDebugLevel=0\n[Task]\nDriver2Ids=1\n[Broker]\nPort=" << broker->port()
        << "\n[Bus]\nTopicPrefix=bench/st1\n";

    rt.Start(vdwinut);
    if (!rt.WaitRunning(20000)) {
        std::fprintf(stderr, "vdwinut did not start\n");
        return 1;
    }
    auto bus = sim::ChildProcess::Start({vdmqtt}, error, (rt.dir / "bus.out").string());
    auto echo = sim::ChildProcess::Start({argv[0], "--echo", std::to_string(broker->port())}, error);
    if (!bus || !echo) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    BusClient::Options o;
    o.port = broker->port();
    BusClient client(o);
    if (!client.Connect(5000, error) || !client.Subscribe("bench/st1/status", 5000) ||
        !client.WaitFor([](const BusClient::Received& m) { return m.payload == "online"; }, 20000)) {
        std::fprintf(stderr, "the bridge did not come online: %s\n", error.c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the echo subscribes

    // Alternating blocks, so that both see the same load of the machine.
    constexpr int kBlocks = 5;
    std::vector<double> echo_samples, bus_samples;
    for (int b = 0; b < kBlocks; ++b) {
        const int n = rounds / kBlocks + (b < rounds % kBlocks ? 1 : 0);
        if (!Measure(client, "bench/echo", n, echo_samples) ||
            !Measure(client, "bench/st1/disk/query/call", n, bus_samples))
            break;
    }
    const Latency echo_l = Summarise(echo_samples), bus_l = Summarise(bus_samples);
    int status = 0;
    if (echo_l.samples != rounds || bus_l.samples != rounds) {
        std::fprintf(stderr, "rounds missing: echo %d, bus %d of %d\n", echo_l.samples, bus_l.samples, rounds);
        status = 1;
    }
    const double median_ratio = bus_l.median / echo_l.median;
    const double p99_ratio = bus_l.p99 / echo_l.p99;
    std::printf("command round trip over the bus (%d rounds): median %.0f us, p99 %.0f us\n", rounds, bus_l.median,
                bus_l.p99);
    std::printf("bare echo round trip, same broker:           median %.0f us, p99 %.0f us\n", echo_l.median,
                echo_l.p99);
    std::printf("ratio: median %.2fx (limit 2x) %s, p99 %.2fx (limit 3x) %s\n", median_ratio,
                median_ratio <= 2.0 ? "ok" : "OVER", p99_ratio, p99_ratio <= 3.0 ? "ok" : "OVER");
    if (median_ratio > 2.0 || p99_ratio > 3.0) status = 1;

    // Idle: connected, nothing changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long long before = ProcessCpuNs(bus->Pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idle_s));
    const long long after = ProcessCpuNs(bus->Pid());
    const double wall_ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
    const double percent = before < 0 || after < 0 ? -1 : 100.0 * static_cast<double>(after - before) / wall_ns;
    std::printf("idle vdmqtt for %d s: %.4f %% CPU (%.2f ms, limit 0.1 %%) %s\n", idle_s, percent,
                static_cast<double>(after - before) / 1e6, percent >= 0 && percent < 0.1 ? "ok" : "OVER");
    if (percent < 0 || percent >= 0.1) status = 1;

    TaskId id = rt.db->FindTask("VDMQTT");
    if (id >= 0) rt.db->RequestStop(id);
    int code = 0;
    if (!bus->Wait(10000, code)) bus->Kill();
    client.Disconnect();
    broker->Kill();
    echo->Wait(5000, code);
    return status;
}
