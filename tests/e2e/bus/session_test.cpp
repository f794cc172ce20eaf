// The bus session on a plant network, end to end: TLS and the reason of
// each way it fails, retried with growing pauses; a session taken over by
// another client with the station's id; the broker's maximum packet size;
// what the broker's kept session delivers after an outage.
#include "tests/e2e/bus/bus_runtime.h"
#include "bus/mqtt_session.h"
#include "tests/e2e/bus/tls_certs.h"

namespace {

using namespace bustest;
using namespace e2e;

int Occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Beside the plain listener, TLS ones that ask for a client certificate of
// the CA: port+1 with the broker's certificate, +2 an expired one, +3 one
// for another name.
class TlsBus : public BusRuntime {
protected:
    void SetUp() override {
        if (std::string(VD_OPENSSL).empty())
            GTEST_SKIP() << "no openssl command this program can start (under wine it is a Linux program)";
        BusRuntime::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        certs_.dir = dir_;
        std::string error;
        ASSERT_TRUE(certs_.Make(VD_OPENSSL, error)) << error;
        const int port = broker_->port();
        std::string extra;
        int offset = 0;
        for (const char* cert : {"server", "expired", "elsewhere"})
            extra += "listener " + std::to_string(port + ++offset) + " 127.0.0.1\ncafile " + certs_.Pem("ca") +
                     "\ncertfile " + certs_.Pem(cert) + "\nkeyfile " + certs_.Key(cert) + "\nrequire_certificate true\n";
        broker_->Kill();
        ASSERT_TRUE(broker_->Start(dir_, extra, error, port)) << error;
    }

    // Pauses from 100 ms up without a near maximum, so that they show.
    std::string Tls(const std::string& ca, const std::string& cert = "client", const char* max = "60000") {
        std::string keys = std::string("ReconnectMinMs=100\nReconnectMaxMs=") + max + "\nCaFile=" + ca + "\n";
        if (!cert.empty()) keys += "CertFile=" + certs_.Pem(cert) + "\nKeyFile=" + certs_.Key(cert) + "\n";
        return keys;
    }

