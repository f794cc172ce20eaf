// vdbus: follow and drive the plant bus from a console.
//
//   TLS: --cafile FILE (TLS on, the broker verified and its name checked),
//   --cert FILE --key FILE (a client certificate, unencrypted key),
//   --tls-version tlsv1.2|tlsv1.3, --insecure (the name not checked)
//
//   vdbus [-h HOST] [-p PORT] [-u USER] [-P PASSWORD] watch [--count N] [--timeout MS] PREFIX
//       prints every message under PREFIX ("TOPIC = PAYLOAD", "(retained)"
//       for retained ones) as it arrives; Sparkplug B messages (a PREFIX
//       such as spBv1.0/<group>) decoded: seq, then each metric as
//       name=value, by the names its node's birth gave the aliases
//   vdbus [...] call [--timeout MS] TOPIC [PAYLOAD]
//       sends an MQTT 5 command with a response topic and correlation data,
//       prints the answer and the time it took; exit code 1 without answer
//   vdbus [...] pub [--retain] TOPIC PAYLOAD
//       publishes one message
//   vdbus [...] ncmd TOPIC METRIC TYPE VALUE
//       publishes a Sparkplug B NCMD with one metric written by name (TYPE
//       Int16, Int32, Int64, Double, Boolean or String)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bus/sparkplug_payload.h"
#include "tools/vdbus/bus_client.h"

namespace {

constexpr const char* kUsage =
    "usage: vdbus [-h HOST] [-p PORT] [-u USER] [-P PASSWORD]\n"
    "             [--cafile FILE [--cert FILE --key FILE] [--tls-version tlsv1.2|tlsv1.3] [--insecure]] COMMAND\n"
    "  watch [--count N] [--timeout MS] PREFIX   print what is published under PREFIX\n"
    "  call [--timeout MS] TOPIC [PAYLOAD]       send a command, print its answer and latency\n"
    "  pub [--retain] TOPIC PAYLOAD              publish one message\n"
    "  ncmd TOPIC METRIC TYPE VALUE              write one Sparkplug B metric (Int16, Int32, Int64, Double,\n"
    "                                            Boolean, String)\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool Number(const std::string& text, long& out) {
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && out >= 0;
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    return out;
}

// A Sparkplug B message as text; `names` keeps each node's aliases from its
// births. Empty when the topic is not a node's message.
std::string Sparkplug(const std::string& topic, const std::string& payload,
                      std::map<std::string, std::map<std::uint64_t, std::string>>& names) {
    // spBv1.0/<group>/<type>/<node>
    const std::size_t a = topic.find('/'), b = topic.find('/', a + 1), c = topic.find('/', b + 1);
    if (topic.rfind("spBv1.0/", 0) != 0 || c == std::string::npos || topic.find('/', c + 1) != std::string::npos)
        return {};
    const std::string type = topic.substr(b + 1, c - b - 1);
    const std::string node = topic.substr(0, b) + "/" + topic.substr(c + 1);
    sparkplug::Payload p;
    std::string error;
    if (!sparkplug::Decode(payload, p, error)) return "(" + error + ")";
    std::map<std::uint64_t, std::string>& aliases = names[node];
    if (type == "NBIRTH") aliases.clear();
    std::string out = p.seq ? "seq=" + std::to_string(*p.seq) : std::string();
    for (const sparkplug::Metric& m : p.metrics) {
        if (type == "NBIRTH" && m.name && m.alias) aliases[*m.alias] = *m.name;
        std::string name = m.name ? *m.name : m.alias && aliases.count(*m.alias) ? aliases[*m.alias] : "?";
        if (m.alias) name += "(" + std::to_string(*m.alias) + ")";
        std::string value = "null";
        std::int64_t n = 0;
        const auto t = static_cast<sparkplug::DataType>(m.datatype.value_or(sparkplug::kUnknown));
        if (m.is_null) value = "null";
        else if (m.field == sparkplug::ValueField::kString) value = "\"" + Printable(m.text) + "\"";
        else if (m.field == sparkplug::ValueField::kFloat || m.field == sparkplug::ValueField::kDouble)
            value = std::to_string(m.real);
        else if (m.field == sparkplug::ValueField::kBoolean) value = m.integer ? "true" : "false";
        else if (sparkplug::IntegerOf(m, t, n)) value = std::to_string(n);
        else if (m.field != sparkplug::ValueField::kNone) value = std::to_string(m.integer);
        out += (out.empty() ? "" : "  ") + name + "=" + value;
    }
    return out;
}

