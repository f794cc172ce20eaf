// The plant bus task. One file for now because its parts share one state:
// the settings, the rows, the open-command table with its ledger, and the
// refusals and answers that every path of a message ends in; the topic
// dialect (topics, text payloads, JSON answers) is the part to move out.
#include "bus/plant_bus_task.h"

#include <algorithm>
#include <fstream>
#include <new>
#include <vector>

#include "bus/tag_access.h"
#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "frame/settings.h"
#include "config/task_tables.h"
#include "frame/dispatch.h"
#include "kernel/kernel.h"
#include "frame/status_message.h"
#include "frame/task_state.h"
#include "platform/computer_name.h"
#include "platform/sync.h"
#include "support/utf8.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTopicShown = 64;    // characters of an outside topic in a report
constexpr int kReasonShown = 200;  // characters of a reason in a report

// An outside text as it may appear in a report: printable bytes only, cut.
std::string Shown(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, kTopicShown)) out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    if (text.size() > kTopicShown) out += "...";
    return out;
}

// An outside text (UTF-8) as it goes to the status message and the log: in
// the station's code page, printable, at most `limit` characters.
std::string Reported(std::string_view text, int limit) {
    const std::size_t taken = static_cast<std::size_t>(limit) * 4;  // a character is at most 4 bytes
    std::string out;
    for (unsigned char c : Utf8ToCodePageShown(text.substr(0, taken))) {
        if (out.size() == static_cast<std::size_t>(limit)) {
            out += "...";
            return out;
        }
        out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    if (text.size() > taken) out += "...";
    return out;
}

// One level of a topic made from a name: blanks, wildcards and slashes
// become "_"; an empty name is "_".
std::string TopicLevel(const char* name) {
    std::string level = name == nullptr ? "" : name;
    for (char& c : level)
        if (static_cast<unsigned char>(c) <= 0x20 || c == '+' || c == '#' || c == '/' || c == 0x7F) c = '_';
    return level.empty() ? "_" : level;
}

bool ValidPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') return false;
    if (prefix.find("//") != std::string_view::npos) return false;
    for (unsigned char c : prefix)
        if (c <= 0x20 || c == '+' || c == '#' || c == 0x7F) return false;
    return true;
}

BusValue Integer(std::int16_t type, std::int64_t v) {
    BusValue value;
    value.type = type;
    value.integer = v;
    if (type == kTagReal) value.real = static_cast<double>(v);
    if (type == kTagText) value.text = std::to_string(v);
    return value;
}

std::string KernelReason(const char* what, std::int32_t code) {
    if (code == kKernelErrTooLong) return std::string(what) + ": longer than the tag holds";
    return std::string(what) + " refused by the runtime (kernel error " + std::to_string(code) + ")";
}

