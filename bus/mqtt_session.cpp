#include "bus/mqtt_session.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

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

std::uint32_t VarintBytes(std::uint32_t n) { return n < 128 ? 1 : n < 16384 ? 2 : n < 2097152 ? 3 : 4; }

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
    // The broker keeps the session across link drops (clean start off); a
    // client without an id cannot have one.
    const bool keep = !settings_.client_id.empty() && settings_.session_expiry_s > 0;
    client_ = mosquitto_new(settings_.client_id.empty() ? nullptr : settings_.client_id.c_str(), !keep, this);
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
    // TLS: only our own context, nothing of the library's defaults. A
    // library built without TLS says so here rather than connect in plain.
    if (settings_.tls.Enabled() &&
        mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) == MOSQ_ERR_NOT_SUPPORTED) {
        error = "this build has no TLS support: CaFile, CertFile and KeyFile cannot be used";
        return false;
    }
    if (settings_.presence.topic.empty()) settings_.presence.topic = settings_.prefix + "/status";
    if (settings_.presence.qos < 0) settings_.presence.qos = settings_.qos;
    if (!SetWill(error)) return false;
    thread_ = std::thread(&MqttSession::Run, this);
    return true;
}

bool MqttSession::SetWill(std::string& error) {
    std::string will = listener_.WillPayload();
    const Presence& p = settings_.presence;
    const int rc = mosquitto_will_set_v5(client_, p.topic.c_str(), static_cast<int>(will.size()), will.data(), p.qos,
                                         p.retain, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("last will refused: ") + mosquitto_strerror(rc);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    will_ = std::move(will);
    return true;
}

int MqttSession::StableMs() const { return std::clamp(settings_.reconnect_max_ms, 10000, 60000); }

std::uint32_t MqttSession::PacketSize(std::size_t topic, std::size_t payload, int qos, std::size_t correlation) {
    const std::uint64_t props = correlation > 0 ? 3 + correlation : 0;
    const std::uint64_t remaining = 2 + topic + (qos > 0 ? 2 : 0) + VarintBytes(static_cast<std::uint32_t>(props)) +
                                    props + payload;
    if (remaining > 268435455u) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(1 + VarintBytes(static_cast<std::uint32_t>(remaining)) + remaining);
}

void MqttSession::Report(const char* key, std::string detail) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.emplace_back(key, std::move(detail));
    }
    wake_.notify_all();
}

void MqttSession::DeliverReports() {
    std::vector<std::pair<const char*, std::string>> reports;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reports.swap(reports_);
    }
    for (const auto& [key, detail] : reports) listener_.OnProblem(key, detail);
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
    // Larger than the broker takes: refused here (the broker would drop
    // the connection for it), reported once per topic and connection.
    const std::size_t correlation_size = correlation != nullptr ? std::min<std::size_t>(correlation->size(), 65535) : 0;
    const std::uint32_t size = PacketSize(topic.size(), payload.size(), qos, correlation_size);
    const std::uint32_t max_packet = max_packet_.load(std::memory_order_relaxed);
    auto too_large = [&](const std::string& why) {
        if (refusal != nullptr) *refusal = why;
        bool report = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            report = refused_topics_.insert(topic).second;
        }
        if (report) Report("BUSPUBTOOBIG", topic + ": " + why);
        return false;
    };
    if (max_packet > 0 && size > max_packet)
        return too_large("the message is " + std::to_string(size) + " bytes, the broker takes at most " +
                         std::to_string(max_packet));
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
    if (rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_PAYLOAD_SIZE)
        return too_large("the message is " + std::to_string(size) + " bytes: " + mosquitto_strerror(rc));
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
        closing_ = true;
    }
    // Messages that arrive from now on are not handled (their answers could
    // not be finished); what is in flight (the last answers and refusals, at
    // QoS 2 delivered only once the broker has their release) is finished
    // first, then the explicit
    // "offline" goes out and is acknowledged before the orderly disconnect
    // (after which the broker drops the will and the session).
    bool connected = Connected();
    if (connected) {
        int mid = 0;
        // Locked before the publish, so that an acknowledgement read at once
        // finds the message id.
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, kOfflineWait,
                       [this] { return (in_flight_.empty() && listener_calls_ == 0) || !connected_; });
        if (PublishWill(will_, &mid) == MOSQ_ERR_SUCCESS) {
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
    // An orderly end: the broker drops the session it would keep.
    mosquitto_property* props = nullptr;
    if (settings_.session_expiry_s > 0)
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0);
    mosquitto_disconnect_v5(client_, MQTT_RC_NORMAL_DISCONNECTION, props);
    mosquitto_property_free_all(&props);
    thread_.join();
}

