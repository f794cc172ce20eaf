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

class TagObject;

// Types the bus carries: the integers, reals and texts (no blocks).
bool BusCarriesType(std::int16_t type);

// The payload of a tag object's value.
std::string FormatPayload(const TagObject& value);

// Reads `payload` as a value of the tag object's type into it. False with
// `reason` set when it does not fit; the value is then unchanged.
bool ParsePayload(std::string_view payload, TagObject& into, std::string& reason);

// One optional sign and decimal digits within the range of `type` (a
// 16-bit or a 32-bit integer), blanks around them ignored.
bool ParseInteger(std::int16_t type, std::string_view text, std::int64_t& out, std::string& reason);

// The UTF-8 `text` as a JSON string: quotes, backslashes and control
// characters below 0x20 escaped, other UTF-8 kept; a byte that is not part
// of valid UTF-8 becomes U+FFFD, so any byte string gives valid JSON in
// valid UTF-8.
std::string JsonString(std::string_view text);

// A value as a JSON item: a number for integers and finite reals, else a
// string (texts in UTF-8); "null" for a tag object not configured.
std::string JsonValue(const TagObject& value);
