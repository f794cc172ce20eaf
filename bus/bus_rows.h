// The rows of the plant bus, built from the task's configuration archive
// (VDMQTT.ct), and the topic rules they follow.
//
// Table type 1, tag rows (54 bytes):
//   tag       the tag
//   u16       flags: 1 publish its value, 2 accept writes on <topic>/set
//   text48    topic under the prefix
// Table type 2, command rows (82 bytes):
//   tag       trigger
//   tag       done tag (the handler writes 1 when it is finished)
//   tag       argument tag, or none: where a command's payload goes
//   tag x4    result tags, or none (answered in this order)
//   u16       mode: 0 value, 1 pulse, 2 count (see CommandMode), plus
//             256 (kCommandBroadcast) when the row also takes broadcasts
//   u32       timeout in ms (0: the "CommandTimeoutMs" setting)
//   text48    topic under the prefix
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/task_tables.h"
#include "frame/tag_object.h"
#include "kernel/kernel.h"
#include "kernel/value_record.h"

inline constexpr std::int32_t kTagRowTableType = 1;
inline constexpr std::int32_t kCommandRowTableType = 2;
inline constexpr std::uint32_t kTagRowSize = 54;
inline constexpr std::uint32_t kCommandRowSize = 82;
inline constexpr int kRowTopicSize = 48;
inline constexpr int kResultTags = 4;
inline constexpr std::uint32_t kMaxCommandTimeoutMs = 600000;

enum TagRowFlags : std::uint16_t {
    kRowPublish = 1,
    kRowAcceptWrites = 2,
};

// How a command changes its trigger.
enum CommandMode : std::uint16_t {
    // The trigger gets the payload (or 1 with an argument tag); one that
    // already holds it is first set to another value.
    kCommandValue = 0,
    // The trigger gets 1 and goes back to 0 after the answer.
    kCommandPulse = 1,
    // The trigger counts up by one per command (never 0).
    kCommandCount = 2,
};

// The trigger values of a command. Whether two values of one tag are the
// same (a write of the value a tag holds is no change).
bool SameValue(const TagObject& a, const TagObject& b);
// Into `out` (of the same tag), a value that differs from `value`: 0 or 1
// for numbers, an empty or a one-blank text; written first when a command
// must change a trigger that already holds the value asked for.
void SetDifferent(TagObject& out, const TagObject& value);
// The next value of a counting trigger: one up, 1 after the type's largest
// value or below 0, never 0.
std::int32_t NextCount(const TagObject& value);

// A flag bit of the mode word: the row also answers the fleet's broadcast
// "<broadcast prefix>/<topic>/call". A bit of the existing word keeps the
// 82-byte row of stored archives; those hold 0 there, and a bridge that
// does not know the bit refuses the row (mode above 2) rather than quietly
// leave the station out of a broadcast.
inline constexpr std::uint16_t kCommandBroadcast = 0x0100;
inline constexpr std::uint16_t kCommandModeMask = 0x00FF;

struct TagPoint {
    TagRef ref = kInvalidTagRef;
    std::int16_t type = kTagNotConfigured;
    bool Configured() const { return type != kTagNotConfigured; }
    // A tag object for the tag, texts up to the kernel's full capacity (no
    // kernel call).
    TagObject Value() const { return TagObject(ref, type, kKernelTextCapacity); }
};

struct TagRow {
    TagPoint tag;
    std::uint16_t flags = 0;
    std::string topic;  // UTF-8
};

struct CommandRow {
    TagPoint trigger, done, argument;
    std::vector<TagPoint> results;
    std::vector<int> result_positions;  // of each result, 1-4 in the row (a "none" before it counts)
    std::uint16_t mode = kCommandValue;  // without the broadcast bit
    bool broadcast = false;
    std::uint32_t timeout_ms = 0;
    std::string topic;  // UTF-8
};

// Decodes a record (at least the table's row size). False with a reason
// when the row cannot be used; tags are typed through `type_of`. The topic
// is checked as stored and kept in UTF-8, the form of the wire.
using TagTypeQuery = std::int16_t (*)(TagRef ref);
bool DecodeTagRow(const TableRecord& record, TagTypeQuery type_of, TagRow& row, std::string& reason);
bool DecodeCommandRow(const TableRecord& record, TagTypeQuery type_of, CommandRow& row, std::string& reason);

// A row topic as stored (in the station's code page): 1..48 printable
// bytes, segments separated by "/" and none empty, no wildcards, no segment
// "set", "call" or "reply", and not "status" or "error" (the bridge's own
// topics).
bool ValidRowTopic(std::string_view topic, std::string& reason);

// What an incoming topic (below the prefix) asks for.
struct TopicRequest {
    enum Kind { kUnknown, kSet, kCall, kState, kOwn } kind = kUnknown;
    std::string base;        // the row topic
    std::string request_id;  // kCall on "<topic>/call/<id>"
};
TopicRequest ClassifyTopic(std::string_view below_prefix);

// Rows by topic (UTF-8).
struct BusRows {
    std::vector<TagRow> tags;
    std::vector<CommandRow> commands;
    std::map<std::string, std::size_t, std::less<>> tag_by_topic;
    std::map<std::string, std::size_t, std::less<>> command_by_topic;

    // Adds a row unless its topic is taken in its kind; false when taken.
    bool Add(TagRow row);
    bool Add(CommandRow row);
};
