// The bridge's connection to the broker, over libmosquitto (MQTT 5).
//
// One network thread of its own connects, runs the client's loop and
// calls the listener: on every connection (after subscribing to
// "<prefix>/#" and the broadcast filters, publishing the retained "online" status and requeueing what
// was in flight when the previous connection ended), for every
// incoming message, for every problem (broker unreachable, connection
// lost, refused by the broker, subscription or message refused), and after
// every pass of the loop for the listener's timers. A lost or refused
// connection is tried again after a pause that doubles from the minimum to
// the maximum and is back at the minimum after a connection is accepted.
// The broker's last will is the retained "offline" status. Publish is
// callable from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct mosquitto;

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
    std::vector<std::string> broadcast_filters;  // subscribed besides "<prefix>/#"
    std::string ca_file, cert_file, key_file;  // TLS when ca_file is set
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

    // Publishes the retained "offline" status (waiting up to 2 s for the
    // broker to take it), disconnects and ends the network thread.
    void Stop();

    bool Connected() const;
    const BrokerSettings& Settings() const { return settings_; }

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
    bool connected_ = false;
    bool refused_ = false;       // the broker refused the last connection attempt
    bool just_connected_ = false;  // the listener's OnConnected is due
    int backoff_ms_ = 0;
    int offline_mid_ = -1;
    bool offline_acked_ = false;
    SteadyTime next_timer_ = SteadyTime::max();
    std::map<int, std::string> in_flight_;    // message id -> topic, QoS 1 and 2
    std::set<std::string> refused_topics_;    // reported once per connection
    std::map<int, std::string> subscriptions_;  // message id -> filter, until the broker answers
};
