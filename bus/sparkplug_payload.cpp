#include "bus/sparkplug_payload.h"

#include <cstring>
#include <limits>
#include <memory>

#include "sparkplug_b.pb-c.h"

namespace sparkplug {

void Metric::SetInt(DataType type, std::int64_t value) {
    datatype = type;
    if (type == kInt64 || type == kUInt64 || type == kDateTime) {
        field = ValueField::kLong;
        integer = static_cast<std::uint64_t>(value);
    } else {
        field = ValueField::kInt;
        integer = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    }
}

void Metric::SetReal(DataType type, double value) {
    datatype = type;
    field = type == kFloat ? ValueField::kFloat : ValueField::kDouble;
    real = value;
}

void Metric::SetBoolean(bool value) {
    datatype = kBoolean;
    field = ValueField::kBoolean;
    integer = value ? 1 : 0;
}

void Metric::SetString(std::string value) {
    datatype = kString;
    field = ValueField::kString;
    text = std::move(value);
}

std::string Encode(const Payload& payload) {
    std::vector<Spb__Payload__Metric> metrics(payload.metrics.size());
    std::vector<Spb__Payload__Metric*> pointers(payload.metrics.size());
    for (std::size_t i = 0; i < payload.metrics.size(); ++i) {
        const Metric& in = payload.metrics[i];
        Spb__Payload__Metric& m = metrics[i];
        spb__payload__metric__init(&m);
        pointers[i] = &m;
        // The generated structure takes non-const texts; packing only reads them.
        if (in.name) m.name = const_cast<char*>(in.name->c_str());
        if (in.alias) m.has_alias = 1, m.alias = *in.alias;
        if (in.timestamp) m.has_timestamp = 1, m.timestamp = *in.timestamp;
        if (in.datatype) m.has_datatype = 1, m.datatype = *in.datatype;
        if (in.is_null) m.has_is_null = 1, m.is_null = 1;
        switch (in.is_null ? ValueField::kNone : in.field) {
            case ValueField::kNone: break;
            case ValueField::kInt:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_INT_VALUE;
                m.int_value = static_cast<std::uint32_t>(in.integer);
                break;
            case ValueField::kLong:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_LONG_VALUE;
                m.long_value = in.integer;
                break;
            case ValueField::kFloat:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_FLOAT_VALUE;
                m.float_value = static_cast<float>(in.real);
                break;
            case ValueField::kDouble:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE;
                m.double_value = in.real;
                break;
            case ValueField::kBoolean:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
                m.boolean_value = in.integer != 0;
                break;
            case ValueField::kString:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_STRING_VALUE;
                m.string_value = const_cast<char*>(in.text.c_str());
                break;
            case ValueField::kBytes:
                m.value_case = SPB__PAYLOAD__METRIC__VALUE_BYTES_VALUE;
                m.bytes_value.len = in.text.size();
                m.bytes_value.data = reinterpret_cast<std::uint8_t*>(const_cast<char*>(in.text.data()));
                break;
        }
    }
    Spb__Payload p;
    spb__payload__init(&p);
    if (payload.timestamp) p.has_timestamp = 1, p.timestamp = *payload.timestamp;
    if (payload.seq) p.has_seq = 1, p.seq = *payload.seq;
    p.n_metrics = pointers.size();
    p.metrics = pointers.data();
    std::string bytes(spb__payload__get_packed_size(&p), '\0');
    spb__payload__pack(&p, reinterpret_cast<std::uint8_t*>(bytes.data()));
    return bytes;
}

namespace {

struct Unpacked {
    void operator()(Spb__Payload* p) const { spb__payload__free_unpacked(p, nullptr); }
};

bool TextOf(const char* s, const char* what, std::string& out, std::string& error) {
    const std::size_t n = s != nullptr ? ::strnlen(s, kMaxTextBytes + 1) : 0;
    if (n > kMaxTextBytes) {
        error = std::string(what) + " longer than " + std::to_string(kMaxTextBytes) + " bytes";
        return false;
    }
    out.assign(s != nullptr ? s : "", n);
    return true;
}

}  // namespace

bool Decode(std::string_view bytes, Payload& payload, std::string& error) {
    payload = {};
    if (bytes.size() > kMaxPayloadBytes) {
        error = "payload of " + std::to_string(bytes.size()) + " bytes, more than " + std::to_string(kMaxPayloadBytes);
        return false;
    }
    std::unique_ptr<Spb__Payload, Unpacked> p(
        spb__payload__unpack(nullptr, bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data())));
    if (!p) {
        error = "not a Sparkplug B payload";
        return false;
    }
    if (p->n_metrics > kMaxMetrics) {
        error = std::to_string(p->n_metrics) + " metrics, more than " + std::to_string(kMaxMetrics);
        return false;
    }
    Payload out;
    if (p->has_timestamp) out.timestamp = p->timestamp;
    if (p->has_seq) out.seq = p->seq;
    out.metrics.resize(p->n_metrics);
    for (std::size_t i = 0; i < p->n_metrics; ++i) {
        const Spb__Payload__Metric& m = *p->metrics[i];
        Metric& o = out.metrics[i];
        if (m.name != nullptr) {
            std::string name;
            if (!TextOf(m.name, "a metric name", name, error)) return false;
            o.name = std::move(name);
        }
        if (m.has_alias) o.alias = m.alias;
        if (m.has_timestamp) o.timestamp = m.timestamp;
        if (m.has_datatype) o.datatype = m.datatype;
        o.is_null = m.has_is_null && m.is_null;
        switch (m.value_case) {
            case SPB__PAYLOAD__METRIC__VALUE_INT_VALUE: o.field = ValueField::kInt, o.integer = m.int_value; break;
            case SPB__PAYLOAD__METRIC__VALUE_LONG_VALUE: o.field = ValueField::kLong, o.integer = m.long_value; break;
            case SPB__PAYLOAD__METRIC__VALUE_FLOAT_VALUE: o.field = ValueField::kFloat, o.real = m.float_value; break;
            case SPB__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE: o.field = ValueField::kDouble, o.real = m.double_value; break;
            case SPB__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE:
                o.field = ValueField::kBoolean, o.integer = m.boolean_value ? 1 : 0;
                break;
            case SPB__PAYLOAD__METRIC__VALUE_STRING_VALUE:
                o.field = ValueField::kString;
                if (!TextOf(m.string_value, "a text value", o.text, error)) return false;
                break;
            case SPB__PAYLOAD__METRIC__VALUE_BYTES_VALUE:
                if (m.bytes_value.len > kMaxTextBytes) {
                    error = "a bytes value longer than " + std::to_string(kMaxTextBytes) + " bytes";
                    return false;
                }
                o.field = ValueField::kBytes;
                o.text.assign(reinterpret_cast<const char*>(m.bytes_value.data), m.bytes_value.len);
                break;
            default: break;
        }
    }
    payload = std::move(out);
    return true;
}