int MqttSession::PublishWill(const std::string& will, int* mid) {
    const Presence& p = settings_.presence;
    return mosquitto_publish_v5(client_, mid, p.topic.c_str(), static_cast<int>(will.size()), will.data(),
                                std::max(1, p.qos), p.retain, nullptr);
}

void MqttSession::Restart() {
    // The death goes out before the orderly disconnect, after which the
    // broker drops the will; the network thread disconnects (RestartDue).
    // Locked before the publish, so that an acknowledgement read at once
    // finds the message id.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_ || closing_ || restarting_) return;
    restarting_ = true;
    int mid = -1;
    restart_acked_ = PublishWill(will_, &mid) != MOSQ_ERR_SUCCESS;
    restart_mid_ = mid;
    restart_by_ = std::chrono::steady_clock::now() + kOfflineWait;
}

bool MqttSession::RestartDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!restarting_ || restart_disconnecting_) return false;
    if (!restart_acked_ && std::chrono::steady_clock::now() < restart_by_) return false;
    restart_disconnecting_ = true;
    return true;
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
        if (!reports_.empty()) {
            lock.unlock();
            DeliverReports();
            lock.lock();
            continue;
        }
        SteadyTime now = std::chrono::steady_clock::now();
        if (now >= end) break;
        SteadyTime until = std::min(end, next_timer_);
        wake_.wait_until(lock, until, [this] { return stopping_ || !reports_.empty(); });
        now = std::chrono::steady_clock::now();
        if (now >= next_timer_) {
            lock.unlock();
            SteadyTime next = listener_.OnTimer(now);
            lock.lock();
            next_timer_ = next;
        }
    }
}

bool MqttSession::InstallTls() {
    std::string error;
    ssl_ctx_st* ctx = tls_check_.Build(settings_.tls, settings_.host, error);
    if (ctx == nullptr) {
        listener_.OnProblem("BUSTLSFILE", error);
        return false;
    }
    // The client takes a reference of its own and, when replaced, drops
    // the one it held on the previous context without freeing it: that one
    // is released here.
    const int rc = mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, ctx);
    SSL_CTX_free(ctx);
    if (rc != MOSQ_ERR_SUCCESS) {
        listener_.OnProblem("BUSTLSFILE", std::string("the TLS context is refused: ") + mosquitto_strerror(rc));
        return false;
    }
    if (installed_ctx_ != nullptr) SSL_CTX_free(installed_ctx_);
    installed_ctx_ = ctx;
    return true;
}

