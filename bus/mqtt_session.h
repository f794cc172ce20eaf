// The bridge's connection to the broker, over libmosquitto (MQTT 5).
//
// One network thread of its own connects, runs the client's loop and
// calls the listener: on every connection (after subscribing to
// its topic filters, publishing the retained "online" status and requeueing what
// was in flight when the previous connection ended), for every
// incoming message, for every problem (broker unreachable, connection
// lost, refused by the broker, TLS failed, session taken over by another
// client with the same id, subscription or message refused), and after
// every pass of the loop for the listener's timers. A lost or refused
// connection is tried again after a pause that doubles from the minimum to
// the maximum; it is back at the minimum only after a connection has stayed
// up for StableMs(), and a takeover doubles it once more, so two clients
// with one id do not kick each other in a tight loop.
// The broker's last will is the presence's (by default the retained
// "offline" status), its payload asked anew before every attempt. Publish is
// callable from any thread.
//
// TLS (settings.tls): a fresh OpenSSL context from the files before every
// attempt (tls_context.h), so a file put right is taken at the next try.
//
// The broker keeps the session across a link drop (clean start off, session
// expiry `session_expiry_s`): what arrives from the kept session before the
// first subscription is confirmed is marked `queued`. libmosquitto sets clean
// start once per client, so the process's first connection may find a
// session of an earlier run: its messages are marked queued with an unknown
// wait. An orderly Stop ends the session at the broker (expiry 0).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "bus/tls_context.h"

struct mosquitto;

// A topic filter the session subscribes to at every connection. Our own
// messages are never sent back; retained ones only where `retained`.
struct Subscription {
    std::string filter;
    int qos = -1;  // -1: the settings' QoS
    bool retained = false;
    Subscription(const char* f) : filter(f) {}
    Subscription(std::string f, int q = -1, bool r = false) : filter(std::move(f)), qos(q), retained(r) {}
};

// How the station shows the broker that it lives: the will (its payload
// from the listener's WillPayload before each attempt) on `topic`, also
// published before a clean stop; `online` published there at every
// connection unless empty.
struct Presence {
    std::string topic;  // empty: "<prefix>/status"
    std::string online = "online";
    int qos = -1;  // -1: the settings' QoS
    bool retain = true;
};

struct BrokerSettings {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string client_id;
    std::string user;
    std::string password;
    int keepalive_s = 30;
    int qos = 1;
    std::string prefix;  // topics are "<prefix>/..."
    std::string broadcast_prefix;  // empty: the station takes no broadcasts
    std::vector<Subscription> subscriptions;  // subscribed at every connection
    Presence presence;
    TlsOptions tls;  // TLS when tls.ca_file is set
    int session_expiry_s = 60;  // kept by the broker after a link drop; 0: none
    int reconnect_min_ms = 500;
    int reconnect_max_ms = 30000;
};

struct BusMessage {
    std::string topic;
    std::string payload;
    std::string response_topic;  // MQTT 5 property, empty when absent
    std::string correlation;     // MQTT 5 correlation data
    bool has_correlation = false;
    bool retained = false;  // the publisher retained it (subscribed "retain as published")
    // Delivered from the session the broker kept while the station was away
    // (it arrived before the station's subscriptions were confirmed after a
    // reconnection): it may have waited at the broker up to `queued_max_ms`
    // (the outage; INT64_MAX when unknown, e.g. a session of an earlier run).
    bool queued = false;
    std::int64_t queued_max_ms = 0;
};

using SteadyTime = std::chrono::steady_clock::time_point;

class SessionListener {
public:
    virtual ~SessionListener() = default;
    // Network thread, after the subscription and the "online" status.
    virtual void OnConnected() = 0;
    // Network thread. `key` is a message key of the bus catalog; `detail`
    // fills its text (broker, reason, topic).
    virtual void OnProblem(const char* key, const std::string& detail) = 0;
    virtual void OnMessage(const BusMessage& message) = 0;
    // Network thread, after every pass of the loop: runs what is due and
    // returns the next time it wants to be called (max(): none).
    virtual SteadyTime OnTimer(SteadyTime now) = 0;
    // Network thread, before every connection attempt: the will's payload.
    virtual std::string WillPayload() { return "offline"; }
};

class MqttSession {
public:
    MqttSession(BrokerSettings settings, SessionListener& listener);
    ~MqttSession();
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    // Creates the client and starts the network thread. False with a
    // reason when the client cannot be made (TLS files refused, no memory).
    bool Start(std::string& error);

