// Payloads of the plant bus: a tag value as text on the way out, and the
// type-aware reader of the text that arrives for a tag on the way in.
//
// Out: integers in decimal, reals in the shortest decimal form that reads
// back to the same number, texts as they are.
// In: integers are an optional sign and decimal digits within the tag's
// range; reals are a finite decimal number (exponent allowed); texts are
// taken as they are, up to the kernel's text capacity and without zero
// bytes. Blanks around a number are ignored. Anything else is refused with
// a short reason that the bridge reports as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/value_record.h"

// A tag value in the bus's own terms.
struct BusValue {
    std::int16_t type = kTagInt16;
    std::int64_t integer = 0;  // types 0, 1, 4
    double real = 0.0;         // type 2
    std::string text;          // type 3

    bool operator==(const BusValue& other) const;
};

// Types the bus carries: the integers, reals and texts (no blocks).
bool BusCarriesType(std::int16_t type);

// The payload of a value.
std::string FormatPayload(const BusValue& value);

// The payload of a value as the kernel delivers it in a change record
// (texts: the record's pointer and length).
std::string FormatRecord(std::int16_t type, const ValueRecord& record);

// Reads `payload` as a value of `type`. False with `reason` set when it
// does not fit; `out` is then unchanged.
bool ParsePayload(std::int16_t type, std::string_view payload, BusValue& out, std::string& reason);

// A value of the same type that differs from `value` (0 or 1 for numbers,
// an empty or one-blank text): written first when a command must change a
// trigger that already holds the value asked for.
BusValue DifferentValue(const BusValue& value);

// The next value of a counting trigger: one up, 1 after the type's
// largest value, never 0.
BusValue NextCount(const BusValue& value);

// `text` as a JSON string (quotes and escapes; bytes of 0x80 and above as
// \u00XX, so any byte string gives valid JSON).
std::string JsonString(std::string_view text);

// A value as a JSON item: a number for integers and finite reals, else a
// string.
std::string JsonValue(const BusValue& value);
