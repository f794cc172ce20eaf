// The fixture of the bus's end-to-end tests: a real broker, the vdmqtt
// process on a runtime made by vdrt, clients on the bus. Tags of the sample
// application; topics under "test/st1".
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/bus/test_broker.h"
#include "tests/e2e/task_runtime.h"
#include "tests/support/bus_test_client.h"
#include "tools/vdbus/bus_client.h"

namespace bustest {

using namespace e2e;
using Received = BusClient::Received;

inline constexpr const char* kPrefix = "test/st1/";
inline constexpr const char* kQuickRetries = "ReconnectMinMs=100\nReconnectMaxMs=800\n";
inline constexpr int kWaitMs = 10000;
// For a killed bridge's will: with KeepAlive=5 the broker sends it at most
// 7.5 s after the bridge's last packet, and under wine64 (which may keep a
// killed program's socket open) the kill itself and that last packet can be
// late.
inline constexpr int kWillWaitMs = 20000;

// Whether the commands that act on the Windows host itself (the keyboard
// lock, the event log) are checked: not under wine64, whose keyboard hooks
// and event log are not a Windows host's (set by the build).
inline constexpr bool kHostChecks = VD_BUS_HOST_CHECKS != 0;
inline constexpr const char* kNoHostChecks = "run under wine64, whose keyboard hooks and event log stand in for a host's";

inline std::string T(const std::string& topic) { return kPrefix + topic; }

using vdtest::Has;

class BusRuntime : public TaskRuntime {
protected:
    void SetUp() override {
        const std::string unavailable = TestBroker::Unavailable();
        if (!unavailable.empty()) GTEST_SKIP() << unavailable;
        TaskRuntime::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        std::string error;
        ASSERT_TRUE(broker_->Start(dir_, BrokerExtra(), error)) << error;
    }

    void TearDown() override {
        StopBus();
        clients_.clear();
        broker_->Kill();
        TaskRuntime::TearDown();
    }

    virtual std::string BrokerExtra() { return ""; }

    // The bridge on the test broker (on `port`, 0: its first listener) and
    // prefix; `broker_keys` are more lines of section Broker, `bus_keys` of
    // section Bus.
    void StartBus(const std::string& broker_keys = kQuickRetries, bool wait_running = true, int port = 0,
                  const std::string& bus_keys = "") {
        std::ofstream(dir_ / "app" / "net" / "VDMQTT.ini", std::ios::trunc)
            << "[Debug]\nDebugLevel=3\n[Broker]\nPort=" << (port != 0 ? port : broker_->port()) << "\n"
            << broker_keys << "[Bus]\nTopicPrefix=test/st1\n" << bus_keys;
        std::string error;
        bus_ = sim::ChildProcess::Start({VD_VDMQTT}, error, (dir_ / "bus.out").string());
        ASSERT_TRUE(bus_) << error;
        ASSERT_TRUE(!wait_running || WaitFor("VDMQTT.STATUS", 1)) << BusOut();
    }

    // Asks the runtime to stop the bridge; its exit code, or -999.
    int StopBus() {
        if (bus_) rt_.RequestStop("VDMQTT");
        return vdtest::EndChild(bus_, 15000);
    }

    std::string BusOut() { return ReadFile(dir_ / "bus.out"); }

    // A client subscribed to everything under the prefix.
    BusClient& Client(int protocol = 5) {
        BusClient::Options o = vdtest::ClientOn(broker_->port());
        o.protocol = protocol;
        std::string error;
        clients_.push_back(vdtest::ConnectClient(o, {T("#")}, error));
        EXPECT_EQ(error, "");
        return *clients_.back();
    }

    static bool WaitPayload(BusClient& c, const std::string& topic, const std::string& payload,
                            int timeout_ms = kWaitMs) {
        return c.WaitFor([&](const Received& m) { return m.topic == topic && m.payload == payload; }, timeout_ms);
    }

    // Messages on `topic` (empty: any) whose payload holds `part`, after a
    // pause in which a second one would be in.
    static int Count(BusClient& c, const std::string& topic, const std::string& part) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        int n = 0;
        for (const Received& m : c.Messages()) n += (topic.empty() || m.topic == topic) && Has(m.payload, part) ? 1 : 0;
        return n;
    }

    // Waits until the bridge's message tag holds `part`.
    bool WaitMessage(const std::string& part) {
        return vdtest::WaitUntil([&] { return Has(Text("VDMQTT.MSG"), part); }, kWaitMs);
    }

    static std::string Call(BusClient& c, const std::string& topic, const std::string& payload = "") {
        Received answer;
        double micros = 0;
        return c.Call(topic, payload, kWaitMs, answer, micros) ? answer.payload : "(no answer)";
    }

    const std::unique_ptr<TestBroker> broker_ = TestBroker::Make();
    std::unique_ptr<sim::ChildProcess> bus_;
    std::vector<std::unique_ptr<BusClient>> clients_;
};

}  // namespace bustest