    // Publishes on "<prefix>/<suffix>" (Publish) or on a full topic
    // (PublishTo), with the correlation data when given, at `qos` (-1: the
    // settings' QoS). True when the message was handed to the client; else
    // false with the reason in `refusal` when given (not connected, larger
    // than the broker's maximum packet size, ...).
    bool Publish(std::string_view suffix, std::string_view payload, bool retain);
    bool PublishTo(const std::string& topic, std::string_view payload, bool retain,
                   const std::string* correlation = nullptr, int qos = -1, std::string* refusal = nullptr);

    // Publishes the will (waiting up to 2 s for the broker to take it),
    // disconnects and ends the network thread.
    void Stop();
    // Publishes the will, disconnects once the broker has taken it (at most
    // 2 s later; else the library would send it again on the new
    // connection) and connects anew at once (a new will); from any thread.
    void Restart();

    bool Connected() const;
    const BrokerSettings& Settings() const { return settings_; }
    // How long a connection stays up before the pause between attempts is
    // back at the minimum: ReconnectMaxMs, at least 10 s and at most 60 s.
    int StableMs() const;
    // Bytes of the PUBLISH packet for a message (fixed header included).
    static std::uint32_t PacketSize(std::size_t topic, std::size_t payload, int qos, std::size_t correlation);

    // The status topic's payloads.
    static constexpr const char* kOnline = "online";
    static constexpr const char* kOffline = "offline";

private:
    static void OnConnectThunk(mosquitto*, void* self, int rc, int flags, const struct mqtt5__property* props);
    static void OnDisconnectThunk(mosquitto*, void* self, int rc, const struct mqtt5__property* props);
    static void OnMessageThunk(mosquitto*, void* self, const struct mosquitto_message* message,
                               const struct mqtt5__property* props);
    static void OnPublishThunk(mosquitto*, void* self, int mid, int reason, const struct mqtt5__property* props);
    static void OnSubscribeThunk(mosquitto*, void* self, int mid, int count, const int* granted,
                                 const struct mqtt5__property* props);

    void Run();
    // Sets the will of the next attempt from the listener.
    bool SetWill(std::string& error);
    // Publishes `will` as the presence says, at QoS 1 at least; the
    // client's result.
    int PublishWill(const std::string& will, int* mid);
    // Whether a Restart's disconnect is due now (its will taken, or its time up); once.
    bool RestartDue();
    // Installs a fresh TLS context; false (reported) when a file is refused.
    bool InstallTls();
    // After a failed attempt or a lost connection: the report and the pause.
    int ReportEnd(int rc, bool connect_failed);
    // Reports made off the network thread, handed to the listener on it.
    void Report(const char* key, std::string detail);
    void DeliverReports();
    // Waits `ms` (woken by Stop), running the listener's timers meanwhile.
    void Pause(int ms);
    int LoopTimeoutMs();
    std::string Where() const;

    BrokerSettings settings_;
    SessionListener& listener_;
    mosquitto* client_ = nullptr;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool closing_ = false;      // Stop has begun: arriving messages are no longer handled
    bool restarting_ = false;   // Restart: the next end of the connection is no problem
    int restart_mid_ = -1;      // Restart: the will's message id until the disconnect
    bool restart_acked_ = false;
    bool restart_disconnecting_ = false;  // RestartDue has let the disconnect go
    SteadyTime restart_by_{};   // the disconnect at the latest
    std::string will_;          // the payload of the current will
    int listener_calls_ = 0;    // messages being handled by the listener now
    bool connected_ = false;
    bool refused_ = false;       // the broker refused the last connection attempt
    bool just_connected_ = false;  // the listener's OnConnected is due
    bool connack_seen_ = false;  // in this attempt, refused or accepted
    int disconnect_reason_ = 0;  // the broker's DISCONNECT reason in this attempt
    int quick_drops_ = 0;        // accepted connections closed by the broker in a row, none stable
    bool ever_connected_ = false;  // this process had a connection accepted
    bool from_queue_ = false;      // session present, first SUBACK not in yet
    std::int64_t queued_max_ms_ = 0;
    SteadyTime connected_at_{}, lost_at_{};
    // The broker's maximum packet size (0: none said); read by every publish.
    std::atomic<std::uint32_t> max_packet_{0};
    TlsCheck tls_check_;
    struct ssl_ctx_st* installed_ctx_ = nullptr;  // the context the client holds
    std::vector<std::pair<const char*, std::string>> reports_;
    int backoff_ms_ = 0;
    int offline_mid_ = -1;
    bool offline_acked_ = false;
    SteadyTime next_timer_ = SteadyTime::max();
    std::map<int, std::string> in_flight_;    // message id -> topic, QoS 1 and 2
    std::set<std::string> refused_topics_;    // reported once per connection (refused or too large)
    std::map<int, std::string> subscriptions_;  // message id -> filter, until the broker answers
};