bool BlankOnly(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

PlantBusTask::PlantBusTask(const char* name, const char* title) : TaskBase(name, title) {}

PlantBusTask::~PlantBusTask() {
    if (task_state().task_id != kNoTask) Stop();
    session_.reset();
}

// ---- settings ---------------------------------------------------------------

std::string PlantBusTask::DefaultPrefix(const char* app, const char* domain, const char* station) {
    return TopicLevel(app) + "/" + TopicLevel(domain) + "/" + TopicLevel(station);
}

BrokerSettings PlantBusTask::ReadBrokerSettings() {
    BrokerSettings s;
    const TaskState& state = task_state();
    auto text = [this](const char* section, const char* key) { return ReadSetting(*this, section, key, ""); };
    auto number = [&](const char* section, const char* key, int fallback, int low, int high) {
        std::string value = text(section, key);
        if (value.empty()) return fallback;
        std::string reason;
        BusValue parsed;
        if (ParsePayload(kTagInt32, value, parsed, reason) && parsed.integer >= low && parsed.integer <= high)
            return static_cast<int>(parsed.integer);
        const std::string report = std::string(key) + "=" + Shown(value) + " is not a number from " +
                                   std::to_string(low) + " to " + std::to_string(high) + ", " +
                                   std::to_string(fallback) + " is used";
        StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        return fallback;
    };

    s.host = text("Broker", "Host");
    if (s.host.empty()) s.host = "127.0.0.1";
    s.port = number("Broker", "Port", 1883, 1, 65535);
    s.keepalive_s = number("Broker", "KeepAlive", 30, 5, 65535);
    s.user = CodePageToUtf8(text("Broker", "User"));
    s.password = text("Broker", "Password");
    const std::string password_file = text("Broker", "PasswordFile");
    if (!password_file.empty()) {
        std::ifstream in(password_file, std::ios::binary);
        std::string line;
        if (in && std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            s.password = line;
        } else {
            const std::string report = "password file " + Shown(password_file) + " cannot be read";
            StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        }
    }
    s.tls = ReadTlsSettings([&](const char* key) { return text("Broker", key); },
                            [this](const std::string& report) { StatusMessage(kLevelError, "BUSSETTINGS", report.c_str()); });
    s.session_expiry_s = number("Bus", "SessionExpiryS", 60, 0, 86400);
    s.reconnect_min_ms = number("Broker", "ReconnectMinMs", 500, 10, 600000);
    s.reconnect_max_ms = std::max(s.reconnect_min_ms, number("Broker", "ReconnectMaxMs", 30000, 10, 3600000));

    std::string station = text("Bus", "Station");
    if (station.empty()) {
        char name[256] = {};
        win::DWORD size = sizeof name;
        if (win::GetComputerNameA(name, &size)) station = name;
    }
    // A prefix setting with a wildcard, a blank or an empty level is
    // reported and its default used.
    auto prefix = [&](const char* key, std::string fallback) {
        // Topics are UTF-8 on the wire; the settings are in the code page.
        std::string value = CodePageToUtf8(text("Bus", key));
        if (!value.empty() && !ValidPrefix(value)) {
            const std::string report = std::string(key) + "=" + Shown(value) +
                                       " holds a wildcard, a blank or an empty level; the default is used";
            StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
            value.clear();
        }
        return value.empty() ? fallback : value;
    };
    s.prefix = prefix("TopicPrefix", CodePageToUtf8(DefaultPrefix(state.vd_name, state.vd_domain, station.c_str())));
    s.broadcast_prefix =
        prefix("BroadcastPrefix", CodePageToUtf8(DefaultBroadcastPrefix(state.vd_name, state.vd_domain)));
    if (PrefixesOverlap(s.prefix, s.broadcast_prefix)) {
        // A broadcast would also be the station's own command (and arrive
        // twice): such a station takes no broadcasts.
        const std::string report = "BroadcastPrefix " + Shown(s.broadcast_prefix) + " overlaps TopicPrefix " +
                                   Shown(s.prefix) + "; this station takes no broadcasts";
        StatusMessage(kLevelError, "BUSSETTINGS", report.c_str());
        s.broadcast_prefix.clear();
    }
    s.client_id = text("Broker", "ClientId");
    if (s.client_id.empty())
        s.client_id = "vdmqtt-" + TopicLevel(state.vd_name) + "-" + TopicLevel(state.vd_domain) + "-" +
                      TopicLevel(station.c_str());
    s.client_id = CodePageToUtf8(s.client_id);  // MQTT strings are UTF-8
    s.qos = number("Bus", "QoS", 1, 0, 2);
    default_timeout_ms_ =
        static_cast<std::uint32_t>(number("Bus", "CommandTimeoutMs", 5000, 1, static_cast<int>(kMaxCommandTimeoutMs)));
    return s;
}

std::string PlantBusTask::DefaultBroadcastPrefix(const char* app, const char* domain) {
    return TopicLevel(app) + "/" + TopicLevel(domain) + "/all";
}

bool PlantBusTask::PrefixesOverlap(std::string_view a, std::string_view b) {
    return TopicUnder(a, b) || TopicUnder(b, a);
}

bool PlantBusTask::TopicUnder(std::string_view topic, std::string_view prefix) {
    return !prefix.empty() && topic.size() >= prefix.size() && topic.compare(0, prefix.size(), prefix) == 0 &&
           (topic.size() == prefix.size() || topic[prefix.size()] == '/');
}

// ---- loading ----------------------------------------------------------------

void PlantBusTask::CtLoad() {
    // Texts travel whole: the scans take the kernel's full text capacity.
    if (trigger_list != nullptr) trigger_list_set_text_size(trigger_list, kKernelTextCapacity);
    try {
        WalkTaskTables(
            task_state().task_name,
            [](std::int32_t type) -> std::uint32_t {
                return type == kTagRowTableType ? kTagRowSize : type == kCommandRowTableType ? kCommandRowSize : 0;
            },
            [this](std::int32_t type, const TableRecord& record) {
                std::string reason;
                bool added = false;
                if (type == kTagRowTableType) {
                    TagRow row;
                    if (DecodeTagRow(record, &QueryTagType, row, reason)) {
                        added = rows_.Add(std::move(row));
                        if (!added) reason = "topic used by another tag row";
                    }
                } else {
                    CommandRow row;
                    if (DecodeCommandRow(record, &QueryTagType, row, reason)) {
                        added = rows_.Add(std::move(row));
                        if (!added) reason = "topic used by another command row";
                    }
                }
                if (!added) StatusMessage(kLevelError, "BUSROW", record.index, record.table, reason.c_str());
            });
    } catch (const std::bad_alloc&) {
        StatusMessage(kLevelError, "NOMEMORY");
    }
}

void PlantBusTask::Bind(TagRef ref, ChangeFunction function, std::size_t row) {
    if (trigger_list == nullptr && trigger_list_create(&trigger_list) != kTlOk) return;
    HandlerRecord* record = nullptr;
    std::int32_t rc = trigger_list_add(trigger_list, ref, function, &record);
    if (rc == kTlOk) {
        const HandlerWord words[2] = {reinterpret_cast<HandlerWord>(this), static_cast<HandlerWord>(row)};
        rc = handler_set_args(record, 2, words);
        if (rc != kTlOk) trigger_list_remove(trigger_list, record);
    }
    if (rc != kTlOk) StatusMessage(kLevelStarting, "EVENTFUNCTION", std::abs(rc) + kErrorCodeBase);
}

void PlantBusTask::RunLoad() {
    broker_ = ReadBrokerSettings();
    if (!broker_.broadcast_prefix.empty()) {
        for (const CommandRow& row : rows_.commands) {
            if (!row.broadcast) continue;
            const std::string call = broker_.broadcast_prefix + "/" + row.topic + "/call";
            broker_.broadcast_filters.push_back(call);
            broker_.broadcast_filters.push_back(call + "/+");
        }
    }
    const TaskState& state = task_state();
    if (state.second_task_id == state.task_id) {
        // Without a second registration the network thread shares the main
        // thread's id: the main thread polls so that it lets go of it.
        StatusMessage(kLevelError, "BUSNOSECONDID");
        if (IsBlocking()) RequestPolling();
    }
    for (std::size_t i = 0; i < rows_.tags.size(); ++i)
        if (rows_.tags[i].flags & kRowPublish) Bind(rows_.tags[i].tag.ref, &PlantBusTask::OnTagChange, i);
    for (std::size_t i = 0; i < rows_.commands.size(); ++i)
        Bind(rows_.commands[i].done.ref, &PlantBusTask::OnDoneChange, i);

    SessionListener& listener = *this;
    session_ = std::make_unique<MqttSession>(broker_, listener);
    std::string error;
    if (!session_->Start(error)) {
        StatusMessage(kLevelError, "BUSSETTINGS", error.c_str());
        session_.reset();
        return;
    }
    WriteLog("BUSSTART", 3, 0, kEventKindMessage, nullptr, 0, broker_.host.c_str(), broker_.port,
             Utf8ToCodePageShown(broker_.prefix).c_str(), static_cast<int>(rows_.tags.size()),
             static_cast<int>(rows_.commands.size()));
}

void PlantBusTask::Stop() {
    if (session_ != nullptr) {
        // New commands are refused from now on; commands being prepared get
        // a moment to be armed, then every open command is answered.
        std::vector<std::size_t> open;
        for (int i = 0; i < 100; ++i) {
            bool preparing = false;
            {
                std::lock_guard<std::mutex> lock(commands_mutex_);
                stopping_ = true;
                for (const auto& [row, command] : commands_)
                    if (command.state == CommandState::kPreparing) preparing = true;
            }
            if (!preparing) break;
            win::Sleep(10);
        }
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            for (const auto& [row, command] : commands_) open.push_back(row);
        }
        for (std::size_t row : open) {
            OpenCommand command;
            if (TakeCommand(row, command, false, Clock::now())) FinishCommand(row, std::move(command), "stopped");
        }
        ReportCounts(Clock::now(), true);  // the refusals counted so far
        session_->Stop();
        session_.reset();
    }
    rows_ = BusRows{};
}

