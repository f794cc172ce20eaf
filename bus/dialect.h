// How the bridge speaks on the broker. The bridge's core (PlantBusTask)
// holds the rows, the tags (the frame's tag objects), the open-command
// table with its exactly-once rule and the command ledger, and the
// session; a dialect holds the topics, the payloads, the answers, the
// station's presence on the broker (its will, its births) and its own
// refusal reasons. A message from the broker is decoded once into
// Decoded requests (typed requests, refusals, or nothing to do), which the
// core carries out without coming back; an answer goes the other way once,
// as a typed CommandAnswer the dialect encodes.
//
// Threads: the core calls Decode and WillPayload from the network thread,
// the Encode functions and Birth from both threads, always under its one
// publication lock and publishing what they give before it lets go, so a
// dialect that numbers its messages numbers them in the order they go out.
// A dialect with state of its own guards it itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <memory>
#include <optional>

#include "bus/mqtt_session.h"
#include "frame/tag_object.h"

// Where a command's answer goes.
struct ReplyTo {
    std::string topic;
    std::string correlation;  // MQTT 5 correlation data
    bool has_correlation = false;
};

// What a message from the broker asks of the core. In this order: the
// refusal (reported, and the dialect's refusal message), then the action,
// then the deletion of the message when it was retained.
struct Decoded {
    enum Action {
        kNothing,
        kWrite,          // `value` to the tag of tag row `row`
        kCommand,        // a command for command row `row`
        kCorrectState,   // tag row `row` publishes its true value unless the message holds it
        kRestoreStatus,  // the station's own status was forged: refused and "online" again, unless stopping
        kBirth,          // the dialect's Birth goes out (again)
        kReconnect,      // the session ends (its will published) and connects anew
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
    // A refusal of a value for tag row `state_row`: its true value goes with it.
    std::optional<std::size_t> state_row;
    ReplyTo reply;
    std::string key;  // its id in the ledger; empty: none
    // A copy of an answered command gets the stored answer again (false:
    // nothing, where the answer is a numbered message all callers saw).
    bool answer_copies = true;
    bool queued = false;  // delivered from the session the broker kept (BusMessage)
    std::int64_t queued_max_ms = 0;
};

// A message the core publishes.
struct Outgoing {
    std::string topic;
    std::string payload;
    int qos = -1;  // -1: the settings' QoS
    bool retain = false;
    bool has_correlation = false;
    std::string correlation;  // MQTT 5 correlation data
};

// The QoS of answers to a caller: with the session the broker keeps, a
// caller subscribed at QoS 1 or 2 gets one answer also across a drop.
inline constexpr int kAnswerQos = 2;

// An answer's message to a caller's ReplyTo.
inline Outgoing ReplyMessage(const ReplyTo& reply, std::string payload) {
    return Outgoing{reply.topic, std::move(payload), kAnswerQos, false, reply.has_correlation, reply.correlation};
}

enum class CommandResult { kDone, kTimeout, kStopped, kRefused };
inline const char* ResultName(CommandResult result) {
    constexpr const char* kNames[] = {"done", "timeout", "stopped", "refused"};
    return kNames[static_cast<int>(result)];
}

// How a command ended.
struct CommandAnswer {
    std::size_t row = 0;  // its command row (`known`: there is one)
    bool known = true;
    CommandResult result = CommandResult::kDone;
    std::string reason;               // kRefused
    bool busy = false;                // kRefused: the row's previous command is still open
    std::vector<TagObject> values;    // kDone: the row's result tags in order; one not configured could not be read
    double ms = 0;                    // from its arrival to its end
    bool broadcast = false;           // the answer names the station
};

class Dialect {
public:
    virtual ~Dialect() = default;

    // The session's shape, once before it starts: its subscriptions, its
    // presence (will and status topic), its session expiry and QoS.
    virtual void Shape(BrokerSettings& broker) const = 0;
    // Why the station stays off the broker (reported already); empty: it
    // may connect.
    virtual std::string Unusable() const { return {}; }
    // The will of the next connection attempt, also published before a
    // clean stop.
    virtual std::string WillPayload() = 0;
    // Whether tag row `row`'s changes are bound and encoded.
    virtual bool Reports(std::size_t row) const = 0;
    // A message from the broker, once; what it asks in order.
    virtual void Decode(const BusMessage& message, std::vector<Decoded>& out) = 0;
    // What goes out at every connection (after the subscriptions) and at a
    // kBirth request: the state of every reporting row, read now.
    virtual std::vector<Outgoing> Birth() = 0;
    // The state of tag row `row` at a change; none: nothing goes out.
    virtual std::optional<Outgoing> EncodeState(std::size_t row, const TagObject& value) = 0;
    // A command's answer, for `reply`; none: nothing goes out.
    virtual std::optional<Outgoing> EncodeAnswer(const CommandAnswer& answer, const ReplyTo& reply) = 0;
    // What tells the bus of a refused message on `topic` (`request` as
    // decoded, where a decoded request was refused); none: nothing.
    virtual std::optional<Outgoing> EncodeRefusal(const std::string& topic, const std::string& reason,
                                                  const Decoded* request) = 0;
};

// What a dialect is made from; all of it outlives the dialect.
struct BusRows;
struct SettingsFiles;
struct DialectContext {
    const BusRows& rows;
    const BrokerSettings& broker;
    const SettingsFiles& settings;  // a dialect reads its own section
    const std::string& station;     // [Bus] Station, else the computer's name (code page)
};

// The station's dialect. Every file `<name>_dialect.cpp` of bus/ is one
// (the build lists them) and defines
//     std::unique_ptr<Dialect> Make<Name>Dialect(const DialectContext&);
// (`MakeTopicDialect`), which gives null when the station's settings do not
// ask for it. They are asked in the order of their names, the topic dialect
// last, which always answers: the first that answers is the station's. A
// second dialect is therefore a new file pair, not an edit of the core.
std::unique_ptr<Dialect> MakeDialect(const DialectContext& context);
