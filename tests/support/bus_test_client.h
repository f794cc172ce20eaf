// An MQTT client of the tests on the test broker, connected and subscribed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/vdbus/bus_client.h"

namespace vdtest {

// A client with `o` subscribed to `filters`; `error` is empty, or says
// what failed.
inline std::unique_ptr<BusClient> ConnectClient(const BusClient::Options& o, const std::vector<std::string>& filters,
                                                std::string& error) {
    auto client = std::make_unique<BusClient>(o);
    error.clear();
    if (!client->Connect(10000, error)) error = "cannot connect: " + error;
    for (const std::string& filter : filters)
        if (error.empty() && !client->Subscribe(filter, 10000)) error = "cannot subscribe to " + filter;
    return client;
}

// Whether a message text holds `part`.
inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline BusClient::Options ClientOn(int port) {
    BusClient::Options o;
    o.port = port;
    return o;
}

}  // namespace vdtest
