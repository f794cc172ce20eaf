#include "bus/sparkplug_dialect.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "bus/bus_settings.h"
#include "bus/payload.h"
#include "frame/log_writer.h"
#include "frame/settings.h"
#include "frame/status_message.h"
#include "frame/task_state.h"
#include "support/utf8.h"

namespace {

using namespace sparkplug;

constexpr const char* kNamespace = "spBv1.0";

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

DataType TypeOf(std::int16_t tag_type) {
    switch (tag_type) {
        case kTagInt16:
        case kTagInt16Alt: return kInt16;
        case kTagInt32: return kInt32;
        case kTagReal: return kDouble;  // the runtime's reals are 64-bit
        default: return kString;
    }
}

const char* TypeName(std::uint32_t type) {
    switch (type) {
        case kInt16: return "Int16";
        case kInt32: return "Int32";
        case kInt64: return "Int64";
        case kDouble: return "Double";
        case kBoolean: return "Boolean";
        case kString: return "String";
        default: return "another type";
    }
}

// 64-bit FNV-1a: a command message's id from its bytes.
std::string Fingerprint(const std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

// The value of `key` in a flat JSON object: the text after its colon, up
// to the next ',' or '}', blanks dropped; empty when absent.
std::string JsonField(const std::string& json, const char* key) {
    const std::string quoted = std::string("\"") + key + "\"";
    std::size_t at = json.find(quoted);
    if (at == std::string::npos) return {};
    at = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (at == std::string::npos || json[at] != ':') return {};
    std::string value;
    for (std::size_t i = at + 1; i < json.size() && json[i] != ',' && json[i] != '}'; ++i)
        if (json[i] != ' ' && json[i] != '\t' && json[i] != '\r' && json[i] != '\n') value += json[i];
    return value;
}

// A tag's value read now; not configured when it cannot be read.
TagObject ReadNow(const TagPoint& point) {
    TagObject v = point.Value();
    if (v.ReadQuiet() != 0) v = TagObject();
    return v;
}

bool ValidId(const std::string& id) { return !id.empty() && id.find_first_of("+/#") == std::string::npos; }

}  // namespace

SparkplugDialect::SparkplugDialect(const BusRows& rows, Ids ids, std::string state_path, std::string unusable)
    : rows_(rows), ids_(std::move(ids)), state_path_(std::move(state_path)), unusable_(std::move(unusable)) {
    Add("bdSeq", kInt64, Kind::kBdSeq);
    Add("Node Control/Rebirth", kBoolean, Kind::kRebirth);
    Add("Node Info/Last Error", kString, Kind::kLastError);
    for (std::size_t i = 0; i < rows_.tags.size(); ++i) {
        tag_alias_.push_back(metrics_.size());
        Add(rows_.tags[i].topic, TypeOf(rows_.tags[i].tag.type), Kind::kTag, i);
    }
    answers_.resize(rows_.commands.size());
    for (std::size_t i = 0; i < rows_.commands.size(); ++i) {
        const CommandRow& row = rows_.commands[i];
        const DataType call = row.argument.Configured() ? TypeOf(row.argument.type)
                              : row.mode == kCommandValue ? TypeOf(row.trigger.type)
                                                          : kBoolean;
        call_alias_.push_back(metrics_.size());
        Add(row.topic + "/call", call, Kind::kCall, i);
        Add(row.topic + "/result", kString, Kind::kResult, i);
        Add(row.topic + "/reason", kString, Kind::kReason, i);
        for (std::size_t r = 0; r < row.results.size(); ++r)
            Add(row.topic + "/value" + std::to_string(row.result_positions[r]), TypeOf(row.results[r].type),
                Kind::kValue, i, r);
        Add(row.topic + "/ms", kDouble, Kind::kMs, i);
        Add(row.topic + "/count", kInt64, Kind::kCount, i);
    }
    std::ifstream in(state_path_);
    int last = -1;
    if (in >> last && last >= 0 && last <= 255) bdseq_ = last;
}

void SparkplugDialect::Add(std::string name, DataType type, Kind kind, std::size_t row, std::size_t value) {
    by_name_.emplace(name, metrics_.size());
    metrics_.push_back({std::move(name), type, kind, row, value});
}

std::string SparkplugDialect::Topic(const char* type) const {
    return std::string(kNamespace) + "/" + ids_.group + "/" + type + "/" + ids_.node;
}

void SparkplugDialect::Shape(BrokerSettings& broker) const {
    // A host addresses the node alone: no broadcasts. Clean start, no kept
    // session: a new connection is a new session with a new bdSeq.
    broker.subscriptions = {Subscription(Topic("NCMD"), 1, false)};
    if (!ids_.primary_host.empty())
        broker.subscriptions.emplace_back(std::string(kNamespace) + "/STATE/" + ids_.primary_host, 1, true);
    broker.presence = Presence{Topic("NDEATH"), "", 1, false};
    broker.session_expiry_s = 0;
}

void SparkplugDialect::SaveBdSeq() {
    std::ofstream out(state_path_, std::ios::trunc);
    out << bdseq_ << "\n";
    if (out.flush() || state_file_reported_) return;
    // Reported once: a restart may then reuse a bdSeq a host saw already.
    state_file_reported_ = true;
    const std::string report = "the bdSeq cannot be kept in " + state_path_;
    StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
}

std::string SparkplugDialect::WillPayload() {
    std::lock_guard<std::mutex> lock(mutex_);
    bdseq_ = (bdseq_ + 1) & 0xFF;
    born_ = false;
    host_online_ = false;
    SaveBdSeq();
    Payload death;
    death.timestamp = NowMs();
    Metric& m = death.metrics.emplace_back();
    m.name = "bdSeq";
    m.SetInt(kInt64, bdseq_);
    return Encode(death);
}

Metric SparkplugDialect::Value(std::size_t alias, const TagObject& value) const {
    Metric m;
    m.alias = alias;
    m.timestamp = NowMs();
    const DataType type = metrics_[alias].type;
    m.datatype = type;
    if (!value.IsConfigured()) {
        m.is_null = true;  // could not be read
        return m;
    }
    if (type == kString) m.SetString(CodePageToUtf8(value.AsText()));
    else if (type == kDouble) m.SetReal(kDouble, value.AsDouble());
    else m.SetInt(type, value.AsInt());
    return m;
}

Metric SparkplugDialect::Text(std::size_t alias, std::string text) const {
    Metric m;
    m.alias = alias;
    m.timestamp = NowMs();
    m.SetString(std::move(text));
    return m;
}

Outgoing SparkplugDialect::Data(std::vector<Metric> metrics) {
    seq_ = (seq_ + 1) & 0xFF;
    Payload data;
    data.timestamp = NowMs();
    data.seq = static_cast<std::uint64_t>(seq_);
    data.metrics = std::move(metrics);
    return Outgoing{Topic("NDATA"), Encode(data), 0, false, false, {}};
}

std::vector<Outgoing> SparkplugDialect::Birth() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ids_.primary_host.empty() && !host_online_) return {};  // not before the host is there
    Payload birth;
    birth.timestamp = NowMs();
    birth.seq = 0;
    for (std::size_t alias = 0; alias < metrics_.size(); ++alias) {
        const MetricDef& def = metrics_[alias];
        Metric m;
        switch (def.kind) {
            case Kind::kBdSeq: m.SetInt(kInt64, bdseq_); break;
            case Kind::kRebirth: m.SetBoolean(false); break;
            case Kind::kLastError: m.SetString(""); break;
            case Kind::kTag: m = Value(alias, ReadNow(rows_.tags[def.row].tag)); break;
            case Kind::kCall: {
                // A call has no value of its own until written: null.
                m.datatype = def.type;
                m.is_null = true;
                break;
            }
            case Kind::kResult:
            case Kind::kReason:
            case Kind::kValue:
            case Kind::kMs:
            case Kind::kCount: m = AnswerMetric(alias); break;
        }
        m.name = def.name;
        m.alias = alias;
        m.timestamp = birth.timestamp;
        m.datatype = def.type;
        birth.metrics.push_back(std::move(m));
    }
    seq_ = 0;
    born_ = true;
    return {Outgoing{Topic("NBIRTH"), Encode(birth), 0, false, false, {}}};
}

