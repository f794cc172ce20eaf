#include "bus/mqtt_session.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLoopMaxWaitMs = 1000;  // the loop wakes at least this often (keep-alive)
constexpr auto kOfflineWait = std::chrono::seconds(2);
constexpr int kStopPasses = 20;  // loop passes at most to write the disconnect
constexpr int kStopWaitMs = 50;  // each of them this long at most

// libmosquitto's global set-up, once per process.
void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string ReasonText(int reason) {
    const char* text = mosquitto_reason_string(reason);
    return std::string(text != nullptr ? text : "unknown reason") + " (" + std::to_string(reason) + ")";
}

}  // namespace

MqttSession::MqttSession(BrokerSettings settings, SessionListener& listener)
    : settings_(std::move(settings)), listener_(listener) {
    backoff_ms_ = std::max(1, settings_.reconnect_min_ms);
}

MqttSession::~MqttSession() {
    Stop();
    if (client_ != nullptr) mosquitto_destroy(client_);
}

std::string MqttSession::Where() const { return settings_.host + ":" + std::to_string(settings_.port); }

bool MqttSession::Start(std::string& error) {
    InitLibrary();
    client_ = mosquitto_new(settings_.client_id.empty() ? nullptr : settings_.client_id.c_str(), true, this);
    if (client_ == nullptr) {
        error = "the MQTT client cannot be created";
        return false;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    // Our own loop thread calls the client; publishing from other threads
    // then wakes it.
    mosquitto_threaded_set(client_, true);
    mosquitto_connect_v5_callback_set(client_, &MqttSession::OnConnectThunk);
    mosquitto_disconnect_v5_callback_set(client_, &MqttSession::OnDisconnectThunk);
    mosquitto_message_v5_callback_set(client_, &MqttSession::OnMessageThunk);
    mosquitto_publish_v5_callback_set(client_, &MqttSession::OnPublishThunk);
    mosquitto_subscribe_v5_callback_set(client_, &MqttSession::OnSubscribeThunk);
    if (!settings_.user.empty()) {
        int rc = mosquitto_username_pw_set(client_, settings_.user.c_str(),
                                           settings_.password.empty() ? nullptr : settings_.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("user name refused: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    if (!settings_.ca_file.empty()) {
        int rc = mosquitto_tls_set(client_, settings_.ca_file.c_str(), nullptr,
                                   settings_.cert_file.empty() ? nullptr : settings_.cert_file.c_str(),
                                   settings_.key_file.empty() ? nullptr : settings_.key_file.c_str(), nullptr);
        if (rc == MOSQ_ERR_NOT_SUPPORTED) {
            // The Windows builds link the library without TLS: say so
            // rather than fall back to a plain connection.
            error = "this build has no TLS support: CaFile, CertFile and KeyFile cannot be used";
            return false;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("TLS files refused: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    const std::string status = settings_.prefix + "/status";
    int rc = mosquitto_will_set_v5(client_, status.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline,
                                   settings_.qos, true, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("last will refused: ") + mosquitto_strerror(rc);
        return false;
    }
    thread_ = std::thread(&MqttSession::Run, this);
    return true;
}

bool MqttSession::Connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

bool MqttSession::Publish(std::string_view suffix, std::string_view payload, bool retain) {
    return PublishTo(settings_.prefix + "/" + std::string(suffix), payload, retain);
}

bool MqttSession::PublishTo(const std::string& topic, std::string_view payload, bool retain,
                            const std::string* correlation, int qos, std::string* refusal) {
    if (qos < 0) qos = settings_.qos;
    if (client_ == nullptr) {
        if (refusal != nullptr) *refusal = "no MQTT client";
        return false;
    }
    mosquitto_property* props = nullptr;
    if (correlation != nullptr &&
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<std::uint16_t>(std::min<std::size_t>(correlation->size(), 65535))) !=
            MOSQ_ERR_SUCCESS) {
        mosquitto_property_free_all(&props);
        return false;
    }
    int mid = 0;
    // Held across the publish: the broker's acknowledgement, read on the
    // network thread, must find the message in flight.
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (qos > 0) lock.lock();
    int rc = mosquitto_publish_v5(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                  qos, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (refusal != nullptr) *refusal = mosquitto_strerror(rc);
        return false;
    }
    if (qos > 0) in_flight_[mid] = topic;
    return true;
}

void MqttSession::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) return;
    }
    // The explicit "offline" goes out first and is acknowledged before the
    // orderly disconnect (after which the broker drops the will).
    bool connected = Connected();
    if (connected) {
        int mid = 0;
        const std::string status = settings_.prefix + "/status";
        // Locked before the publish, so that an acknowledgement read at once
        // finds the message id.
        std::unique_lock<std::mutex> lock(mutex_);
        if (mosquitto_publish_v5(client_, &mid, status.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline,
                                 std::max(1, settings_.qos), true, nullptr) == MOSQ_ERR_SUCCESS) {
            offline_mid_ = mid;
            wake_.wait_for(lock, kOfflineWait, [this] { return offline_acked_ || !connected_; });
        }
    }
    // The network thread goes on until the orderly disconnect has been
    // written (else the broker would see a lost client and send the will).
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    mosquitto_disconnect_v5(client_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    thread_.join();
}

int MqttSession::LoopTimeoutMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return kStopWaitMs;
    if (next_timer_ == SteadyTime::max()) return kLoopMaxWaitMs;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_timer_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, kLoopMaxWaitMs));
}