bool IntegerOf(const Metric& metric, DataType type, std::int64_t& value) {
    if (metric.is_null) return false;
    std::int64_t lo = 0, hi = 0;
    int bits = 0;  // the width of a type carried in the 32-bit field; 0: the 64-bit one
    switch (type) {
        case kBoolean: lo = 0, hi = 1; break;
        case kInt8: lo = -128, hi = 127, bits = 8; break;
        case kInt16: lo = -32768, hi = 32767, bits = 16; break;
        case kInt32: lo = std::numeric_limits<std::int32_t>::min(), hi = std::numeric_limits<std::int32_t>::max(), bits = 32; break;
        case kUInt8: hi = 255; break;
        case kUInt16: hi = 65535; break;
        case kUInt32: hi = std::numeric_limits<std::uint32_t>::max(); break;
        case kInt64: lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max(); break;
        case kUInt64:
        case kDateTime: hi = std::numeric_limits<std::int64_t>::max(); break;
        default: return false;
    }
    std::int64_t v = 0;
    switch (metric.field) {
        case ValueField::kBoolean:
            if (type != kBoolean) return false;
            v = static_cast<std::int64_t>(metric.integer);
            break;
        case ValueField::kInt: {
            const auto raw = static_cast<std::uint32_t>(metric.integer);
            if (bits == 32) v = static_cast<std::int32_t>(raw);
            else if (bits > 0 && raw >= (1u << (bits - 1)) && raw < (1u << bits)) v = static_cast<std::int64_t>(raw) - (std::int64_t{1} << bits);
            else if (bits > 0) v = static_cast<std::int32_t>(raw);
            else v = raw;
            break;
        }
        case ValueField::kLong:
            if (type == kInt64) v = static_cast<std::int64_t>(metric.integer);
            else if (metric.integer > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
            else v = static_cast<std::int64_t>(metric.integer);
            break;
        default: return false;
    }
    if (v < lo || v > hi) return false;
    value = v;
    return true;
}

}  // namespace sparkplug