Metric SparkplugDialect::AnswerMetric(std::size_t alias) const {
    const MetricDef& def = metrics_[alias];
    const LastAnswer& last = answers_[def.row];
    Metric m;
    switch (def.kind) {
        case Kind::kResult: m.SetString(last.result); break;
        case Kind::kReason: m.SetString(last.reason); break;
        case Kind::kValue:
            m = def.value < last.values.size() ? last.values[def.value]
                                               : Value(alias, ReadNow(rows_.commands[def.row].results[def.value]));
            break;
        case Kind::kMs: m.SetReal(kDouble, last.ms); break;
        default: m.SetInt(kInt64, last.count); break;  // kCount
    }
    m.alias = alias;
    m.timestamp = NowMs();
    return m;
}

std::optional<Outgoing> SparkplugDialect::EncodeState(std::size_t row, const TagObject& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!born_) return std::nullopt;
    return Data({Value(tag_alias_[row], value)});
}

std::optional<Outgoing> SparkplugDialect::EncodeAnswer(const CommandAnswer& answer, const ReplyTo&) {
    if (!answer.known) return std::nullopt;  // every call names its row's metric
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t base = call_alias_[answer.row];
    LastAnswer& last = answers_[answer.row];
    last.result = answer.busy ? "busy" : ResultName(answer.result);
    last.reason = answer.result == CommandResult::kRefused ? answer.reason : std::string();
    last.ms = answer.ms;
    ++last.count;
    // The values stay as they were where the command gave none (refused, ...).
    if (!answer.values.empty()) {
        last.values.clear();
        for (std::size_t r = 0; r < answer.values.size(); ++r)
            last.values.push_back(Value(base + 3 + r, answer.values[r]));
    }
    // result, reason, the valueN, ms and count: the aliases after the call's.
    std::vector<Metric> metrics;
    const std::size_t results = rows_.commands[answer.row].results.size();
    for (std::size_t alias = base + 1; alias <= base + 4 + results; ++alias) metrics.push_back(AnswerMetric(alias));
    if (!born_) return std::nullopt;  // the next birth carries it
    return Data(std::move(metrics));
}

