// The Sparkplug B payload as plain values, and its encoding to and from the
// protocol-buffers form (bus/sparkplug_b.proto). Decoding takes input from
// outside: its size, its metric count and each text's length are checked
// before anything is used, and what cannot be decoded is refused with a
// reason, never half taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sparkplug {

// The standard's data type numbers this bridge uses or recognises.
enum DataType : std::uint32_t {
    kUnknown = 0,
    kInt8 = 1,
    kInt16 = 2,
    kInt32 = 3,
    kInt64 = 4,
    kUInt8 = 5,
    kUInt16 = 6,
    kUInt32 = 7,
    kUInt64 = 8,
    kFloat = 9,
    kDouble = 10,
    kBoolean = 11,
    kString = 12,
    kDateTime = 13,
    kText = 14,
};

// Which value field of a metric is set.
enum class ValueField { kNone, kInt, kLong, kFloat, kDouble, kBoolean, kString, kBytes };

struct Metric {
    std::optional<std::string> name;
    std::optional<std::uint64_t> alias;
    std::optional<std::uint64_t> timestamp;
    std::optional<std::uint32_t> datatype;
    bool is_null = false;
    ValueField field = ValueField::kNone;
    std::uint64_t integer = 0;  // kInt (32 bits), kLong, kBoolean (0/1): the raw field
    double real = 0;            // kFloat, kDouble
    std::string text;           // kString, kBytes

    // Setters that pick the field the standard gives each type: Int8 to
    // Int32 as 32-bit two's complement in the 32-bit field, Int64 as 64-bit
    // two's complement in the 64-bit one.
    void SetInt(DataType type, std::int64_t value);
    void SetReal(DataType type, double value);
    void SetBoolean(bool value);
    void SetString(std::string value);
};

struct Payload {
    std::optional<std::uint64_t> timestamp;
    std::optional<std::uint64_t> seq;
    std::vector<Metric> metrics;
};

// The limits of a payload taken from outside.
inline constexpr std::size_t kMaxPayloadBytes = 256 * 1024;
inline constexpr std::size_t kMaxMetrics = 4096;
inline constexpr std::size_t kMaxTextBytes = 64 * 1024;

std::string Encode(const Payload& payload);
// False with `error` set when `bytes` is no payload or exceeds a limit.
bool Decode(std::string_view bytes, Payload& payload, std::string& error);

// A metric's integer value read as `type` (Int8 to Int64, UInt8 to UInt64,
// Boolean), from whichever integer field holds it; false when none does or
// the value does not fit the type. The 32-bit field takes the type's own
// width in two's complement as well as its sign-extension to 32 bits.
bool IntegerOf(const Metric& metric, DataType type, std::int64_t& value);

}  // namespace sparkplug
