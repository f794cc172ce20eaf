// Payloads of the plant bus: a tag value as text on the way out, and the
// type-aware reader of the text that arrives for a tag on the way in.
//
// Out: integers in decimal, reals in the shortest decimal form that reads
// back to the same number, texts in UTF-8 (the tag holds them in the
// station's code page); the empty text is one zero byte, because an empty
// retained message would delete the retained value.
// In: integers are one optional sign and decimal digits (leading zeros
// allowed) within the tag's range; reals are a finite decimal number
// (exponent allowed, one sign); texts are UTF-8 that the station's code
// page can show, at most the kernel's text capacity in bytes of that code
// page, without zero bytes; an empty payload and one zero byte are the
// empty text. Blanks around a number are ignored. Anything else is refused
// with a short reason that the bridge reports as it stands (ASCII).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kernel/value_record.h"

// A tag value in the bus's own terms.
struct BusValue {
    std::int16_t type = kTagInt16;
    std::int64_t integer = 0;  // types 0, 1, 4
    double real = 0.0;         // type 2
    std::string text;          // type 3, in the station's code page

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

// The UTF-8 `text` as a JSON string: quotes, backslashes and control
// characters below 0x20 escaped, other UTF-8 kept; a byte that is not part
// of valid UTF-8 becomes U+FFFD, so any byte string gives valid JSON in
// valid UTF-8.
std::string JsonString(std::string_view text);

// A value as a JSON item: a number for integers and finite reals, else a
// string (texts in UTF-8).
std::string JsonValue(const BusValue& value);
