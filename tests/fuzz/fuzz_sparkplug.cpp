// Sparkplug B payload decoder: arbitrary bytes as an NCMD payload. What it
// gives stays within the limits, and a decoded payload encodes and decodes
// to the same metrics.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bus/sparkplug_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sparkplug;
    Payload p, again;
    std::string error;
    if (!Decode(std::string(reinterpret_cast<const char*>(data), size), p, error)) {
        if (error.empty() || !p.metrics.empty()) std::abort();
        return 0;
    }
    if (p.metrics.size() > kMaxMetrics) std::abort();
    for (const Metric& m : p.metrics) {
        if (m.text.size() > kMaxTextBytes || (m.name && m.name->size() > kMaxTextBytes)) std::abort();
        std::int64_t v = 0;
        if (IntegerOf(m, kInt16, v) && (v < -32768 || v > 32767)) std::abort();
    }
    if (!Decode(Encode(p), again, error) || again.metrics.size() != p.metrics.size()) std::abort();
    return 0;
}
