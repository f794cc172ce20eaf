// The bus session on a plant network, end to end: TLS and the reason of
// each way it fails, retried with growing pauses; a session taken over by
// another client with the station's id; the broker's maximum packet size;
// what the broker's kept session delivers after an outage.
#include "bus/mqtt_session.h"
#include "tests/e2e/bus/bus_runtime.h"

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
// for another name. The certificates are made at build time
// (make_test_certs.sh) in VD_TLS_CERTS, a path of the broker's side; the
// station takes copies in the test's folder.
class TlsBus : public BusRuntime {
protected:
    void SetUp() override {
        const std::string certs = VD_TLS_CERTS;
        if (certs.empty()) GTEST_SKIP() << "no openssl command at build time, so no certificates";
        BusRuntime::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        for (const auto& file : fs::directory_iterator(TestBroker::LocalPath(certs)))
            fs::copy_file(file.path(), dir_ / file.path().filename());
        // The ports above the plain one may be taken by another test's
        // broker: then again from another free port.
        std::string error;
        bool started = false;
        for (int attempt = 0; attempt < 5 && !started; ++attempt) {
            std::string extra;
            int port = broker_->port();
            for (const std::string cert : {"server", "expired", "elsewhere"})
                extra += "listener " + std::to_string(++port) + " 127.0.0.1\ncafile " + certs + "/ca.pem\ncertfile " +
                         certs + "/" + cert + ".pem\nkeyfile " + certs + "/" + cert + ".key\nrequire_certificate true\n";
            broker_->Kill();
            started = broker_->Start(dir_, extra, error, broker_->port());
            if (!started) broker_->Kill(), broker_->Start(dir_, "", error);
        }
        ASSERT_TRUE(started) << error;
    }

    std::string Pem(const std::string& name) const { return (dir_ / (name + ".pem")).string(); }
    std::string Key(const std::string& name) const { return (dir_ / (name + ".key")).string(); }

    // Pauses from 100 ms up without a near maximum, so that they show.
    std::string Tls(const std::string& ca, const std::string& cert = "client") {
        std::string keys = "ReconnectMinMs=100\nReconnectMaxMs=60000\nCaFile=" + ca + "\n";
        return cert.empty() ? keys : keys + "CertFile=" + Pem(cert) + "\nKeyFile=" + Key(cert) + "\n";
    }
};

TEST_F(TlsBus, EachFailureHasItsReasonAndGrowingPausesThenAFilePutRightIsTakenAndCommandsAreAnswered) {
    StartTask();
    ASSERT_TRUE(WaitFor("VDWINUT.STATUS", 1)) << ReadFile(dir_ / "task.err");
    const int plain = broker_->port(), tls = plain + 1;
    const std::string ca = Pem("ca"), late = (dir_ / "late.pem").string();
    struct Case { const char* name; std::string keys; int port; std::string reason; } cases[] = {
        {"wrong CA", Tls(Pem("other-ca")), tls,
         "CaFile " + Pem("other-ca") + " is not the CA of certificate \"/CN=broker.test\""},
        {"name", Tls(ca), plain + 3, "\"/CN=broker.elsewhere\" is not for 127.0.0.1: it names broker.elsewhere.example"},
        {"expired", Tls(ca), plain + 2, "certificate \"/CN=broker.old\" expired (valid "},
        {"no client certificate", Tls(ca, ""), tls, "asks for a client certificate: set CertFile"},
        {"unknown client", Tls(ca, "stranger"), tls, "refuses client certificate \"/CN=intruder\" of \"/CN=Test other-ca\""},
        {"plain station", "ReconnectMinMs=100\nReconnectMaxMs=60000\n", tls,
         "before accepting it: 127.0.0.1:" + std::to_string(tls) + ": is it a TLS listener? set CaFile"},
        {"TLS station, plain port", Tls(ca), plain, "closed during the TLS handshake"},
        {"CA file not a certificate", Tls(Key("ca")), tls, "holds no PEM certificate"},
        {"no CA file", Tls(late), tls, "CaFile " + late + " cannot be opened"},  // last: put in place below
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (bus_) {
            EXPECT_EQ(StopBus(), 0) << BusOut();  // contexts replaced at every try are freed (leak check)
        }
        const auto start = std::chrono::steady_clock::now();
        StartBus(c.keys, false, c.port);
        EXPECT_TRUE(WaitMessage(c.reason)) << Text("VDMQTT.MSG");
        // At least 3 s, and until a second try (a loaded machine under
        // wine64 may take over a second a try).
        std::this_thread::sleep_for(std::chrono::seconds(3));
        vdtest::WaitUntil([&] { return Occurrences(BusOut(), c.reason) >= 2; }, 10000);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_EQ(Int("VDMQTT.STATUS"), 2);
        // Pauses of 100, 200, 400 ms and so on: n tries take 100 (2^(n-1) - 1)
        // ms at least (one more allowed: at 3 s, at most 6 tries).
        const int tries = Occurrences(BusOut(), c.reason);
        ASSERT_GE(tries, 2) << BusOut();
        EXPECT_LE(100 * ((1LL << (tries - 2)) - 1), ms.count()) << tries << " tries: " << BusOut();
    }
    fs::copy_file(ca, late);
    EXPECT_TRUE(WaitFor("VDMQTT.STATUS", 1)) << BusOut();
    BusClient::Options o = vdtest::ClientOn(tls);
    o.tls = {ca, Pem("client"), Key("client")};
    std::string error;
    const std::unique_ptr<BusClient> caller = vdtest::ConnectClient(o, {}, error);
    ASSERT_EQ(error, "");
    const std::string answer = Call(*caller, T("disk/free/query/call"));
    EXPECT_TRUE(Has(answer, "\"result\":\"done\"")) << answer;
}