    TestCerts certs_;
};

TEST_F(TlsBus, AMissingCaFileIsTakenWhenPutInPlaceThenCommandsAreAnsweredOverTls) {
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    const std::string late = (dir_ / "late-ca.pem").string();
    StartBus(Tls(late, "client", "800"), false, broker_->port() + 1);
    EXPECT_TRUE(WaitMessage("CaFile " + late + " cannot be opened")) << Text("VDMQTT.MSG");
    EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
    fs::copy_file(certs_.Pem("ca"), late);
    EXPECT_TRUE(WaitFor("VDMQTT.STATUS", 1)) << BusOut();

    BusClient::Options o;
    o.port = broker_->port() + 1;
    o.tls = {certs_.Pem("ca"), certs_.Pem("client"), certs_.Key("client")};
    BusClient caller(o);
    std::string error;
    ASSERT_TRUE(caller.Connect(kWaitMs, error)) << error;
    Received answer;
    double micros = 0;
    ASSERT_TRUE(caller.Call(T("disk/free/query/call"), "", kWaitMs, answer, micros));
    EXPECT_TRUE(Has(answer.payload, "\"result\":\"done\"")) << answer.payload;
}

TEST_F(TlsBus, EachTlsFailureIsReportedWithItsReasonAndRetriedWithGrowingPauses) {
    const int plain = broker_->port(), tls = plain + 1;
    const std::string none = (dir_ / "none.pem").string();
    struct Case {
        const char* name;
        std::string keys;
        int port;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"wrong CA", Tls(certs_.Pem("other-ca")), tls,
         "certificate \"/CN=broker.test\" of \"/CN=Test ca\" is not from the CA in CaFile " + certs_.Pem("other-ca")},
        {"name", Tls(certs_.Pem("ca")), plain + 3,
         "\"/CN=broker.elsewhere\" is not for 127.0.0.1: it names broker.elsewhere.example"},
        {"expired", Tls(certs_.Pem("ca")), plain + 2, "certificate \"/CN=broker.old\" expired (valid "},
        {"no client certificate", Tls(certs_.Pem("ca"), ""), tls, "asks for a client certificate: set CertFile"},
        {"unknown client certificate", Tls(certs_.Pem("ca"), "stranger"), tls,
         "refuses client certificate \"/CN=intruder\" of \"/CN=Test other-ca\""},
        {"plain station, TLS port", "ReconnectMinMs=100\nReconnectMaxMs=60000\n", tls,
         "before accepting it: 127.0.0.1:" + std::to_string(tls) + ": is it a TLS listener? set CaFile"},
        {"TLS station, plain port", Tls(certs_.Pem("ca")), plain, "closed during the TLS handshake"},
        {"no CA file", Tls(none), tls, "CaFile " + none + " cannot be opened"},
        {"CA file without a certificate", Tls(certs_.Key("ca")), tls, "holds no PEM certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartBus(c.keys, false, c.port);
        EXPECT_TRUE(WaitMessage(c.reason)) << Text("VDMQTT.MSG");
        std::this_thread::sleep_for(std::chrono::seconds(3));
        EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
        // Pauses of 100, 200, 400, 800, 1600 ms: at most 6 tries in 3 s,
        // each reported with its reason.
        const int tries = Occurrences(BusOut(), c.reason);
        EXPECT_GE(tries, 2) << BusOut();
        EXPECT_LE(tries, 6) << BusOut();
        // A context replaced at every try is freed (the sanitizer's leak
        // check fails the exit code otherwise).
        EXPECT_EQ(StopBus(), 0) << BusOut();
    }
}

TEST_F(BusRuntime, ASessionTakenOverIsReportedAndTheStationBacksOff) {
    StartBus("ReconnectMinMs=100\nReconnectMaxMs=4000\nClientId=twin\n");
    // A clone that takes the id back as soon as it can, for 5 s.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        BusClient::Options o;
        o.port = broker_->port();
        o.client_id = "twin";
        BusClient clone(o);
        std::string error;
        clone.Connect(kWaitMs, error);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(Has(BusOut(), "Session taken over at the broker: the client id twin is used by another station or process"))
        << BusOut();
    // The station's tries (clean start off, "c0"; the clone's are "c1"):
    // pauses that double at each takeover, not a reset at each connection.
    const int tries = Occurrences(broker_->Log(), "as twin (p5, c0");
    EXPECT_GE(tries, 2) << broker_->Log();
    EXPECT_LE(tries, 6) << broker_->Log();
}

class SmallPacketBus : public BusRuntime {
protected:
    std::string BrokerExtra() override { return "max_packet_size 200\n"; }
};

TEST_F(SmallPacketBus, AMessageLargerThanTheBrokerTakesIsRefusedOncePerTopicAndTheConnectionStays) {
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(WaitPayload(c, T("status"), "online"));
    for (char fill : {'a', 'b'}) ASSERT_EQ(Vdrt("set OPERATOR " + std::string(200, fill)), 0);
    EXPECT_TRUE(WaitMessage("Message too large for the broker, not sent: test/st1/line/operator: the message is 230 "
                            "bytes, the broker takes at most 200"))
        << Text("VDMQTT.MSG");
    ASSERT_EQ(Vdrt("set LINE_SPEED 7.5"), 0);
    EXPECT_TRUE(WaitPayload(c, T("line/speed"), "7.5"));
    EXPECT_EQ(Occurrences(BusOut(), "Message too large"), 1) << BusOut();
    EXPECT_EQ(Occurrences(BusOut(), "Connection to the broker lost"), 0) << BusOut();
}

// The session alone, with a listener that keeps what it delivers.
struct Recorder : SessionListener {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<BusMessage> got;
    int connections = 0;
    void OnConnected() override { std::lock_guard<std::mutex> l(mutex); ++connections; changed.notify_all(); }
    void OnProblem(const char*, const std::string&) override {}
    void OnMessage(const BusMessage& m) override { std::lock_guard<std::mutex> l(mutex); got.push_back(m); changed.notify_all(); }
    SteadyTime OnTimer(SteadyTime) override { return SteadyTime::max(); }
    bool Connections(int n) {
        std::unique_lock<std::mutex> l(mutex);
        return changed.wait_for(l, std::chrono::milliseconds(kWaitMs), [&] { return connections >= n; });
    }
    bool Message(const std::string& topic, BusMessage& out) {
        std::unique_lock<std::mutex> l(mutex);
        return changed.wait_for(l, std::chrono::milliseconds(kWaitMs), [&] {
            for (const BusMessage& m : got) if (m.topic == topic) return out = m, true;
            return false;
        });
    }
};

TEST_F(BusRuntime, WhatTheKeptSessionQueuedArrivesMarkedWithTheOutageOrAsUnknownForAnEarlierRun) {
    BusClient& c = Client();
    // Another process with the id takes the session over and leaves it to
    // the broker; it finds nothing queued when `empty`.
    auto take_session = [&](bool empty) {
        BusClient::Options o;
        o.port = broker_->port();
        o.client_id = "kept";
        o.clean_start = false;
        o.session_expiry_s = 60;
        BusClient other(o);
        std::string error;
        ASSERT_TRUE(other.Connect(kWaitMs, error)) << error;
        ASSERT_TRUE(other.Subscribe("test/kept/#", kWaitMs));
        if (empty) EXPECT_TRUE(other.Messages().empty());
    };
    BrokerSettings s;
    s.port = broker_->port();
    s.client_id = "kept";
    s.prefix = "test/kept";
    s.reconnect_min_ms = s.reconnect_max_ms = 1500;
    Recorder r;
    auto session = std::make_unique<MqttSession>(s, r);
    std::string error;
    ASSERT_TRUE(session->Start(error)) << error;
    BusMessage m;
    // Live after the subscription, with the publisher's retain flag.
    ASSERT_TRUE(r.Connections(1));
    ASSERT_TRUE(c.Publish("test/kept/live", "1", true));
    ASSERT_TRUE(r.Message("test/kept/live", m));
    EXPECT_FALSE(m.queued);
    EXPECT_TRUE(m.retained);
    // Away for one pause of 1.5 s, in which a message waits.
    take_session(false);
    ASSERT_TRUE(c.Publish("test/kept/while-away", "2"));
    ASSERT_TRUE(r.Message("test/kept/while-away", m));
    EXPECT_TRUE(m.queued);
    EXPECT_GE(m.queued_max_ms, 1000);
    EXPECT_LT(m.queued_max_ms, 5000);
    EXPECT_FALSE(m.retained);
    // An orderly stop ends the session: nothing kept for the next process.
    session->Stop();
    ASSERT_TRUE(c.Publish("test/kept/after-stop", "3"));
    take_session(true);
    // The next process finds an earlier session: how long it waited is unknown.
    ASSERT_TRUE(c.Publish("test/kept/earlier", "4"));
    Recorder next;
    session = std::make_unique<MqttSession>(s, next);
    ASSERT_TRUE(session->Start(error)) << error;
    ASSERT_TRUE(next.Message("test/kept/earlier", m));
    EXPECT_TRUE(m.queued);
    EXPECT_EQ(m.queued_max_ms, INT64_MAX);
    session->Stop();
}

}  // namespace
