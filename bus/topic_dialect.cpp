#include "bus/topic_dialect.h"

#include <algorithm>
#include <cstdio>

#include "bus/bus_settings.h"
#include "bus/command_ledger.h"
#include "bus/payload.h"

namespace {

bool BlankOnly(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// The topic below "<prefix>/", or empty when it is not under it.
std::string_view Below(std::string_view topic, const std::string& prefix) {
    if (topic.size() <= prefix.size() + 1 || !TopicUnder(topic, prefix)) return {};
    return topic.substr(prefix.size() + 1);
}

}  // namespace

void TopicDialect::Shape(BrokerSettings& broker) const {
    broker.subscriptions = {broker_.prefix + "/#"};
    if (broker_.broadcast_prefix.empty()) return;
    for (const CommandRow& row : rows_.commands) {
        if (!row.broadcast) continue;
        const std::string call = broker_.broadcast_prefix + "/" + row.topic + "/call";
        broker.subscriptions.emplace_back(call);
        broker.subscriptions.emplace_back(call + "/+");
    }
}

void TopicDialect::Decode(const BusMessage& message, std::vector<Decoded>& out) {
    out.push_back(DecodeOne(message));
}

Decoded TopicDialect::DecodeOne(const BusMessage& message) const {
    Decoded out;
    if (const std::string_view rest = Below(message.topic, broker_.broadcast_prefix); !rest.empty()) {
        // Only the call topics of the broadcast rows are subscribed there.
        const TopicRequest request = ClassifyTopic(rest);
        auto it = rows_.command_by_topic.find(request.base);
        if (request.kind == TopicRequest::kCall && it != rows_.command_by_topic.end() &&
            rows_.commands[it->second].broadcast)
            DecodeCall(message, request, true, out);
        return out;
    }
    const std::string_view rest = Below(message.topic, broker_.prefix);
    if (rest.empty()) return out;  // not ours (the subscription is "<prefix>/#")
    const TopicRequest request = ClassifyTopic(rest);
    switch (request.kind) {
        case TopicRequest::kSet: DecodeSet(message, request.base, out); break;
        case TopicRequest::kCall: DecodeCall(message, request, false, out); break;
        default: DecodeState(message, request, rest, out); return out;
    }
    // A retained write or command would stay at the broker for the next
    // subscriber: it is handled once and deleted.
    out.delete_retained = true;
    return out;
}

void TopicDialect::DecodeState(const BusMessage& message, const TopicRequest& request, std::string_view rest,
                               Decoded& out) const {
    if (request.kind == TopicRequest::kOwn && rest == "status") {
        // Only the bridge says whether it runs.
        if (message.payload == MqttSession::kOnline) return;
        out.action = Decoded::kRestoreStatus;
        out.refusal = "the bridge's own status topic";
        return;
    }
    // The error topic and answers: another bridge's or a caller's leftovers
    // are not kept for the next subscriber.
    out.delete_retained = true;
    if (request.kind == TopicRequest::kOwn) return;
    if (auto it = rows_.tag_by_topic.find(request.base);
        request.kind == TopicRequest::kState && it != rows_.tag_by_topic.end()) {
        out.refusal = "a state topic of the bridge: write to " + Shown(request.base) + "/set";
        if (rows_.tags[it->second].flags & kRowPublish) {
            out.action = Decoded::kCorrectState;
            out.row = it->second;
            out.delete_retained = false;
        }
        return;
    }
    if (request.kind == TopicRequest::kState && rows_.command_by_topic.count(request.base) != 0)
        out.refusal = "a command: publish to " + Shown(request.base) + "/call";
    else
        out.refusal = "unknown topic";
}

void TopicDialect::DecodeSet(const BusMessage& message, const std::string& base, Decoded& out) const {
    auto it = rows_.tag_by_topic.find(base);
    if (it == rows_.tag_by_topic.end()) {
        out.refusal = "unknown topic";
        return;
    }
    const TagRow& row = rows_.tags[it->second];
    if (!(row.flags & kRowAcceptWrites)) {
        out.refusal = "the tag does not accept writes";
        return;
    }
    out.value = row.tag.Value();
    if (!ParsePayload(message.payload, out.value, out.refusal)) return;
    out.action = Decoded::kWrite;
    out.row = it->second;
}

void TopicDialect::DecodeCall(const BusMessage& message, const TopicRequest& request, bool broadcast,
                              Decoded& out) const {
    if (!message.response_topic.empty()) {
        if (!ValidPrefix(message.response_topic)) {
            out.refusal = "the response topic holds a wildcard or an empty level";
            return;
        }
        // An answer there would overwrite the station's state or look like
        // a command to the fleet: nothing is published there.
        if (TopicUnder(message.response_topic, broker_.prefix) ||
            TopicUnder(message.response_topic, broker_.broadcast_prefix)) {
            out.refusal = "the response topic lies under the station's or the broadcast prefix";
            return;
        }
        out.reply.topic = message.response_topic;
    } else if (!request.request_id.empty()) {
        out.reply.topic = broker_.prefix + "/" + request.base + "/reply/" + request.request_id;
    } else {
        out.refusal = "no response topic: use MQTT 5 with a response topic, or <topic>/call/<id>";
        return;
    }
    out.action = Decoded::kCommand;
    out.broadcast = broadcast;
    out.reply.has_correlation = message.has_correlation;
    out.reply.correlation = message.correlation;
    out.key = CommandKey(message, !request.request_id.empty());
    out.queued = message.queued;
    out.queued_max_ms = message.queued_max_ms;
    auto it = rows_.command_by_topic.find(request.base);
    if (it == rows_.command_by_topic.end()) {
        out.known = false;
        out.refusal = "unknown command";
        return;
    }
    out.row = it->second;
    // The payload: the argument tag's value, or the trigger's in value mode.
    const CommandRow& row = rows_.commands[out.row];
    if (row.argument.Configured() || row.mode == kCommandValue) {
        out.value = (row.argument.Configured() ? row.argument : row.trigger).Value();
        ParsePayload(message.payload, out.value, out.refusal);
    } else if (!BlankOnly(message.payload)) {
        out.refusal = "this command takes no value";
    }
}

std::vector<Outgoing> TopicDialect::Birth() {
    // Every published value, retained.
    std::vector<Outgoing> out;
    for (std::size_t i = 0; i < rows_.tags.size(); ++i) {
        if (!Reports(i)) continue;
        TagObject value = rows_.tags[i].tag.Value();
        if (value.ReadQuiet() == 0) out.push_back(*EncodeState(i, value));
    }
    return out;
}

std::optional<Outgoing> TopicDialect::EncodeState(std::size_t row, const TagObject& value) {
    return Outgoing{broker_.prefix + "/" + rows_.tags[row].topic, FormatPayload(value), -1, true, false, {}};
}

std::optional<Outgoing> TopicDialect::EncodeAnswer(const CommandAnswer& answer, const ReplyTo& reply) {
    Outgoing out = ReplyMessage(reply, "");
    const std::string station = answer.broadcast ? ",\"station\":" + JsonString(broker_.prefix) : std::string();
    if (answer.result == CommandResult::kRefused) {
        out.payload = "{\"result\":\"refused\",\"reason\":" + JsonString(answer.reason) + station + "}";
        return out;
    }
    std::string values = "[";
    for (const TagObject& value : answer.values) {
        if (values.size() > 1) values += ",";
        values += JsonValue(value);
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", answer.ms);
    out.payload = std::string("{\"result\":\"") + ResultName(answer.result) + "\",\"values\":" + values +
                  "],\"ms\":" + elapsed + station + "}";
    return out;
}

std::optional<Outgoing> TopicDialect::EncodeRefusal(const std::string& topic, const std::string& reason,
                                                    const Decoded*) {
    return Outgoing{broker_.prefix + "/error",
                    "{\"topic\":" + JsonString(topic) + ",\"reason\":" + JsonString(reason) + "}", -1, false, false, {}};
}

std::unique_ptr<Dialect> MakeTopicDialect(const DialectContext& context) {
    return std::make_unique<TopicDialect>(context.rows, context.broker);
}
