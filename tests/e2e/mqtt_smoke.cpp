// One message through the MQTT client library and a broker on 127.0.0.1
// (port in VD_MQTT_PORT, see with_broker.sh): a subscriber on the library's
// own network thread, a publisher that drives the network loop itself. Proves
// that the library as built for this target connects, subscribes, publishes
// and delivers a binary payload intact. Every wait is bounded.
#include <mosquitto.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

constexpr auto wait_limit = std::chrono::seconds(15);
constexpr int keepalive_seconds = 30;

// What the subscriber's callbacks saw, written on the library's thread.
struct Subscriber {
  std::mutex lock;
  std::condition_variable changed;
  int connect_result = -1;
  int granted_qos = -1;
  int messages = 0;
  std::string topic;
  std::string payload;
  int qos = -1;
  bool retain = true;

  template <typename Ready>
  bool wait_for(Ready ready) {
    std::unique_lock held(lock);
    return changed.wait_for(held, wait_limit, ready);
  }
};

// What the publisher's callbacks saw, written inside mosquitto_loop().
struct Publisher {
  int connect_result = -1;
  int published_mid = -1;
};

// A client, disconnected and destroyed on every way out; a running network
// thread is stopped first.
class Client {
 public:
  Client(const char* id, void* state) : client_(mosquitto_new(id, true, state)) {}
  ~Client() {
    if (client_ == nullptr) return;
    mosquitto_disconnect(client_);
    if (threaded_) mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  mosquitto* get() const { return client_; }
  int start_thread() {
    int rc = mosquitto_loop_start(client_);
    threaded_ = rc == MOSQ_ERR_SUCCESS;
    return rc;
  }
  int stop_thread() {
    mosquitto_disconnect(client_);
    threaded_ = false;
    return mosquitto_loop_stop(client_, false);
  }

 private:
  mosquitto* client_;
  bool threaded_ = false;
};

int fail(const char* step, int rc) {
  std::printf("mqtt_smoke: %s failed: %s (%d)\n", step, mosquitto_strerror(rc), rc);
  return 1;
}

int fail(const char* step) {
  std::printf("mqtt_smoke: %s\n", step);
  return 1;
}

bool port_from(const char* text, int& port) {
  if (text == nullptr) return false;
  std::string_view s(text);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), port);
  return ec == std::errc() && end == s.data() + s.size() && port > 0 && port <= 65535;
}

// Runs the publisher's network loop until done() or the time limit.
template <typename Done>
bool pump(mosquitto* client, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + wait_limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    int rc = mosquitto_loop(client, 100, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
      std::printf("mqtt_smoke: publisher loop: %s\n", mosquitto_strerror(rc));
      return false;
    }
  }
  return true;
}

int run(int port) {
  int major = 0, minor = 0, revision = 0;
  mosquitto_lib_version(&major, &minor, &revision);
  if (major != LIBMOSQUITTO_MAJOR || minor != LIBMOSQUITTO_MINOR || revision != LIBMOSQUITTO_REVISION) {
    return fail("library and header versions differ");
  }
  std::printf("mqtt_smoke: library %d.%d.%d, broker port %d\n", major, minor, revision, port);

  const std::string topic = "vd/smoke/" + std::to_string(port) + "/in";
  // Every byte value class a text path could mangle: NUL, high bytes, CR LF.
  using namespace std::string_literals;
  const std::string payload = "\x01" "A\0b\xff\x80\r\nz"s;

  Subscriber sub_state;
  Client sub_client("vd-smoke-sub", &sub_state);
  mosquitto* sub = sub_client.get();
  if (sub == nullptr) return fail("creating the subscriber");
  mosquitto_connect_callback_set(sub, [](mosquitto*, void* obj, int rc) {
    auto* s = static_cast<Subscriber*>(obj);
    std::lock_guard held(s->lock);
    s->connect_result = rc;
    s->changed.notify_all();
  });
  mosquitto_subscribe_callback_set(sub, [](mosquitto*, void* obj, int, int count, const int* granted) {
    auto* s = static_cast<Subscriber*>(obj);
    std::lock_guard held(s->lock);
    s->granted_qos = count > 0 ? granted[0] : -1;
    s->changed.notify_all();
  });
  mosquitto_message_callback_set(sub, [](mosquitto*, void* obj, const mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(obj);
    std::lock_guard held(s->lock);
    ++s->messages;
    s->topic = m->topic;
    s->payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    s->qos = m->qos;
    s->retain = m->retain;
    s->changed.notify_all();
  });

  int rc = mosquitto_connect(sub, "127.0.0.1", port, keepalive_seconds);
  if (rc != MOSQ_ERR_SUCCESS) return fail("subscriber connect", rc);
  rc = sub_client.start_thread();
  if (rc != MOSQ_ERR_SUCCESS) return fail("starting the network thread", rc);
  if (!sub_state.wait_for([&] { return sub_state.connect_result >= 0; })) return fail("no CONNACK for the subscriber");
  if (sub_state.connect_result != 0) return fail("subscriber refused by the broker");
  rc = mosquitto_subscribe(sub, nullptr, topic.c_str(), 1);
  if (rc != MOSQ_ERR_SUCCESS) return fail("subscribe", rc);
  if (!sub_state.wait_for([&] { return sub_state.granted_qos >= 0; })) return fail("no SUBACK");
  if (sub_state.granted_qos != 1) return fail("subscription not granted at QoS 1");

  Publisher pub_state;
  Client pub_client("vd-smoke-pub", &pub_state);
  mosquitto* pub = pub_client.get();
  if (pub == nullptr) return fail("creating the publisher");
  mosquitto_connect_callback_set(pub, [](mosquitto*, void* obj, int rc) {
    static_cast<Publisher*>(obj)->connect_result = rc;
  });
  mosquitto_publish_callback_set(pub, [](mosquitto*, void* obj, int mid) {
    static_cast<Publisher*>(obj)->published_mid = mid;
  });
  rc = mosquitto_connect(pub, "127.0.0.1", port, keepalive_seconds);
  if (rc != MOSQ_ERR_SUCCESS) return fail("publisher connect", rc);
  if (!pump(pub, [&] { return pub_state.connect_result >= 0; })) return fail("no CONNACK for the publisher");
  if (pub_state.connect_result != 0) return fail("publisher refused by the broker");
  int mid = -1;
  rc = mosquitto_publish(pub, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false);
  if (rc != MOSQ_ERR_SUCCESS) return fail("publish", rc);
  if (!pump(pub, [&] { return pub_state.published_mid == mid; })) return fail("no PUBACK for the message");

  if (!sub_state.wait_for([&] { return sub_state.messages > 0; })) return fail("message not received");
  {
    std::lock_guard held(sub_state.lock);
    if (sub_state.messages != 1) return fail("message received more than once");
    if (sub_state.topic != topic) return fail("message arrived on another topic");
    if (sub_state.payload != payload) return fail("payload changed on the way");
    if (sub_state.qos != 1 || sub_state.retain) return fail("message flags changed on the way");
  }

  rc = sub_client.stop_thread();
  if (rc != MOSQ_ERR_SUCCESS) return fail("stopping the network thread", rc);
  std::printf("mqtt_smoke: message delivered\n");
  return 0;
}

}  // namespace

int main() {
  int port = 0;
  if (!port_from(std::getenv("VD_MQTT_PORT"), port)) return fail("VD_MQTT_PORT is not a port number");
  mosquitto_lib_init();
  int result = run(port);
  mosquitto_lib_cleanup();
  std::fflush(stdout);
  return result;
}
