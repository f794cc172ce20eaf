// The Sparkplug B payload's integer rules (two's complement in either
// width, each type's range) and the limits of a payload from outside. The
// encoding itself is checked against an independent codec end to end
// (tests/e2e/sparkplug).
#include <gtest/gtest.h>

#include <string>

#include "bus/sparkplug_payload.h"

namespace sparkplug {
namespace {

TEST(SparkplugPayload, IntegersAreReadInTheirTypesRange) {
    struct Case {
        ValueField field;
        std::uint64_t raw;
        DataType type;
        bool ok;
        std::int64_t value;
    } cases[] = {
        {ValueField::kInt, 0xFFFFFFFB, kInt16, true, -5},   // sign-extended to 32 bits
        {ValueField::kInt, 0xFFFB, kInt16, true, -5},       // the type's own width
        {ValueField::kInt, 0x7FFF, kInt16, true, 32767},
        {ValueField::kInt, 70000, kInt16, false, 0},
        {ValueField::kInt, 0x80, kInt8, true, -128},
        {ValueField::kInt, 0x80000000, kInt32, true, -2147483648LL},
        {ValueField::kInt, 65536, kUInt16, false, 0},
        {ValueField::kLong, 0xFFFFFFFFFFFFFFFE, kInt64, true, -2},
        {ValueField::kLong, 40000, kInt16, false, 0},
        {ValueField::kLong, 123, kInt32, true, 123},
        {ValueField::kBoolean, 1, kBoolean, true, 1},
        {ValueField::kBoolean, 1, kInt16, false, 0},
        {ValueField::kInt, 2, kBoolean, false, 0},
        {ValueField::kString, 0, kInt32, false, 0},
    };
    for (const Case& c : cases) {
        Metric m;
        m.field = c.field;
        m.integer = c.raw;
        std::int64_t v = 99;
        EXPECT_EQ(IntegerOf(m, c.type, v), c.ok) << c.raw << " as " << c.type;
        EXPECT_EQ(v, c.ok ? c.value : 99) << c.raw << " as " << c.type;
    }
    Metric null;
    null.SetInt(kInt32, 4);
    null.is_null = true;
    std::int64_t v = 0;
    EXPECT_FALSE(IntegerOf(null, kInt32, v));
}

TEST(SparkplugPayload, WhatExceedsALimitOrIsNoPayloadIsRefused) {
    Payload p, q;
    std::string error;
    EXPECT_FALSE(Decode(std::string("\x12\xFF\x01\x0A", 4), q, error));  // a metric longer than the payload
    EXPECT_EQ(error, "not a Sparkplug B payload");
    EXPECT_FALSE(Decode(std::string(kMaxPayloadBytes + 1, '\0'), q, error));
    p.metrics.resize(kMaxMetrics + 1);
    EXPECT_FALSE(Decode(Encode(p), q, error));
    EXPECT_NE(error.find("metrics"), std::string::npos) << error;
    p.metrics.resize(1);
    p.metrics[0].SetString(std::string(kMaxTextBytes + 1, 'x'));
    EXPECT_FALSE(Decode(Encode(p), q, error));
    EXPECT_TRUE(q.metrics.empty());
    p.metrics[0].SetString(std::string(kMaxTextBytes, 'x'));
    EXPECT_TRUE(Decode(Encode(p), q, error)) << error;
}

}  // namespace
}  // namespace sparkplug