// ---- main thread: changes -------------------------------------------------------

void PlantBusTask::OnTagChange(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args) {
    if ((count & 0xFFFFu) < 2 || args == nullptr || value == nullptr || entry == nullptr) return;
    auto* task = reinterpret_cast<PlantBusTask*>(args[0]);
    const std::size_t row = static_cast<std::size_t>(args[1]);
    if (task == nullptr || row >= task->rows_.tags.size()) return;
    task->PublishRow(row, FormatRecord(task->rows_.tags[row].tag.type, *value));
}

void PlantBusTask::OnDoneChange(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args) {
    if ((count & 0xFFFFu) < 2 || args == nullptr || value == nullptr || entry == nullptr) return;
    auto* task = reinterpret_cast<PlantBusTask*>(args[0]);
    const std::size_t row = static_cast<std::size_t>(args[1]);
    if (task == nullptr || row >= task->rows_.commands.size()) return;
    const std::int64_t done = entry->type == kTagInt32 ? value->Int32() : value->Int16();
    if (done == 0) return;  // our own clearing of the done tag
    OpenCommand command;
    if (task->TakeCommand(row, command, false, Clock::now())) task->FinishCommand(row, std::move(command), "done");
}

void PlantBusTask::PublishRow(std::size_t row, const std::string& payload) {
    // Not queued while the broker is away (the client would keep every
    // change): the reconnection republishes the current values.
    std::lock_guard<std::mutex> lock(publish_mutex_);
    if (session_ != nullptr && session_->Connected()) session_->Publish(rows_.tags[row].topic, payload, true);
}