TEST_F(BusRuntime, ASessionTakenOverIsReportedAndTheStationBacksOff) {
    StartBus("ReconnectMinMs=100\nReconnectMaxMs=4000\nClientId=twin\n");
    // A clone that takes the id back as soon as it can, for 5 s.
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5); std::chrono::steady_clock::now() < end;) {
        BusClient::Options o;
        o.port = broker_->port();
        o.client_id = "twin";
        BusClient clone(o);
        std::string error;
        clone.Connect(kWaitMs, error);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(Has(BusOut(), "Session taken over at the broker: the client id twin is used by another")) << BusOut();
    // The station's tries (clean start off: "c0"; the clone's are "c1").
    const int tries = Occurrences(broker_->Log(), "as twin (p5, c0");
    EXPECT_GE(tries, 2) << broker_->Log();
    EXPECT_LE(tries, 6) << broker_->Log();
}

class SmallPacketBus : public BusRuntime {
    std::string BrokerExtra() override { return "max_packet_size 200\n"; }
};

TEST_F(SmallPacketBus, AMessageLargerThanTheBrokerTakesIsRefusedOncePerTopicAndTheConnectionStays) {
    StartBus();
    BusClient& c = Client();
    ASSERT_TRUE(WaitPayload(c, T("status"), "online"));
    for (char fill : {'a', 'b'}) ASSERT_EQ(Vdrt("set OPERATOR " + std::string(200, fill)), 0);
    EXPECT_TRUE(WaitMessage("too large for the broker, not sent: test/st1/line/operator: the message is 230 bytes, "
                            "the broker takes at most 200"))
        << Text("VDMQTT.MSG");
    ASSERT_EQ(Vdrt("set LINE_SPEED 7.5"), 0);
    EXPECT_TRUE(WaitPayload(c, T("line/speed"), "7.5"));
    EXPECT_EQ(Occurrences(BusOut(), "too large"), 1) << BusOut();
    EXPECT_EQ(Occurrences(BusOut(), "lost"), 0) << BusOut();
}

// The session alone, with a listener that keeps what it delivers.
struct Recorder : SessionListener {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<BusMessage> got;
    void OnConnected() override {}
    void OnProblem(const char*, const std::string&) override {}
    void OnMessage(const BusMessage& m) override { std::lock_guard<std::mutex> l(mutex); got.push_back(m); changed.notify_all(); }
    SteadyTime OnTimer(SteadyTime) override { return SteadyTime::max(); }
    bool Wait(const std::string& topic, BusMessage& out, int ms = kWaitMs) {
        std::unique_lock<std::mutex> l(mutex);
        return changed.wait_for(l, std::chrono::milliseconds(ms), [&] {
            for (const BusMessage& m : got) if (m.topic == topic) return out = m, true;
            return false;
        });
    }
};

TEST_F(BusRuntime, WhatTheKeptSessionQueuedArrivesMarkedWithTheOutageOrAsUnknownForAnEarlierRun) {
    BusClient& c = Client();
    // Another process with the id takes the session and leaves it to the
    // broker; with `empty` it must find nothing queued (retained messages
    // come with its subscription).
    auto take_session = [&](bool empty) {
        BusClient::Options o = vdtest::ClientOn(broker_->port());
        o.client_id = "kept";
        o.clean_start = false;
        o.session_expiry_s = 60;
        std::string error;
        const std::unique_ptr<BusClient> other = vdtest::ConnectClient(o, {"test/kept/#"}, error);
        ASSERT_EQ(error, "");
        for (const Received& m : other->Messages()) EXPECT_FALSE(empty && m.topic == "test/kept/after-stop");
    };
    BrokerSettings s;
    s.port = broker_->port();
    s.client_id = "kept";
    s.prefix = "test/kept";
    s.subscriptions = {"test/kept/#"};
    s.reconnect_min_ms = s.reconnect_max_ms = 1500;
    Recorder r, next;
    auto session = std::make_unique<MqttSession>(s, r);
    std::string error;
    ASSERT_TRUE(session->Start(error)) << error;
    BusMessage m;
    // Live, with the publisher's retain flag (sent again until subscribed).
    bool live = false;
    for (int i = 0; i < 100 && !live; ++i) live = c.Publish("test/kept/live", "1", true) && r.Wait("test/kept/live", m, 100);
    ASSERT_TRUE(live);
    EXPECT_FALSE(m.queued);
    EXPECT_TRUE(m.retained);
    // Away for one pause of 1.5 s, in which a message waits.
    take_session(false);
    ASSERT_TRUE(c.Publish("test/kept/while-away", "2"));
    ASSERT_TRUE(r.Wait("test/kept/while-away", m));
    EXPECT_TRUE(m.queued);
    EXPECT_GE(m.queued_max_ms, 1000);
    EXPECT_LT(m.queued_max_ms, 5000);
    EXPECT_FALSE(m.retained);
    // An orderly stop ends the session; the next process finds the one
    // another left, how long its message waited unknown.
    session->Stop();
    ASSERT_TRUE(c.Publish("test/kept/after-stop", "3"));
    take_session(true);
    ASSERT_TRUE(c.Publish("test/kept/earlier", "4"));
    session = std::make_unique<MqttSession>(s, next);
    ASSERT_TRUE(session->Start(error)) << error;
    ASSERT_TRUE(next.Wait("test/kept/earlier", m));
    EXPECT_TRUE(m.queued);
    EXPECT_EQ(m.queued_max_ms, INT64_MAX);
    session->Stop();
}

}  // namespace