std::optional<Outgoing> SparkplugDialect::EncodeRefusal(const std::string&, const std::string& reason,
                                                        const Decoded* request) {
    // A refused call is answered on its own metrics instead.
    if (request != nullptr && request->action == Decoded::kCommand) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!born_) return std::nullopt;
    std::vector<Metric> metrics = {Text(2, reason)};
    if (request != nullptr && request->state_row) {
        TagObject v = rows_.tags[*request->state_row].tag.Value();
        if (v.ReadQuiet() == 0) metrics.push_back(Value(tag_alias_[*request->state_row], v));
    }
    return Data(std::move(metrics));
}

// ---- from the broker ----------------------------------------------------------

void SparkplugDialect::Decode(const BusMessage& message, std::vector<Decoded>& out) {
    if (message.topic == Topic("NCMD")) return DecodeCommand(message.payload, out);
    if (!ids_.primary_host.empty() && message.topic == std::string(kNamespace) + "/STATE/" + ids_.primary_host)
        DecodeHostState(message.payload, out);
}

void SparkplugDialect::DecodeHostState(const std::string& payload, std::vector<Decoded>& out) {
    const std::string online = JsonField(payload, "online"), stamp = JsonField(payload, "timestamp");
    if ((online != "true" && online != "false") || stamp.empty() ||
        stamp.find_first_not_of("0123456789") != std::string::npos || stamp.size() > 18) {
        out.emplace_back().refusal = "the primary host's state is not {\"online\":true|false,\"timestamp\":<ms>}";
        return;
    }
    const std::int64_t ts = std::stoll(stamp);
    std::lock_guard<std::mutex> lock(mutex_);
    if (ts < host_seen_ts_) return;  // older than what was seen: ignored
    host_seen_ts_ = ts;
    if (online == "true") {
        host_online_ = true;
        if (!born_) out.emplace_back().action = Decoded::kBirth;
        return;
    }
    host_online_ = false;
    // One outage, one reconnection: the retained offline state that the
    // new connection receives again is the one already acted on.
    if (ts == host_offline_ts_ || !born_) {
        host_offline_ts_ = ts;
        return;
    }
    host_offline_ts_ = ts;
    born_ = false;
    out.emplace_back().action = Decoded::kReconnect;
}

void SparkplugDialect::DecodeCommand(const std::string& bytes, std::vector<Decoded>& out) {
    Payload p;
    std::string error;
    if (!sparkplug::Decode(bytes, p, error)) {
        out.emplace_back().refusal = "NCMD: " + error;
        return;
    }
    // A copy of the same message (its bytes, stamped by the host) runs
    // nothing; without a timestamp a message has no id.
    const std::string key = p.timestamp ? "spb/" + Fingerprint(bytes) : std::string();
    for (const Metric& m : p.metrics) DecodeMetric(m, key, out);
}