// ---- network thread ---------------------------------------------------------------

void PlantBusTask::OnConnected() {
    if (problem_reported_) {
        // The bus works again: the station shows it runs.
        StatusMessage(kLevelRunning, "RUN");
        problem_reported_ = false;
    }
    WriteLog("BUSCONNECTED", 3, 0, kEventKindMessage, nullptr, 0, broker_.host.c_str(), broker_.port,
             Utf8ToCodePageShown(broker_.client_id).c_str());
    // Every published value, retained, read now: a change after the read
    // reaches the main thread and is published after this.
    std::lock_guard<std::mutex> lock(publish_mutex_);
    for (const TagRow& row : rows_.tags) {
        if (!(row.flags & kRowPublish)) continue;
        BusValue value;
        if (ReadTagValue(row.tag.ref, row.tag.type, value) == 0) session_->Publish(row.topic, FormatPayload(value), true);
    }
}

void PlantBusTask::OnProblem(const char* key, const std::string& detail) {
    StatusMessage(kLevelError, key, detail.c_str());
    problem_reported_ = true;
}

std::string PlantBusTask::StationField(bool broadcast) const {
    return broadcast ? ",\"station\":" + JsonString(broker_.prefix) : std::string();
}

// ---- refusals ---------------------------------------------------------------------

