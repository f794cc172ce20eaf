// The independent Sparkplug host (host.js) as a test drives it: started by
// the broker's side (a Linux program, also when the tests run under wine64),
// its events taken in order from "vdtest/host/event", its requests sent on
// "vdtest/host/do" and waited for. Every event it reports must be free of
// errors.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/bus/test_broker.h"
#include "tests/support/bus_test_client.h"

namespace bustest {

class SparkplugHost {
public:
    // Why the host cannot run here; empty when it can.
    static std::string Unavailable() {
        return std::string(VD_NODE).empty() ? "no Node.js with the host's packages (scripts/install-deps.sh)" : "";
    }

    ~SparkplugHost() {
        if (events_) events_->Publish("vdtest/host/do", "{\"quit\":true}");
    }

    // Starts the host on `broker` following `node` of `group` ("+": every
    // node) as primary host `host_id`, and waits until it is ready.
    bool Start(TestBroker& broker, const std::filesystem::path& output, const std::string& group,
               const std::string& node, const std::string& host_id, std::string& error) {
        events_ = vdtest::ConnectClient(vdtest::ClientOn(broker.port()), {"vdtest/host/event"}, error);
        if (!error.empty()) return false;
        if (!broker.StartHelper({"/usr/bin/env", "NODE_PATH=" VD_NODE_MODULES, VD_NODE, VD_SPARKPLUG_HOST,
                                 std::to_string(broker.port()), group, node, host_id},
                                output, error))
            return false;
        if (Event("ready").empty()) return error = "the host did not start", false;
        return true;
    }

    // The next event of `type` after the last one taken whose text holds
    // `part`, taken; empty when none comes within `wait_ms`.
    std::string Event(const std::string& type, const std::string& part = "", int wait_ms = 10000) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);;) {
            const std::vector<BusClient::Received> all = events_->Messages();
            for (; next_ < all.size(); ++next_) {
                const std::string& e = all[next_].payload;
                EXPECT_FALSE(vdtest::Has(e, "\"errors\":[\"")) << e;
                if (vdtest::Has(e, "\"type\":\"" + type + "\"") && vdtest::Has(e, part)) return all[next_++].payload;
            }
            if (std::chrono::steady_clock::now() > end) return {};
            events_->WaitForMore(all.size(), 200);
        }
    }

    // Asks the host, and waits until it has done it.
    bool Do(const std::string& request) {
        return events_->Publish("vdtest/host/do", request) && !Event("done").empty();
    }

    // A request to write one metric (to `node` when given).
    static std::string Write(const std::string& name, const std::string& type, const std::string& value,
                             bool by_alias = false, const std::string& node = "") {
        return "{\"ncmd\":[{\"name\":\"" + name + "\",\"type\":\"" + type + "\",\"value\":" + value +
               (by_alias ? ",\"byAlias\":true" : "") + "}]" + (node.empty() ? "" : ",\"node\":\"" + node + "\"") +
               "}";
    }

private:
    std::unique_ptr<BusClient> events_;
    std::size_t next_ = 0;
};

}  // namespace bustest
