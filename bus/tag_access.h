// Single-tag reads and writes of the bus in the bus's own value form, with
// texts up to the kernel's full text capacity (the frame's tag objects hold
// 79 characters). Each call takes the kernel access lock for the second
// task id (the calling thread's id when it already holds one), so the MQTT
// thread never waits for the main thread's blocking trigger wait.
#pragma once

#include <cstdint>

#include "bus/payload.h"
#include "kernel/value_record.h"

// The tag's type code from the kernel, or kTagNotConfigured.
std::int16_t QueryTagType(TagRef ref);

// Reads the tag's current value. 0, or the kernel's error code (`out`
// unchanged).
std::int32_t ReadTagValue(TagRef ref, std::int16_t type, BusValue& out);

// Writes `value` (of the tag's type) with a plain write. 0, or the
// kernel's error code; nothing is reported here.
std::int32_t WriteTagValue(TagRef ref, const BusValue& value);