int MqttSession::ReportEnd(int rc, bool connect_failed) {
    bool refused = false, taken_over = false, connack = false;
    int pause = 0, drops = 0;
    int reason = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const SteadyTime now = std::chrono::steady_clock::now();
        refused = refused_;
        refused_ = false;
        connack = connack_seen_;
        reason = disconnect_reason_;
        // A connection that stayed up long enough starts the pauses afresh.
        const bool was_up = connack && !refused && !connect_failed;
        const bool stable = was_up && now - connected_at_ >= std::chrono::milliseconds(StableMs());
        if (stable) backoff_ms_ = std::max(1, settings_.reconnect_min_ms);
        // A takeover: the broker says so (reason 142), or, where it only
        // closes the old connection, it closes accepted connections again
        // and again while it keeps accepting new ones.
        const bool dropped = was_up && !stable && reason == 0 && rc == MOSQ_ERR_CONN_LOST;
        quick_drops_ = dropped ? quick_drops_ + 1 : 0;
        taken_over = reason == MQTT_RC_SESSION_TAKEN_OVER || quick_drops_ >= 2;
        drops = quick_drops_;
        if (was_up) lost_at_ = now;
        connected_ = false;
        const int max = std::max(settings_.reconnect_max_ms, 1);
        if (taken_over) backoff_ms_ = std::min(backoff_ms_ * 2, max);
        pause = backoff_ms_;
        backoff_ms_ = std::min(backoff_ms_ * 2, max);
    }
    wake_.notify_all();
    const std::string tls = settings_.tls.Enabled() ? tls_check_.Reason() : std::string();
    if (!tls.empty()) {
        listener_.OnProblem("BUSTLS", Where() + ": " + tls);
    } else if (taken_over) {
        // Reason 142 is the broker's word; quick drops only suggest it (a
        // link that keeps failing looks the same).
        listener_.OnProblem("BUSTAKENOVER",
                            reason == MQTT_RC_SESSION_TAKEN_OVER
                                ? "the client id " + settings_.client_id + " is used by another station or process (" +
                                      Where() + ")"
                                : "the client id " + settings_.client_id +
                                      " is used by another station or process, or the link keeps failing (" + Where() +
                                      " closed " + std::to_string(drops) + " connections soon after accepting them)");
    } else if (refused) {
        // Reported by the connect callback already.
    } else if (connect_failed) {
        listener_.OnProblem("BUSNOBROKER", Where() + ": " + mosquitto_strerror(rc));
    } else if (!connack && !settings_.tls.Enabled()) {
        listener_.OnProblem("BUSNOCONNACK", Where() + ": is it a TLS listener? set CaFile");
    } else if (reason >= 0x80) {
        listener_.OnProblem("BUSLOST", Where() + ": the broker disconnected: " + ReasonText(reason));
    } else {
        listener_.OnProblem("BUSLOST", Where() + ": " + mosquitto_strerror(rc));
    }
    return pause;
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
        DeliverReports();
        if (!socket_open) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                connack_seen_ = false;
                disconnect_reason_ = 0;
            }
            if (settings_.tls.Enabled() && !InstallTls()) {
                int pause = 0;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    pause = backoff_ms_;
                    backoff_ms_ = std::min(backoff_ms_ * 2, std::max(settings_.reconnect_max_ms, 1));
                }
                Pause(pause);
                continue;
            }
            int rc = MOSQ_ERR_SUCCESS;
            std::string will_error;
            if (!first && !SetWill(will_error)) listener_.OnProblem("BUSSETTINGS", will_error);
            if (first) {
                mosquitto_property* props = nullptr;
                if (settings_.session_expiry_s > 0)
                    mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                                 static_cast<std::uint32_t>(settings_.session_expiry_s));
                rc = mosquitto_connect_bind_v5(client_, settings_.host.c_str(), settings_.port, settings_.keepalive_s,
                                               nullptr, props);
                mosquitto_property_free_all(&props);
            } else {
                rc = mosquitto_reconnect(client_);
            }
            first = false;
            if (rc != MOSQ_ERR_SUCCESS) {
                Pause(ReportEnd(rc, true));
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
        if (rc == MOSQ_ERR_SUCCESS && RestartDue())  // the loop then ends the connection
            mosquitto_disconnect_v5(client_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next_timer_ = next;
            if (rc == MOSQ_ERR_SUCCESS) continue;
            if (stopping_) break;  // the disconnect is written and the socket closed
        }
        socket_open = false;
        bool restart = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            restart = restarting_;
            restarting_ = false;
            restart_mid_ = -1;
            restart_disconnecting_ = false;
            if (restart) connected_ = false;
        }
        if (restart) continue;  // asked for: connects again at once, with its new will
        Pause(ReportEnd(rc, false));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
}

// ---- callbacks (network thread) -------------------------------------------