void PlantBusTask::Report(const std::string& topic, const std::string& reason) {
    // Keyed by what the report shows: an endless topic makes one key.
    const std::string shown = Reported(topic, kTopicShown), why = Reported(reason, kReasonShown);
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(refusals_mutex_);
        full = refusals_.Note(shown, why, Clock::now());
    }
    if (full) StatusMessage(kLevelError, "BUSBADMSG", shown.c_str(), why.c_str());
}

SteadyTime PlantBusTask::ReportCounts(SteadyTime now, bool all) {
    std::vector<RefusalLog::Summary> due;
    SteadyTime next;
    {
        std::lock_guard<std::mutex> lock(refusals_mutex_);
        due = refusals_.Due(now, all);
        next = refusals_.NextDue();
    }
    for (const RefusalLog::Summary& s : due)
        StatusMessage(kLevelError, "BUSBADMSGS", s.count, s.topic.c_str(), s.reason.c_str(), s.seconds);
    return next;
}

void PlantBusTask::Refuse(const std::string& topic, const std::string& reason) {
    Report(topic, reason);
    // Every refusal on the error topic: it is what a caller watches.
    if (session_ != nullptr)
        session_->Publish("error", "{\"topic\":" + JsonString(topic) + ",\"reason\":" + JsonString(reason) + "}", false);
}

std::string PlantBusTask::RefusedAnswer(const std::string& reason, bool broadcast) const {
    return "{\"result\":\"refused\",\"reason\":" + JsonString(reason) + StationField(broadcast) + "}";
}

std::string PlantBusTask::SendAnswer(const std::string& reply, const std::string* correlation,
                                     const std::string& answer, bool broadcast) {
    if (session_ == nullptr) return answer;
    std::string refusal;
    if (session_->PublishTo(reply, answer, false, correlation, kAnswerQos, &refusal)) return answer;
    // While the broker is away the client keeps QoS 1 and 2 messages for the
    // reconnection (and says "not connected"): the answer goes out then.
    if (!session_->Connected()) return answer;
    // The caller is not left waiting: a short answer says why.
    const std::string reason =
        "the answer could not be sent: " + (refusal.empty() ? std::string("refused by the client") : refusal);
    Refuse(reply, reason);
    const std::string short_answer = RefusedAnswer(reason, broadcast);
    refusal.clear();
    if (!session_->PublishTo(reply, short_answer, false, correlation, kAnswerQos, &refusal))
        Report(reply, "the refused answer could not be sent either: " + refusal);
    return short_answer;
}

void PlantBusTask::Answer(const std::string& reply, const std::string* correlation, const std::string& key,
                          std::chrono::milliseconds window, const std::string& answer, bool broadcast) {
    // Sent before the key is closed: a copy arriving meanwhile finds it open
    // and is answered by this very answer (it has the same destination).
    const std::string sent = SendAnswer(reply, correlation, answer, broadcast);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(commands_mutex_);
    ledger_.Finish(key, sent, Clock::now(), window);
}

// ---- network thread: messages -----------------------------------------------------

