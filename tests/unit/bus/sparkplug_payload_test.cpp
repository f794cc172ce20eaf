// The Sparkplug B payload's wire rules that a host relies on (signed
// integers in two's complement, which field each type takes) and the
// limits of a payload from outside.
#include <gtest/gtest.h>

#include <string>

#include "bus/sparkplug_payload.h"

namespace sparkplug {
namespace {

TEST(SparkplugPayload, ValuesKeepTheirFieldAndSignedIntegersAreTwosComplement) {
    Payload p;
    p.timestamp = 1700000000123;
    p.seq = 254;
    p.metrics.resize(5);
    p.metrics[0].name = "line/speed";
    p.metrics[0].alias = 7;
    p.metrics[0].timestamp = 1700000000456;
    p.metrics[0].SetInt(kInt32, -5);
    p.metrics[1].alias = 9;
    p.metrics[1].SetInt(kInt64, -3);
    p.metrics[2].SetReal(kFloat, 2.5);
    p.metrics[3].SetString("Nacht\xC3\xA4");
    p.metrics[4].name = "Node Control/Rebirth";
    p.metrics[4].SetBoolean(true);
    Payload q;
    std::string error;
    ASSERT_TRUE(Decode(Encode(p), q, error)) << error;
    EXPECT_EQ(q.timestamp, 1700000000123u);
    EXPECT_EQ(q.seq, 254u);
    ASSERT_EQ(q.metrics.size(), 5u);
    const Metric& m = q.metrics[0];
    EXPECT_EQ(m.name, "line/speed");
    EXPECT_EQ(m.alias, 7u);
    EXPECT_EQ(m.timestamp, 1700000000456u);
    EXPECT_EQ(m.datatype, kInt32);
    EXPECT_EQ(m.field, ValueField::kInt);
    EXPECT_EQ(m.integer, 4294967291u);
    EXPECT_FALSE(q.metrics[1].name);
    EXPECT_EQ(q.metrics[1].field, ValueField::kLong);
    EXPECT_EQ(q.metrics[1].integer, 0xFFFFFFFFFFFFFFFDu);
    EXPECT_EQ(q.metrics[2].field, ValueField::kFloat);
    EXPECT_EQ(q.metrics[2].real, 2.5);
    EXPECT_EQ(q.metrics[3].text, "Nacht\xC3\xA4");
    EXPECT_EQ(q.metrics[3].datatype, kString);
    EXPECT_EQ(q.metrics[4].field, ValueField::kBoolean);
    EXPECT_EQ(q.metrics[4].integer, 1u);
}

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
