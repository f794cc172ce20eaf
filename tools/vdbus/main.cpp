// vdbus: follow and drive the plant bus from a console.
//
//   TLS: --cafile FILE (TLS on, the broker verified and its name checked),
//   --cert FILE --key FILE (a client certificate, unencrypted key),
//   --tls-version tlsv1.2|tlsv1.3, --insecure (the name not checked)
//
//   vdbus [-h HOST] [-p PORT] [-u USER] [-P PASSWORD] watch [--count N] [--timeout MS] PREFIX
//       prints every message under PREFIX ("TOPIC = PAYLOAD", "(retained)"
//       for retained ones) as it arrives
//   vdbus [...] call [--timeout MS] TOPIC [PAYLOAD]
//       sends an MQTT 5 command with a response topic and correlation data,
//       prints the answer and the time it took; exit code 1 without answer
//   vdbus [...] pub [--retain] TOPIC PAYLOAD
//       publishes one message
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/vdbus/bus_client.h"

namespace {

constexpr const char* kUsage =
    "usage: vdbus [-h HOST] [-p PORT] [-u USER] [-P PASSWORD]\n"
    "             [--cafile FILE [--cert FILE --key FILE] [--tls-version tlsv1.2|tlsv1.3] [--insecure]] COMMAND\n"
    "  watch [--count N] [--timeout MS] PREFIX   print what is published under PREFIX\n"
    "  call [--timeout MS] TOPIC [PAYLOAD]       send a command, print its answer and latency\n"
    "  pub [--retain] TOPIC PAYLOAD              publish one message\n";

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
            std::printf("%s = %s%s\n", all[shown].topic.c_str(), Printable(all[shown].payload).c_str(),
                        all[shown].retained ? "  (retained)" : "");
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
    else rc = Usage();
    client.Disconnect();
    return rc;
}
