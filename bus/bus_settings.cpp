#include "bus/bus_settings.h"

#include <algorithm>
#include <fstream>

#include "bus/bus_rows.h"
#include "bus/payload.h"
#include "frame/settings.h"
#include "frame/status_message.h"
#include "frame/task_state.h"
#include "platform/computer_name.h"
#include "support/utf8.h"

namespace {

// One level of a topic made from a name: blanks, wildcards and slashes
// become "_"; an empty name is "_".
std::string TopicLevel(const char* name) {
    std::string level = name == nullptr ? "" : name;
    for (char& c : level)
        if (static_cast<unsigned char>(c) <= 0x20 || c == '+' || c == '#' || c == '/' || c == 0x7F) c = '_';
    return level.empty() ? "_" : level;
}

}  // namespace

bool ValidPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') return false;
    if (prefix.find("//") != std::string_view::npos) return false;
    for (unsigned char c : prefix)
        if (c <= 0x20 || c == '+' || c == '#' || c == 0x7F) return false;
    return true;
}

std::string Shown(std::string_view text) {
    constexpr std::size_t kShown = 64;
    std::string out;
    for (unsigned char c : text.substr(0, kShown)) out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    if (text.size() > kShown) out += "...";
    return out;
}

std::string DefaultPrefix(const char* app, const char* domain, const char* station) {
    return TopicLevel(app) + "/" + TopicLevel(domain) + "/" + TopicLevel(station);
}

BusSettings ReadBusSettings(const SettingsFiles& files) {
    BusSettings settings;
    BrokerSettings& s = settings.broker;
    const TaskState& state = task_state();
    auto text = [&files](const char* section, const char* key) { return ReadSetting(files, section, key, ""); };
    auto number = [&](const char* section, const char* key, int fallback, int low, int high) {
        std::string value = text(section, key);
        if (value.empty()) return fallback;
        std::string reason;
        std::int64_t parsed = 0;
        if (ParseInteger(kTagInt32, value, parsed, reason) && parsed >= low && parsed <= high)
            return static_cast<int>(parsed);
        const std::string report = std::string(key) + "=" + Shown(value) + " is not a number from " +
                                   std::to_string(low) + " to " + std::to_string(high) + ", " +
                                   std::to_string(fallback) + " is used";
        StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        return fallback;
    };

    s.host = text("Broker", "Host");
    if (s.host.empty()) s.host = "127.0.0.1";
    s.port = number("Broker", "Port", 1883, 1, 65535);
    s.keepalive_s = number("Broker", "KeepAlive", 30, 5, 65535);
    s.user = CodePageToUtf8(text("Broker", "User"));
    s.password = text("Broker", "Password");
    const std::string password_file = text("Broker", "PasswordFile");
    if (!password_file.empty()) {
        std::ifstream in(password_file, std::ios::binary);
        std::string line;
        if (in && std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            s.password = line;
        } else {
            const std::string report = "password file " + Shown(password_file) + " cannot be read";
            StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        }
    }
    s.tls = ReadTlsSettings([&](const char* key) { return text("Broker", key); },
                            [](const std::string& report) { StatusMessage(kLevelError, "BUSSETTINGS", report.c_str()); });
    s.session_expiry_s = number("Bus", "SessionExpiryS", 60, 0, 86400);
    s.reconnect_min_ms = number("Broker", "ReconnectMinMs", 500, 10, 600000);
    s.reconnect_max_ms = std::max(s.reconnect_min_ms, number("Broker", "ReconnectMaxMs", 30000, 10, 3600000));

    std::string station = text("Bus", "Station");
    if (station.empty()) {
        char name[256] = {};
        win::DWORD size = sizeof name;
        if (win::GetComputerNameA(name, &size)) station = name;
    }
    settings.station = station;
    // A prefix setting with a wildcard, a blank or an empty level is
    // reported and its default used.
    auto prefix = [&](const char* key, std::string fallback) {
        // Topics are UTF-8 on the wire; the settings are in the code page.
        std::string value = CodePageToUtf8(text("Bus", key));
        if (!value.empty() && !ValidPrefix(value)) {
            const std::string report = std::string(key) + "=" + Shown(value) +
                                       " holds a wildcard, a blank or an empty level; the default is used";
            StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
            value.clear();
        }
        return value.empty() ? fallback : value;
    };
    s.prefix = prefix("TopicPrefix", CodePageToUtf8(DefaultPrefix(state.vd_name, state.vd_domain, station.c_str())));
    s.broadcast_prefix =
        prefix("BroadcastPrefix", CodePageToUtf8(DefaultBroadcastPrefix(state.vd_name, state.vd_domain)));
    if (PrefixesOverlap(s.prefix, s.broadcast_prefix)) {
        // A broadcast would also be the station's own command (and arrive
        // twice): such a station takes no broadcasts.
        const std::string report = "BroadcastPrefix " + Shown(s.broadcast_prefix) + " overlaps TopicPrefix " +
                                   Shown(s.prefix) + "; this station takes no broadcasts";
        StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        s.broadcast_prefix.clear();
    }
    s.client_id = text("Broker", "ClientId");
    if (s.client_id.empty())
        s.client_id = "vdmqtt-" + TopicLevel(state.vd_name) + "-" + TopicLevel(state.vd_domain) + "-" +
                      TopicLevel(station.c_str());
    s.client_id = CodePageToUtf8(s.client_id);  // MQTT strings are UTF-8
    s.qos = number("Bus", "QoS", 1, 0, 2);
    settings.command_timeout_ms =
        static_cast<std::uint32_t>(number("Bus", "CommandTimeoutMs", 5000, 1, static_cast<int>(kMaxCommandTimeoutMs)));
    return settings;
}

std::string DefaultBroadcastPrefix(const char* app, const char* domain) {
    return TopicLevel(app) + "/" + TopicLevel(domain) + "/all";
}

bool PrefixesOverlap(std::string_view a, std::string_view b) {
    return TopicUnder(a, b) || TopicUnder(b, a);
}

bool TopicUnder(std::string_view topic, std::string_view prefix) {
    return !prefix.empty() && topic.size() >= prefix.size() && topic.compare(0, prefix.size(), prefix) == 0 &&
           (topic.size() == prefix.size() || topic[prefix.size()] == '/');
}