void MqttSession::OnConnectThunk(mosquitto*, void* self, int rc, int flags, const mosquitto_property* props) {
    auto* session = static_cast<MqttSession*>(self);
    if (rc != 0) {
        {
            std::lock_guard<std::mutex> lock(session->mutex_);
            session->refused_ = true;
            session->connack_seen_ = true;
        }
        session->listener_.OnProblem("BUSREFUSED", session->Where() + ": " + ReasonText(rc));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        const SteadyTime now = std::chrono::steady_clock::now();
        session->connected_ = true;
        session->connack_seen_ = true;
        session->refused_ = false;
        session->connected_at_ = now;
        // What the kept session delivers before the first SUBACK waited at
        // the broker, at most the outage (unknown for an earlier run's).
        session->from_queue_ = (flags & 1) != 0;
        session->queued_max_ms_ =
            session->ever_connected_
                ? std::chrono::duration_cast<std::chrono::milliseconds>(now - session->lost_at_).count()
                : std::numeric_limits<std::int64_t>::max();
        session->ever_connected_ = true;
        std::uint32_t max_packet = 0;
        mosquitto_property_read_int32(props, MQTT_PROP_MAXIMUM_PACKET_SIZE, &max_packet, false);
        session->max_packet_ = max_packet;
        session->refused_topics_.clear();
        session->subscriptions_.clear();
    }
    // Our own messages are not sent back to us, nor retained messages of
    // the topics unless asked for (the bridge publishes state; it does not
    // read it back); the retain flag is the publisher's.
    for (const Subscription& sub : session->settings_.subscriptions) {
        // The broker's answer is read on this thread, after this callback.
        int mid = 0;
        const int options = MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED |
                            (sub.retained ? 0 : MQTT_SUB_OPT_SEND_RETAIN_NEVER);
        if (mosquitto_subscribe_v5(session->client_, &mid, sub.filter.c_str(),
                                   sub.qos >= 0 ? sub.qos : session->settings_.qos, options, nullptr) != MOSQ_ERR_SUCCESS)
            continue;
        std::lock_guard<std::mutex> lock(session->mutex_);
        session->subscriptions_[mid] = sub.filter;
    }
    const Presence& p = session->settings_.presence;
    if (!p.online.empty()) session->PublishTo(p.topic, p.online, p.retain, nullptr, p.qos);
    // The listener republishes after this loop pass, once the client has
    // queued again what was in flight when the last connection ended:
    // the current values then go out last.
    std::lock_guard<std::mutex> lock(session->mutex_);
    session->just_connected_ = true;
}

void MqttSession::OnDisconnectThunk(mosquitto*, void* self, int rc, const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    {
        // The broker's DISCONNECT reason (a takeover is 142; the library's
        // own errors are below 0x80).
        std::lock_guard<std::mutex> lock(session->mutex_);
        session->connected_ = false;
        if (rc >= 0x80 && session->disconnect_reason_ == 0) session->disconnect_reason_ = rc;
    }
    session->wake_.notify_all();
}

void MqttSession::OnMessageThunk(mosquitto*, void* self, const mosquitto_message* message,
                                 const mosquitto_property* props) {
    auto* session = static_cast<MqttSession*>(self);
    if (message == nullptr || message->topic == nullptr) return;
    BusMessage m;
    m.topic = message->topic;
    m.retained = message->retain;
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
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        if (session->closing_) return;  // stopping: no answer could be finished
        ++session->listener_calls_;
        m.queued = session->from_queue_;
        m.queued_max_ms = m.queued ? session->queued_max_ms_ : 0;
    }
    session->listener_.OnMessage(m);
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        --session->listener_calls_;
    }
    session->wake_.notify_all();
}

void MqttSession::OnPublishThunk(mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
    auto* session = static_cast<MqttSession*>(self);
    std::string topic;
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(session->mutex_);
        if (mid == session->offline_mid_) session->offline_acked_ = true;
        if (mid == session->restart_mid_) session->restart_acked_ = true;
        auto it = session->in_flight_.find(mid);
        if (it != session->in_flight_.end()) {
            topic = it->second;
            session->in_flight_.erase(it);
        }
        // A refused message is reported once per topic and connection, and
        // not sent again: the next change of the value is.
        // (A PUBCOMP "packet identifier not found" after a broker that lost
        // the session: the message had been taken, its PUBREC was in.)
        if (reason >= 0x80 && reason != MQTT_RC_PACKET_ID_NOT_FOUND)
            report = session->refused_topics_.insert(topic).second;
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
        session->from_queue_ = false;  // the kept session's queue has been delivered
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