void PlantBusTask::OnMessage(const BusMessage& message) {
    // The topic below "<prefix>/", or empty when it is not under it.
    auto under = [&](const std::string& prefix) {
        const std::string_view topic = message.topic;
        if (topic.size() <= prefix.size() + 1 || !TopicUnder(topic, prefix)) return std::string_view();
        return topic.substr(prefix.size() + 1);
    };
    if (const std::string_view rest = under(broker_.broadcast_prefix); !rest.empty()) {
        // Only the call topics of the broadcast rows are subscribed there.
        const TopicRequest request = ClassifyTopic(rest);
        auto it = rows_.command_by_topic.find(request.base);
        if (request.kind == TopicRequest::kCall && it != rows_.command_by_topic.end() &&
            rows_.commands[it->second].broadcast)
            HandleCall(message, request.base, request.request_id, true);
        return;
    }
    const std::string_view rest = under(broker_.prefix);
    if (rest.empty()) return;  // not ours (the subscription is "<prefix>/#")
    const TopicRequest request = ClassifyTopic(rest);
    switch (request.kind) {
        case TopicRequest::kSet: HandleSet(message, request.base); break;
        case TopicRequest::kCall: HandleCall(message, request.base, request.request_id, false); break;
        default: HandleState(message, request, rest); return;
    }
    // A retained write or command would stay at the broker for the next
    // subscriber: it is handled once and deleted.
    DeleteRetained(message);
}

void PlantBusTask::HandleState(const BusMessage& message, const TopicRequest& request, std::string_view rest) {
    if (request.kind == TopicRequest::kOwn && rest == "status") {
        // Only the bridge says whether it runs.
        bool stopping = false;
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            stopping = stopping_;
        }
        if (message.payload == MqttSession::kOnline || stopping) return;
        Refuse(message.topic, "the bridge's own status topic");
        if (session_ != nullptr) session_->Publish("status", MqttSession::kOnline, true);
        return;
    }
    if (request.kind == TopicRequest::kOwn) {
        // The error topic and answers: another bridge's or a caller's
        // leftovers are not kept for the next subscriber.
        DeleteRetained(message);
        return;
    }
    if (auto it = rows_.tag_by_topic.find(request.base);
        request.kind == TopicRequest::kState && it != rows_.tag_by_topic.end()) {
        const std::size_t row = it->second;
        Refuse(message.topic, "a state topic of the bridge: write to " + Shown(request.base) + "/set");
        if (rows_.tags[row].flags & kRowPublish)
            CorrectState(row, message);
        else
            DeleteRetained(message);
        return;
    }
    if (request.kind == TopicRequest::kState && rows_.command_by_topic.count(request.base) != 0)
        Refuse(message.topic, "a command: publish to " + Shown(request.base) + "/call");
    else
        Refuse(message.topic, "unknown topic");
    DeleteRetained(message);
}

void PlantBusTask::CorrectState(std::size_t row, const BusMessage& message) {
    const TagRow& tag = rows_.tags[row];
    BusValue value;
    if (ReadTagValue(tag.tag.ref, tag.tag.type, value) != 0) return;
    const std::string truth = FormatPayload(value);
    // The same value needs nothing (and two bridges on one prefix by mistake
    // holding the same value do not answer each other).
    if (message.payload != truth) PublishRow(row, truth);
}

void PlantBusTask::DeleteRetained(const BusMessage& message) {
    // An empty payload is a deletion already: never answered, so nothing loops.
    if (!message.retained || message.payload.empty() || session_ == nullptr) return;
    session_->PublishTo(message.topic, "", true);
}

void PlantBusTask::HandleSet(const BusMessage& message, const std::string& base) {
    const std::string& topic = message.topic;
    auto it = rows_.tag_by_topic.find(base);
    if (it == rows_.tag_by_topic.end()) {
        Refuse(topic, "unknown topic");
        return;
    }
    const TagRow& row = rows_.tags[it->second];
    if (!(row.flags & kRowAcceptWrites)) {
        Refuse(topic, "the tag does not accept writes");
        return;
    }
    BusValue value;
    std::string reason;
    if (!ParsePayload(row.tag.type, message.payload, value, reason)) {
        Refuse(topic, reason);
        return;
    }
    std::int32_t rc = WriteTagValue(row.tag.ref, value);
    if (rc != 0) Refuse(topic, KernelReason("the value", rc));
}