void MqttSession::Pause(int ms) {
    const SteadyTime end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        SteadyTime now = std::chrono::steady_clock::now();
        if (now >= end) break;
        SteadyTime until = std::min(end, next_timer_);
        wake_.wait_until(lock, until);
        now = std::chrono::steady_clock::now();
        if (now >= next_timer_) {
            lock.unlock();
            SteadyTime next = listener_.OnTimer(now);
            lock.lock();
            next_timer_ = next;
        }
    }
}

void MqttSession::Run() {
    bool socket_open = false;
    bool first = true;
    int passes_after_stop = 0;
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_ && (!socket_open || ++passes_after_stop > kStopPasses)) break;
        }
        if (!socket_open) {
            int rc = first ? mosquitto_connect_bind_v5(client_, settings_.host.c_str(), settings_.port,
                                                       settings_.keepalive_s, nullptr, nullptr)
                           : mosquitto_reconnect(client_);
            first = false;
            if (rc != MOSQ_ERR_SUCCESS) {
                listener_.OnProblem("BUSNOBROKER", Where() + ": " + mosquitto_strerror(rc));
                int pause = 0;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    pause = backoff_ms_;
                    backoff_ms_ = std::min(backoff_ms_ * 2, std::max(settings_.reconnect_max_ms, 1));
                }
                Pause(pause);
                continue;
            }
            socket_open = true;
        }
        int rc = mosquitto_loop(client_, LoopTimeoutMs(), 1);
        bool connected_now = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connected_now = just_connected_ && connected_;
            just_connected_ = false;
        }
        if (connected_now) listener_.OnConnected();
        SteadyTime next = listener_.OnTimer(std::chrono::steady_clock::now());
        bool refused = false;
        int pause = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next_timer_ = next;
            if (rc == MOSQ_ERR_SUCCESS) continue;
            if (stopping_) break;  // the disconnect is written and the socket closed
            socket_open = false;
            connected_ = false;
            refused = refused_;
            refused_ = false;
            pause = backoff_ms_;
            backoff_ms_ = std::min(backoff_ms_ * 2, std::max(settings_.reconnect_max_ms, 1));
        }
        wake_.notify_all();
        // A refusal was reported by the connect callback already.
        if (!refused) listener_.OnProblem("BUSLOST", Where() + ": " + mosquitto_strerror(rc));
        Pause(pause);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
}