int Watch(BusClient& client, const std::vector<std::string>& args) {
    long count = -1, timeout_ms = -1;
    std::string prefix;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--count" || args[i] == "--timeout") && i + 1 < args.size()) {
            if (!Number(args[i + 1], args[i] == "--count" ? count : timeout_ms)) return Usage();
            ++i;
        } else if (prefix.empty()) {
            prefix = args[i];
        } else {
            return Usage();
        }
    }
    if (prefix.empty()) return Usage();
    if (!client.Subscribe(prefix + "/#", 5000)) {
        std::fprintf(stderr, "vdbus: subscription to %s/# refused\n", prefix.c_str());
        return 1;
    }
    auto end = BusClient::Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::size_t shown = 0;
    std::map<std::string, std::map<std::uint64_t, std::string>> names;
    while (count < 0 || static_cast<long>(shown) < count) {
        int wait = 1000;
        if (timeout_ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - BusClient::Clock::now()).count();
            if (left <= 0) break;
            wait = static_cast<int>(std::min<long long>(left, 1000));
        }
        client.WaitForMore(shown, wait);
        std::vector<BusClient::Received> all = client.Messages();
        for (; shown < all.size() && (count < 0 || static_cast<long>(shown) < count); ++shown) {
            std::string text = Sparkplug(all[shown].topic, all[shown].payload, names);
            if (text.empty()) text = Printable(all[shown].payload);
            std::printf("%s = %s%s\n", all[shown].topic.c_str(), text.c_str(), all[shown].retained ? "  (retained)" : "");
            std::fflush(stdout);
        }
    }
    return 0;
}

int Call(BusClient& client, const std::vector<std::string>& args) {
    long timeout_ms = 10000;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--timeout" && i + 1 < args.size()) {
            if (!Number(args[i + 1], timeout_ms)) return Usage();
            ++i;
        } else {
            rest.push_back(args[i]);
        }
    }
    if (rest.empty() || rest.size() > 2) return Usage();
    BusClient::Received answer;
    double micros = 0;
    const std::string payload = rest.size() > 1 ? rest[1] : "";
    if (!client.Call(rest[0], payload, static_cast<int>(timeout_ms), answer, micros)) {
        std::printf("%s %s  NO ANSWER within %ld ms\n", rest[0].c_str(), Printable(payload).c_str(), timeout_ms);
        return 1;
    }
    std::printf("%s %s  answered after %.0f us  %s\n", rest[0].c_str(), Printable(payload).c_str(), micros,
                Printable(answer.payload).c_str());
    return 0;
}

int Pub(BusClient& client, const std::vector<std::string>& args) {
    bool retain = false;
    std::vector<std::string> rest;
    for (const std::string& a : args) {
        if (a == "--retain") retain = true;
        else rest.push_back(a);
    }
    if (rest.size() != 2) return Usage();
    if (!client.Publish(rest[0], rest[1], retain)) return 1;
    // Give the client's thread the moment to send it before disconnecting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

int Ncmd(BusClient& client, const std::vector<std::string>& args) {
    if (args.size() != 4) return Usage();
    const std::string& type = args[2];
    const std::string& value = args[3];
    sparkplug::Payload p;
    p.timestamp = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::system_clock::now().time_since_epoch())
                                                 .count());
    sparkplug::Metric& m = p.metrics.emplace_back();
    m.name = args[1];
    char* end = nullptr;
    if (type == "String") {
        m.SetString(value);
    } else if (type == "Boolean" && (value == "true" || value == "false")) {
        m.SetBoolean(value == "true");
    } else if (type == "Double") {
        m.SetReal(sparkplug::kDouble, std::strtod(value.c_str(), &end));
        if (value.empty() || *end != '\0') return Usage();
    } else if (type == "Int16" || type == "Int32" || type == "Int64") {
        const long long n = std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') return Usage();
        m.SetInt(type == "Int16" ? sparkplug::kInt16 : type == "Int32" ? sparkplug::kInt32 : sparkplug::kInt64, n);
    } else {
        return Usage();
    }
    if (!client.Publish(args[0], sparkplug::Encode(p))) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    BusClient::Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string opt = argv[i];
        if (opt == "--insecure") {
            options.tls.insecure = true;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        long number = 0;
        if (opt == "-h") options.host = value;
        else if (opt == "-p" && Number(value, number) && number > 0 && number < 65536) options.port = static_cast<int>(number);
        else if (opt == "-u") options.user = value;
        else if (opt == "-P") options.password = value;
        else if (opt == "--cafile") options.tls.ca_file = value;
        else if (opt == "--cert") options.tls.cert_file = value;
        else if (opt == "--key") options.tls.key_file = value;
        else if (opt == "--tls-version" && ParseTlsVersion(value) != 0) options.tls.min_version = ParseTlsVersion(value);
        else return Usage();
    }
    if (options.tls.cert_file.empty() != options.tls.key_file.empty() ||
        (!options.tls.Enabled() && (!options.tls.cert_file.empty() || options.tls.insecure)))
        return Usage();
    if (i >= argc) return Usage();
    const std::string command = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);
    BusClient client(options);
    std::string error;
    if (!client.Connect(5000, error)) {
        std::fprintf(stderr, "vdbus: %s\n", error.c_str());
        return 1;
    }
    int rc = 2;
    if (command == "watch") rc = Watch(client, args);
    else if (command == "call") rc = Call(client, args);
    else if (command == "pub") rc = Pub(client, args);
    else if (command == "ncmd") rc = Ncmd(client, args);
    else rc = Usage();
    client.Disconnect();
    return rc;
}