void PlantBusTask::HandleCall(const BusMessage& message, const std::string& base, const std::string& request_id,
                              bool broadcast) {
    std::string reply;
    if (!message.response_topic.empty()) {
        if (!ValidPrefix(message.response_topic)) {
            Refuse(message.topic, "the response topic holds a wildcard or an empty level");
            return;
        }
        // An answer there would overwrite the station's state or look like
        // a command to the fleet: nothing is published there.
        if (TopicUnder(message.response_topic, broker_.prefix) ||
            TopicUnder(message.response_topic, broker_.broadcast_prefix)) {
            Refuse(message.topic, "the response topic lies under the station's or the broadcast prefix");
            return;
        }
        reply = message.response_topic;
    } else if (!request_id.empty()) {
        reply = broker_.prefix + "/" + base + "/reply/" + request_id;
    } else {
        Refuse(message.topic, "no response topic: use MQTT 5 with a response topic, or <topic>/call/<id>");
        return;
    }
    const std::string* correlation = message.has_correlation ? &message.correlation : nullptr;
    auto it = rows_.command_by_topic.find(base);
    const bool known = it != rows_.command_by_topic.end();
    const std::size_t index = known ? it->second : 0;
    const std::uint32_t timeout_ms =
        known && rows_.commands[index].timeout_ms != 0 ? rows_.commands[index].timeout_ms : default_timeout_ms_;
    const std::chrono::milliseconds window = LedgerWindow(timeout_ms);

    // The id first, before the busy rule: a copy of an open command is not
    // busy, and no copy runs anything.
    const std::string key = CommandKey(message, !request_id.empty());
    if (!key.empty()) {
        std::string stored;
        CommandLedger::Seen seen;
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            seen = ledger_.Take(key, Clock::now(), &stored);
        }
        if (seen == CommandLedger::Seen::kOpen) return;  // the first run's answer answers it
        // A copy from the broker's kept session (its redelivery of a command
        // whose acknowledgement a link drop lost, or a retry sent meanwhile)
        // goes to the response topic and correlation the answer went to at
        // QoS 2 in that session: answering it again would answer twice.
        if (seen == CommandLedger::Seen::kAnswered) {
            if (!message.queued) SendAnswer(reply, correlation, stored, broadcast);
            return;
        }
    }
    // From here every path answers once, which closes the key.
    auto refuse = [&](const std::string& reason) {
        Refuse(message.topic, reason);
        Answer(reply, correlation, key, window, RefusedAnswer(reason, broadcast), broadcast);
    };
    if (!known) return refuse("unknown command");
    const CommandRow& row = rows_.commands[index];
    if (std::string stale = StaleQueuedReason(message, timeout_ms); !stale.empty()) return refuse(stale);

    // The payload: the argument tag's value, or the trigger's in value mode.
    BusValue argument, fire;
    std::string reason;
    if (row.argument.Configured()) {
        if (!ParsePayload(row.argument.type, message.payload, argument, reason)) return refuse(reason);
    } else if (row.mode == kCommandValue) {
        if (!ParsePayload(row.trigger.type, message.payload, fire, reason)) return refuse(reason);
    } else if (!BlankOnly(message.payload)) {
        return refuse("this command takes no value");
    }

    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        if (stopping_) {
            reason = "the bridge is stopping";
        } else if (commands_.count(index) != 0) {
            reason = "busy: the previous command of this row is still open";
        } else {
            OpenCommand& command = commands_[index];
            command.reply_topic = reply;
            command.has_correlation = message.has_correlation;
            command.correlation = message.correlation;
            command.label = Reported(message.topic, kTopicShown);
            command.broadcast = broadcast;
            command.key = key;
            command.window = window;
            command.start = now;
            command.deadline = now + std::chrono::milliseconds(timeout_ms);
        }
    }
    if (!reason.empty()) return refuse(reason);
    auto fail = [&](const std::string& why) {
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            commands_.erase(index);
        }
        refuse(why);
    };

    // The done tag is cleared first, so that the handler's 1 is a change.
    std::int32_t rc = WriteTagValue(row.done.ref, Integer(row.done.type, 0));
    if (rc != 0) return fail(KernelReason("clearing the done tag", rc));
    if (row.argument.Configured()) {
        rc = WriteTagValue(row.argument.ref, argument);
        if (rc != 0) return fail(KernelReason("the argument", rc));
    }
    BusValue current;
    rc = ReadTagValue(row.trigger.ref, row.trigger.type, current);
    if (rc != 0) return fail(KernelReason("reading the trigger", rc));
    if (row.mode == kCommandCount) {
        fire = NextCount(current);
    } else {
        if (row.mode == kCommandPulse || row.argument.Configured()) fire = Integer(row.trigger.type, 1);
        // Writing the value a tag holds is no change: another value first.
        if (current == fire) {
            rc = WriteTagValue(row.trigger.ref, DifferentValue(fire));
            if (rc != 0) return fail(KernelReason("the trigger", rc));
        }
    }
    bool stopping = false;
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        // A stop that no longer waits for this command answers only armed
        // ones: this one is refused here instead of left open.
        stopping = stopping_;
        if (!stopping) commands_[index].state = CommandState::kArmed;
    }
    if (stopping) return fail("the bridge is stopping");
    rc = WriteTagValue(row.trigger.ref, fire);
    if (rc != 0) {
        OpenCommand taken;
        if (TakeCommand(index, taken, false, Clock::now())) fail(KernelReason("the trigger", rc));
    }
}

