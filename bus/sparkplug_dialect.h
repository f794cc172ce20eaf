// The bridge's Sparkplug B dialect (Sparkplug 3.0, node-level metrics, no
// devices), chosen by [Sparkplug] Enabled=1:
//
//   spBv1.0/<group>/NBIRTH/<node>   every metric with name, alias, type and
//                                   value; seq 0, the connection's bdSeq
//   spBv1.0/<group>/NDATA/<node>    changed metrics by alias, seq one up
//   spBv1.0/<group>/NDEATH/<node>   the will (bdSeq only), and before a stop
//   spBv1.0/<group>/NCMD/<node>     writes, commands and rebirth requests
//   spBv1.0/STATE/<primary host>    the primary host's state, where one is set
//
// Metrics: each tag row by its topic; each command row as <topic>/call
// (writable: a write runs the command), <topic>/result, <topic>/reason,
// <topic>/valueN (N the result tag's position in the row), <topic>/ms and
// <topic>/count; and bdSeq, "Node Control/Rebirth", "Node Info/Last Error".
// A command's answer is one NDATA with all of its metrics; a refused write
// one with "Node Info/Last Error" and the metric's true value. Births and
// data go at QoS 0, never retained; bdSeq goes up by one at every
// connection attempt and across restarts (kept in "<task>.bdseq" beside the
// log file).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bus/bus_rows.h"
#include "bus/dialect.h"
#include "bus/sparkplug_payload.h"

class SparkplugDialect : public Dialect {
public:
    struct Ids {
        std::string group, node, primary_host;  // UTF-8
    };
    // `rows` lives as long as the dialect; `unusable` (reported) keeps the
    // station off the broker.
    SparkplugDialect(const BusRows& rows, Ids ids, std::string state_path, std::string unusable);

    void Shape(BrokerSettings& broker) const override;
    std::string Unusable() const override { return unusable_; }
    std::string WillPayload() override;
    bool Reports(std::size_t) const override { return true; }
    void Decode(const BusMessage& message, std::vector<Decoded>& out) override;
    std::vector<Outgoing> Birth() override;
    std::optional<Outgoing> EncodeState(std::size_t row, const TagObject& value) override;
    std::optional<Outgoing> EncodeAnswer(const CommandAnswer& answer, const ReplyTo& reply) override;
    std::optional<Outgoing> EncodeRefusal(const std::string& topic, const std::string& reason,
                                          const Decoded* request) override;

    // The node's topic of a message type ("NBIRTH", ...).
    std::string Topic(const char* type) const;

private:
    enum class Kind { kBdSeq, kRebirth, kLastError, kTag, kCall, kResult, kReason, kValue, kMs, kCount };
    struct MetricDef {
        std::string name;
        sparkplug::DataType type;
        Kind kind;
        std::size_t row = 0;    // tag or command row
        std::size_t value = 0;  // kValue: the index into the row's results
    };
    // The last answer of a command row, for births.
    struct LastAnswer {
        std::string result, reason;
        std::vector<sparkplug::Metric> values;  // empty: none yet, the result tags are read
        double ms = 0;
        std::int64_t count = 0;
    };

    void Add(std::string name, sparkplug::DataType type, Kind kind, std::size_t row = 0, std::size_t value = 0);
    void DecodeCommand(const std::string& bytes, std::vector<Decoded>& out);
    void DecodeHostState(const std::string& payload, std::vector<Decoded>& out);
    // One metric of an NCMD; `key` is the message's id, empty: none.
    void DecodeMetric(const sparkplug::Metric& m, const std::string& key, std::vector<Decoded>& out) const;
    // Fills `into` (of the tag's type) from a metric of type `type`; false
    // with the reason.
    static bool ToTag(const sparkplug::Metric& m, sparkplug::DataType type, TagObject& into, std::string& reason);
    sparkplug::Metric Value(std::size_t alias, const TagObject& value) const;
    sparkplug::Metric Text(std::size_t alias, std::string text) const;
    // Answer metric `alias` (result, reason, valueN, ms or count of its row)
    // from the row's last answer; before any, valueN holds its tag's value now.
    sparkplug::Metric AnswerMetric(std::size_t alias) const;
    // An NDATA of `metrics`, seq one up (under mutex_).
    Outgoing Data(std::vector<sparkplug::Metric> metrics);
    void SaveBdSeq();

    const BusRows& rows_;
    const Ids ids_;
    const std::string state_path_;
    const std::string unusable_;
    std::vector<MetricDef> metrics_;  // by alias
    std::map<std::string, std::size_t, std::less<>> by_name_;
    std::vector<std::size_t> tag_alias_, call_alias_;  // by row

    std::mutex mutex_;
    int bdseq_ = -1;         // of the current connection attempt
    int seq_ = 0;            // of the last birth or data
    bool born_ = false;      // this connection's birth went out
    bool host_online_ = false;  // in this connection
    std::int64_t host_seen_ts_ = -1, host_offline_ts_ = -1;
    bool state_file_reported_ = false;
    std::vector<LastAnswer> answers_;  // by command row
};
