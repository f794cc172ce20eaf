// How the bridge speaks on the broker. The bridge's core (PlantBusTask)
// holds the rows, the tags (the frame's tag objects), the open-command
// table with its exactly-once rule and the command ledger, and the
// session; a dialect holds the topics, the payloads, the answers and its
// own refusal reasons. A message from the broker is decoded once into a
// Decoded (a typed request, a refusal, or nothing to do), which the core
// carries out without coming back; an answer goes the other way once, as
// a typed CommandAnswer the dialect encodes.
//
// The core calls a dialect from the network thread (Decode, the answers
// and refusals it gives) and from the main thread (EncodeState of
// changes, the answers it gives): a dialect keeps no state that changes
// after it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <memory>

#include "bus/mqtt_session.h"
#include "frame/tag_object.h"

// Where a command's answer goes.
struct ReplyTo {
    std::string topic;
    std::string correlation;  // MQTT 5 correlation data
    bool has_correlation = false;
};

// What a message from the broker asks of the core. In this order: the
// refusal (reported, and on the dialect's refusal topic), then the action,
// then the deletion of the message when it was retained.
struct Decoded {
    enum Action {
        kNothing,
        kWrite,          // `value` to the tag of tag row `row`
        kCommand,        // a command for command row `row`
        kCorrectState,   // tag row `row` publishes its true value unless the message holds it
        kRestoreStatus,  // the station's own status was forged: refused and "online" again, unless stopping
    } action = kNothing;
    std::string refusal;
    bool delete_retained = false;
    std::size_t row = 0;
    // kWrite: the tag's new value. kCommand: the argument tag's value, or
    // the trigger's in value mode; else not configured.
    TagObject value;

    // kCommand. A refused command (`refusal` set; `known` false when no
    // row has its topic) is still looked up in the ledger first, then
    // answered with its refusal.
    bool known = true;
    bool broadcast = false;  // came under the broadcast prefix: the answer names the station
    ReplyTo reply;
    std::string key;  // its id in the ledger; empty: none
    bool queued = false;  // delivered from the session the broker kept (BusMessage)
    std::int64_t queued_max_ms = 0;
};

// A message the core publishes under the station's prefix.
struct Publication {
    std::string_view suffix;  // the topic below "<prefix>/"
    std::string payload;
};

enum class CommandResult { kDone, kTimeout, kStopped, kRefused };
inline const char* ResultName(CommandResult result) {
    constexpr const char* kNames[] = {"done", "timeout", "stopped", "refused"};
    return kNames[static_cast<int>(result)];
}

// How a command ended.
struct CommandAnswer {
    CommandResult result = CommandResult::kDone;
    std::string reason;               // kRefused
    std::vector<TagObject> values;    // kDone: the result tags in order; one not configured could not be read
    double ms = 0;                    // from its arrival to its end
    bool broadcast = false;           // the answer names the station
};

class Dialect {
public:
    virtual ~Dialect() = default;

    // The topic filters the session subscribes to at every connection.
    virtual std::vector<std::string> Subscriptions() const = 0;
    // A message from the broker, once.
    virtual Decoded Decode(const BusMessage& message) const = 0;
    // The retained state of tag row `row` (at each change, and for every
    // publishing row at each connection).
    virtual Publication EncodeState(std::size_t row, const TagObject& value) const = 0;
    // The payload of a command's answer, published to its ReplyTo.
    virtual std::string EncodeAnswer(const CommandAnswer& answer) const = 0;
    // What tells the bus of a refused message on `topic`.
    virtual Publication EncodeRefusal(const std::string& topic, const std::string& reason) const = 0;
};

// What a dialect is made from; all of it outlives the dialect.
struct BusRows;
struct SettingsFiles;
struct DialectContext {
    const BusRows& rows;
    const BrokerSettings& broker;
    const SettingsFiles& settings;  // a dialect reads its own section
};

// The station's dialect. Every file `<name>_dialect.cpp` of bus/ is one
// (the build lists them) and defines
//     std::unique_ptr<Dialect> Make<Name>Dialect(const DialectContext&);
// (`MakeTopicDialect`), which gives null when the station's settings do not
// ask for it. They are asked in the order of their names, the topic dialect
// last, which always answers: the first that answers is the station's. A
// second dialect is therefore a new file pair, not an edit of the core.
std::unique_ptr<Dialect> MakeDialect(const DialectContext& context);