bool PlantBusTask::TakeCommand(std::size_t row, OpenCommand& out, bool only_expired, SteadyTime now) {
    std::lock_guard<std::mutex> lock(commands_mutex_);
    auto it = commands_.find(row);
    if (it == commands_.end() || it->second.state != CommandState::kArmed) return false;
    if (only_expired && now < it->second.deadline) return false;
    it->second.state = CommandState::kFinishing;
    out = it->second;
    return true;
}

void PlantBusTask::FinishCommand(std::size_t index, OpenCommand command, const char* result) {
    const CommandRow& row = rows_.commands[index];
    const bool done = std::string_view(result) == "done";
    std::string values = "[";
    if (done) {
        for (std::size_t i = 0; i < row.results.size(); ++i) {
            BusValue value;
            if (i > 0) values += ",";
            values += ReadTagValue(row.results[i].ref, row.results[i].type, value) == 0 ? JsonValue(value) : "null";
        }
    }
    values += "]";
    if (row.mode == kCommandPulse) WriteTagValue(row.trigger.ref, Integer(row.trigger.type, 0));
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        commands_.erase(index);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - command.start).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", ms);
    const std::string answer = std::string("{\"result\":\"") + result + "\",\"values\":" + values + ",\"ms\":" + elapsed +
                               StationField(command.broadcast) + "}";
    Answer(command.reply_topic, command.has_correlation ? &command.correlation : nullptr, command.key, command.window,
           answer, command.broadcast);
    if (!done)
        StatusMessage(kLevelError, "BUSTIMEOUT", command.label.c_str(), result);
}

SteadyTime PlantBusTask::OnTimer(SteadyTime now) {
    std::vector<std::size_t> expired;
    SteadyTime next = SteadyTime::max();
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        for (const auto& [row, command] : commands_) {
            if (command.state == CommandState::kArmed && now >= command.deadline)
                expired.push_back(row);
            else
                next = std::min(next, command.deadline);
        }
    }
    for (std::size_t row : expired) {
        OpenCommand command;
        if (TakeCommand(row, command, true, now)) FinishCommand(row, std::move(command), "timeout");
    }
    return std::min(next, ReportCounts(now, false));
}
