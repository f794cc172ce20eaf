#include "tools/vdbus/bus_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

void InitLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::atomic<unsigned long> g_client_number{0};

}  // namespace

BusClient::BusClient(Options options) : options_(std::move(options)) {}

BusClient::~BusClient() {
    Disconnect();
    if (client_ != nullptr) mosquitto_destroy(client_);
}

bool BusClient::Connect(int timeout_ms, std::string& error) {
    InitLibrary();
    if (client_ == nullptr) {
        client_ = mosquitto_new(options_.client_id.empty() ? nullptr : options_.client_id.c_str(),
                                options_.clean_start || options_.client_id.empty(), this);
        if (client_ == nullptr) {
            error = "the MQTT client cannot be created";
            return false;
        }
        mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                             options_.protocol == 4 ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
        mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_v5_callback_set(client_, &BusClient::OnConnect);
        mosquitto_subscribe_v5_callback_set(client_, &BusClient::OnSubscribe);
        mosquitto_message_v5_callback_set(client_, &BusClient::OnMessage);
        if (!options_.user.empty())
            mosquitto_username_pw_set(client_, options_.user.c_str(),
                                      options_.password.empty() ? nullptr : options_.password.c_str());
        if (!options_.will_topic.empty())
            mosquitto_will_set_v5(client_, options_.will_topic.c_str(), static_cast<int>(options_.will_payload.size()),
                                  options_.will_payload.data(), 1, true, nullptr);
        if (options_.tls.Enabled()) {
            // The session's own context: the broker verified, its name checked.
            ssl_ctx_st* ctx = tls_check_.Build(options_.tls, options_.host, error);
            if (ctx == nullptr) return false;
            int rc = mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
            if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, ctx);
            SSL_CTX_free(ctx);
            if (rc != MOSQ_ERR_SUCCESS) {
                error = std::string("TLS cannot be used: ") + mosquitto_strerror(rc);
                return false;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connect_reason_ = -1;
    }
    mosquitto_property* props = nullptr;
    if (!options_.clean_start && options_.session_expiry_s > 0 && options_.protocol != 4)
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                     static_cast<std::uint32_t>(options_.session_expiry_s));
    int rc = mosquitto_connect_bind_v5(client_, options_.host.c_str(), options_.port, 30, nullptr, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("cannot connect to ") + options_.host + ":" + std::to_string(options_.port) + ": " +
                mosquitto_strerror(rc);
        return false;
    }
    if (!loop_started_) {
        if (mosquitto_loop_start(client_) != MOSQ_ERR_SUCCESS) {
            error = "the client's network thread cannot be started";
            return false;
        }
        loop_started_ = true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return connect_reason_ >= 0; })) {
        const std::string tls = tls_check_.Reason();
        error = tls.empty() ? "no answer from the broker" : tls;
        return false;
    }
    if (connect_reason_ != 0) {
        error = std::string("refused by the broker: ") + mosquitto_reason_string(connect_reason_);
        return false;
    }
    return true;
}

int BusClient::ConnectReason() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connect_reason_;
}

bool BusClient::Subscribe(const std::string& filter, int timeout_ms) {
    if (client_ == nullptr) return false;
    int mid = 0;
    if (mosquitto_subscribe_v5(client_, &mid, filter.c_str(), options_.qos, 0, nullptr) != MOSQ_ERR_SUCCESS)
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return last_suback_mid_ == mid; }))
        return false;
    return last_suback_granted_ < 0x80;
}

bool BusClient::Publish(const std::string& topic, const std::string& payload, bool retain,
                        const std::string* response_topic, const std::string* correlation) {
    if (client_ == nullptr) return false;
    mosquitto_property* props = nullptr;
    if (options_.protocol != 4) {
        if (response_topic != nullptr)
            mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, response_topic->c_str());
        if (correlation != nullptr)
            mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                          static_cast<std::uint16_t>(correlation->size()));
    }
    int rc = mosquitto_publish_v5(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                  options_.qos, retain, props);
    mosquitto_property_free_all(&props);
    return rc == MOSQ_ERR_SUCCESS;
}

bool BusClient::WaitFor(const std::function<bool(const Received&)>& match, int timeout_ms, Received* out) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t checked = 0;
    auto found = [&] {
        for (; checked < messages_.size(); ++checked) {
            if (match(messages_[checked])) {
                if (out != nullptr) *out = messages_[checked];
                return true;
            }
        }
        return false;
    };
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), found);
}

bool BusClient::WaitForTopic(const std::string& topic, int timeout_ms, Received* out) {
    return WaitFor([&](const Received& m) { return m.topic == topic; }, timeout_ms, out);
}

bool BusClient::WaitForMore(std::size_t count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return messages_.size() > count; });
}

std::vector<BusClient::Received> BusClient::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<BusClient::Received> BusClient::Take(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !messages_.empty(); });
    std::vector<Received> taken;
    taken.swap(messages_);
    return taken;
}

void BusClient::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

bool BusClient::Call(const std::string& topic, const std::string& payload, int timeout_ms, Received& answer,
                     double& micros) {
    if (reply_topic_.empty()) {
        reply_topic_ = "vdbus/reply/" + std::to_string(g_client_number++) + "-" +
                       std::to_string(Clock::now().time_since_epoch().count());
        if (!Subscribe(reply_topic_, timeout_ms)) return false;
    }
    const std::string correlation = "c" + std::to_string(++call_count_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }
    const Clock::time_point start = Clock::now();
    if (!Publish(topic, payload, false, &reply_topic_, &correlation)) return false;
    bool ok = WaitFor(
        [&](const Received& m) { return m.topic == reply_topic_ && m.has_correlation && m.correlation == correlation; },
        timeout_ms, &answer);
    micros = std::chrono::duration<double, std::micro>((ok ? answer.at : Clock::now()) - start).count();
    return ok;
}

void BusClient::Disconnect() {
    if (client_ == nullptr || !loop_started_) return;
    mosquitto_disconnect_v5(client_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    mosquitto_loop_stop(client_, false);
    loop_started_ = false;
}

void BusClient::OnConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* client = static_cast<BusClient*>(self);
    {
        std::lock_guard<std::mutex> lock(client->mutex_);
        client->connect_reason_ = rc;
    }
    client->changed_.notify_all();
}

void BusClient::OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                            const mosquitto_property*) {
    auto* client = static_cast<BusClient*>(self);
    {
        std::lock_guard<std::mutex> lock(client->mutex_);
        client->last_suback_mid_ = mid;
        client->last_suback_granted_ = count > 0 && granted != nullptr ? granted[0] : 0x80;
    }
    client->changed_.notify_all();
}

void BusClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* props) {
    auto* client = static_cast<BusClient*>(self);
    if (message == nullptr || message->topic == nullptr) return;
    Received r;
    r.at = Clock::now();
    r.topic = message->topic;
    if (message->payload != nullptr && message->payloadlen > 0)
        r.payload.assign(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    r.retained = message->retain;
    void* data = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false) != nullptr) {
        r.has_correlation = true;
        if (data != nullptr) r.correlation.assign(static_cast<const char*>(data), length);
    }
    std::free(data);
    {
        std::lock_guard<std::mutex> lock(client->mutex_);
        client->messages_.push_back(std::move(r));
    }
    client->changed_.notify_all();
}
