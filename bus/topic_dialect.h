// The bridge's topic dialect: text payloads (bus/payload.h) on topics
// under the station's prefix.
//
//   <prefix>/<topic>               the retained state of a publishing tag row
//   <prefix>/<topic>/set           a write to a tag row that accepts writes
//   <prefix>/<topic>/call[/<id>]   a command; answered on the MQTT 5 response
//                                  topic, else on <prefix>/<topic>/reply/<id>
//   <broadcast prefix>/<topic>/call[/<id>]   a command of a broadcast row
//   <prefix>/error                 every refusal, '{"topic":...,"reason":...}'
//
// Answers are JSON: '{"result":"done","values":[...],"ms":...}' (timeout and
// stopped alike), '{"result":"refused","reason":...}', with
// ',"station":"<prefix>"' in the answer to a broadcast. Foreign values on
// a state topic are replaced by the true ones; foreign retained messages on
// the station's other topics are deleted; the station's status is the
// bridge's alone.
#pragma once

#include "bus/bus_rows.h"
#include "bus/dialect.h"

class TopicDialect : public Dialect {
public:
    // Both live as long as the dialect.
    TopicDialect(const BusRows& rows, const BrokerSettings& broker) : rows_(rows), broker_(broker) {}

    void Shape(BrokerSettings& broker) const override;
    std::string WillPayload() override { return MqttSession::kOffline; }
    bool Reports(std::size_t row) const override { return (rows_.tags[row].flags & kRowPublish) != 0; }
    void Decode(const BusMessage& message, std::vector<Decoded>& out) override;
    std::vector<Outgoing> Birth() override;
    std::optional<Outgoing> EncodeState(std::size_t row, const TagObject& value) override;
    std::optional<Outgoing> EncodeAnswer(const CommandAnswer& answer, const ReplyTo& reply) override;
    std::optional<Outgoing> EncodeRefusal(const std::string& topic, const std::string& reason,
                                          const Decoded* request) override;

private:
    Decoded DecodeOne(const BusMessage& message) const;
    void DecodeSet(const BusMessage& message, const std::string& base, Decoded& out) const;
    void DecodeCall(const BusMessage& message, const TopicRequest& request, bool broadcast, Decoded& out) const;
    void DecodeState(const BusMessage& message, const TopicRequest& request, std::string_view rest,
                     Decoded& out) const;

    const BusRows& rows_;
    const BrokerSettings& broker_;
};