void SparkplugDialect::DecodeMetric(const Metric& m, const std::string& key, std::vector<Decoded>& out) const {
    std::size_t alias = metrics_.size();
    if (m.alias) {
        alias = *m.alias < metrics_.size() ? static_cast<std::size_t>(*m.alias) : metrics_.size();
    } else if (m.name) {
        auto it = by_name_.find(*m.name);
        if (it != by_name_.end()) alias = it->second;
    }
    if (alias == metrics_.size()) {
        const std::string which = m.alias ? "alias " + std::to_string(*m.alias) : Shown(m.name.value_or(""));
        out.emplace_back().refusal = which + ": no such metric";
        return;
    }
    const MetricDef& def = metrics_[alias];
    Decoded d;
    auto refuse = [&](const std::string& reason) {
        d.refusal = def.name + ": " + reason;
        out.push_back(std::move(d));
    };
    if (def.kind == Kind::kRebirth) {
        std::int64_t v = 0;
        if (!IntegerOf(m, kBoolean, v)) return refuse("write true (Boolean) for a new birth");
        if (v == 1) d.action = Decoded::kBirth;
        out.push_back(std::move(d));
        return;
    }
    if (def.kind == Kind::kTag) {
        const TagRow& row = rows_.tags[def.row];
        d.state_row = def.row;
        if (!(row.flags & kRowAcceptWrites)) return refuse("the tag does not accept writes");
        d.value = row.tag.Value();
        std::string reason;
        if (!ToTag(m, def.type, d.value, reason)) return refuse(reason);
        d.action = Decoded::kWrite;
        d.row = def.row;
        d.state_row.reset();
        out.push_back(std::move(d));
        return;
    }
    if (def.kind != Kind::kCall) return refuse("written only by the node");
    // A command: the core answers it, refused or run, on its metrics.
    const CommandRow& row = rows_.commands[def.row];
    d.action = Decoded::kCommand;
    d.row = def.row;
    d.key = key.empty() ? std::string() : key + "/" + def.name;
    d.answer_copies = false;  // the answer went to every host already
    std::string reason;
    if (row.argument.Configured() || row.mode == kCommandValue) {
        d.value = (row.argument.Configured() ? row.argument : row.trigger).Value();
        if (!ToTag(m, def.type, d.value, reason)) d.refusal = def.name + ": " + reason;
    } else {
        std::int64_t v = 0;
        if (!ToTag(m, kBoolean, d.value, reason)) d.refusal = def.name + ": " + reason;
        else if (IntegerOf(m, kBoolean, v) && v == 0) d.refusal = def.name + ": false runs nothing: write true";
    }
    out.push_back(std::move(d));
}

bool SparkplugDialect::ToTag(const Metric& m, DataType type, TagObject& into, std::string& reason) {
    if (m.is_null || m.field == ValueField::kNone) {
        reason = "no value";
        return false;
    }
    if (m.datatype && *m.datatype != type) {
        reason = std::string("wrong datatype ") + TypeName(*m.datatype) + " (" + std::to_string(*m.datatype) +
                 "), the metric is " + TypeName(type);
        return false;
    }
    switch (type) {
        case kDouble:
            if (m.field != ValueField::kDouble && m.field != ValueField::kFloat) break;
            if (!std::isfinite(m.real)) {
                reason = "not a finite number";
                return false;
            }
            into.SetDouble(m.real);
            return true;
        case kString:
            if (m.field != ValueField::kString) break;
            return ParsePayload(m.text, into, reason);
        default: {
            if (m.field != ValueField::kInt && m.field != ValueField::kLong && m.field != ValueField::kBoolean) break;
            std::int64_t v = 0;
            if (!IntegerOf(m, type, v)) {
                reason = std::string("out of range for ") + TypeName(type);
                return false;
            }
            if (into.IsConfigured()) into.SetInt(static_cast<std::int32_t>(v));
            return true;
        }
    }
    reason = std::string("wrong datatype: a value of another kind, the metric is ") + TypeName(type);
    return false;
}

std::unique_ptr<Dialect> MakeSparkplugDialect(const DialectContext& context) {
    const SettingsFiles& files = context.settings;
    if (ReadIntSetting(files, "Sparkplug", "Enabled", 0) != 1) return nullptr;
    const TaskState& state = task_state();
    SparkplugDialect::Ids ids;
    auto id = [&](const char* key, std::string fallback) {
        const std::string value = CodePageToUtf8(ReadSetting(files, "Sparkplug", key, ""));
        return value.empty() ? fallback : value;
    };
    ids.group = id("GroupId", CodePageToUtf8(state.vd_domain));
    ids.node = id("EdgeNodeId", CodePageToUtf8(context.station));
    ids.primary_host = id("PrimaryHostId", "");
    std::string unusable;
    for (const auto& [key, value] : {std::pair<const char*, const std::string*>{"GroupId", &ids.group},
                                     {"EdgeNodeId", &ids.node}, {"PrimaryHostId", &ids.primary_host}}) {
        const bool optional = std::string(key) == "PrimaryHostId";
        if ((optional && value->empty()) || ValidId(*value)) continue;
        unusable = std::string(key) + "=" + Shown(*value) +
                   " is empty or holds '+', '/' or '#'; the station stays off the broker";
        StatusMessage(kLevelError, "BUSSETTINGS", unusable.c_str());
        break;
    }
    std::string dir = log_settings().log_path;
    const std::size_t slash = dir.find_last_of("/\\");
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    return std::make_unique<SparkplugDialect>(context.rows, std::move(ids),
                                              dir + "/" + std::string(state.task_name) + ".bdseq", unusable);
}