// ---- callbacks (network thread) -------------------------------------------

void MqttSession::OnConnectThunk(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    if (rc != 0) {
        {
            std::lock_guard<std::mutex> lock(session->mutex_);
            session->refused_ = true;
        }
        session->listener_.OnProblem("BUSREFUSED", session->Where() + ": " + ReasonText(rc));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        session->connected_ = true;
        session->refused_ = false;
        session->backoff_ms_ = std::max(1, session->settings_.reconnect_min_ms);
        session->refused_topics_.clear();
        session->in_flight_.clear();
        session->subscriptions_.clear();
    }
    // Our own messages are not sent back to us, nor retained messages of
    // the topics (the bridge publishes state; it does not read it back).
    std::vector<std::string> filters = {session->settings_.prefix + "/#"};
    filters.insert(filters.end(), session->settings_.broadcast_filters.begin(),
                   session->settings_.broadcast_filters.end());
    for (const std::string& filter : filters) {
        // The broker's answer is read on this thread, after this callback.
        int mid = 0;
        if (mosquitto_subscribe_v5(session->client_, &mid, filter.c_str(), session->settings_.qos,
                                   MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_SEND_RETAIN_NEVER, nullptr) != MOSQ_ERR_SUCCESS)
            continue;
        std::lock_guard<std::mutex> lock(session->mutex_);
        session->subscriptions_[mid] = filter;
    }
    session->Publish("status", kOnline, true);
    // The listener republishes after this loop pass, once the client has
    // queued again what was in flight when the last connection ended:
    // the current values then go out last.
    std::lock_guard<std::mutex> lock(session->mutex_);
    session->just_connected_ = true;
}

void MqttSession::OnDisconnectThunk(mosquitto*, void* self, int, const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        session->connected_ = false;
    }
    session->wake_.notify_all();
}

void MqttSession::OnMessageThunk(mosquitto*, void* self, const mosquitto_message* message,
                                 const mosquitto_property* props) {
    auto* session = static_cast<MqttSession*>(self);
    if (message == nullptr || message->topic == nullptr) return;
    BusMessage m;
    m.topic = message->topic;
    if (message->payload != nullptr && message->payloadlen > 0)
        m.payload.assign(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    char* response = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false) != nullptr &&
        response != nullptr)
        m.response_topic = response;
    std::free(response);
    void* correlation = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) != nullptr) {
        m.has_correlation = true;
        if (correlation != nullptr) m.correlation.assign(static_cast<const char*>(correlation), length);
    }
    std::free(correlation);
    session->listener_.OnMessage(m);
}

void MqttSession::OnPublishThunk(mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    std::string topic;
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        if (mid == session->offline_mid_) session->offline_acked_ = true;
        auto it = session->in_flight_.find(mid);
        if (it != session->in_flight_.end()) {
            topic = it->second;
            session->in_flight_.erase(it);
        }
        // A refused message is reported once per topic and connection, and
        // not sent again: the next change of the value is.
        if (reason >= 0x80) report = session->refused_topics_.insert(topic).second;
    }
    session->wake_.notify_all();
    if (report)
        session->listener_.OnProblem("BUSPUBREFUSED",
                                     (topic.empty() ? std::string("a topic") : topic) + ": " + ReasonText(reason));
}

void MqttSession::OnSubscribeThunk(mosquitto*, void* self, int mid, int count, const int* granted,
                                   const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    std::string filter;
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        auto it = session->subscriptions_.find(mid);
        if (it != session->subscriptions_.end()) {
            filter = it->second;
            session->subscriptions_.erase(it);
        }
    }
    for (int i = 0; i < count && granted != nullptr; ++i) {
        if (granted[i] >= 0x80)
            session->listener_.OnProblem("BUSSUBREFUSED",
                                         (filter.empty() ? session->settings_.prefix + "/#" : filter) + ": " +
                                             ReasonText(granted[i]));
    }
}
