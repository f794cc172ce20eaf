// A small synchronous MQTT client over libmosquitto, for the people and
// programs that talk to the bridge: the vdbus tool, the tests and the bench.
// Received messages are kept in order; waits have time limits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bus/tls_context.h"

struct mosquitto;

class BusClient {
public:
    using Clock = std::chrono::steady_clock;

    struct Received {
        std::string topic;
        std::string payload;
        bool retained = false;
        std::string correlation;
        bool has_correlation = false;
        Clock::time_point at;
    };

    struct Options {
        std::string host = "127.0.0.1";
        int port = 1883;
        std::string client_id;  // empty: made up by the library
        std::string user, password;
        int protocol = 5;       // 5 or 4 (MQTT 3.1.1)
        std::string will_topic, will_payload;  // none when the topic is empty
        TlsOptions tls;         // TLS when tls.ca_file is set
        bool clean_start = true;  // false: the broker keeps the session (needs client_id)
        int session_expiry_s = 0; // MQTT 5, with clean_start false
        int qos = 1;              // of Subscribe and Publish
    };

    explicit BusClient(Options options);
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    // Connects and waits for the broker's answer. False with a reason when
    // it cannot connect or the broker refuses (ConnectReason then holds the
    // broker's reason code).
    bool Connect(int timeout_ms, std::string& error);
    int ConnectReason() const;
    // Subscribes (at options.qos) and waits for the broker's answer; false when it
    // does not come or the subscription is refused.
    bool Subscribe(const std::string& filter, int timeout_ms);
    // Publishes (at options.qos), with the MQTT 5 response topic and correlation data
    // when given.
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false,
                 const std::string* response_topic = nullptr, const std::string* correlation = nullptr);
    // Waits for a message (received since the last Clear) that `match`
    // accepts; true with it in *out.
    bool WaitFor(const std::function<bool(const Received&)>& match, int timeout_ms, Received* out = nullptr);
    bool WaitForTopic(const std::string& topic, int timeout_ms, Received* out = nullptr);
    // Waits until more than `count` messages have been received.
    bool WaitForMore(std::size_t count, int timeout_ms);
    std::vector<Received> Messages() const;
    // Waits up to `timeout_ms` for a message, then hands over every message
    // received so far and forgets them: for callers that count many.
    std::vector<Received> Take(int timeout_ms);
    void Clear();
    // Publishes an MQTT 5 command on `topic` with a response topic of its own
    // and fresh correlation data, and waits for the answer carrying that
    // data. Microseconds from the publish to the answer in *micros.
    bool Call(const std::string& topic, const std::string& payload, int timeout_ms, Received& answer, double& micros);
    // Disconnects cleanly (no will).
    void Disconnect();

private:
    static void OnConnect(mosquitto*, void* self, int rc, int flags, const struct mqtt5__property* props);
    static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                            const struct mqtt5__property* props);
    static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message,
                          const struct mqtt5__property* props);

    Options options_;
    mosquitto* client_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int connect_reason_ = -1;     // -1 until the broker answers
    int last_suback_mid_ = -1;
    int last_suback_granted_ = -1;
    std::vector<Received> messages_;
    std::string reply_topic_;
    unsigned long call_count_ = 0;
    bool loop_started_ = false;
    TlsCheck tls_check_;
};
