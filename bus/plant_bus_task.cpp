#include "bus/plant_bus_task.h"

#include <algorithm>
#include <new>

#include "bus/dialect.h"
#include "config/task_tables.h"
#include "frame/change_binding.h"
#include "frame/kernel_access.h"
#include "frame/log_writer.h"
#include "frame/status_message.h"
#include "frame/task_state.h"
#include "kernel/kernel.h"
#include "platform/sync.h"
#include "support/utf8.h"

namespace {

using Clock = std::chrono::steady_clock;

// The publication lock, taken after the calling thread's kernel access, in
// this order on both threads: the birth reads tags under it, and where both
// threads share one id (no second registration) a handler holding the id
// must not wait for the lock while the birth waits for the id.
class PublicationLock {
public:
    explicit PublicationLock(std::mutex& mutex) : mutex_(mutex) {
        AcquireKernelAccess(0);
        mutex_.lock();
    }
    ~PublicationLock() {
        mutex_.unlock();
        ReleaseKernelAccess();
    }
    PublicationLock(const PublicationLock&) = delete;
    PublicationLock& operator=(const PublicationLock&) = delete;

private:
    std::mutex& mutex_;
};

constexpr int kTopicShown = 64;    // characters of an outside topic in a report
constexpr int kReasonShown = 200;  // characters of a reason in a report

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

std::string KernelReason(const char* what, std::int32_t code) {
    if (code == kKernelErrTooLong) return std::string(what) + ": longer than the tag holds";
    return std::string(what) + " refused by the runtime (kernel error " + std::to_string(code) + ")";
}

// The tag's type from the kernel, or kTagNotConfigured.
std::int16_t QueryTagType(TagRef ref) { return TagObject(ref).Type(); }

}  // namespace

PlantBusTask::PlantBusTask(const char* name, const char* title) : TaskBase(name, title) {}

PlantBusTask::~PlantBusTask() {
    if (task_state().task_id != kNoTask) Stop();
    session_.reset();
}

// ---- loading ----------------------------------------------------------------

void PlantBusTask::CtLoad() {
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

void PlantBusTask::RunLoad() {
    settings_ = ReadBusSettings(*this);
    dialect_ = MakeDialect(DialectContext{rows_, settings_.broker, *this, settings_.station});
    dialect_->Shape(settings_.broker);
    if (!dialect_->Unusable().empty()) {  // reported; the station stays off the broker
        KeepStartStatus();
        return;
    }
    const TaskState& state = task_state();
    if (state.second_task_id == state.task_id) {
        // Without a second registration the network thread shares the main
        // thread's id: the main thread polls so that it lets go of it.
        StatusMessage(kLevelError, "BUSNOSECONDID");
        if (IsBlocking()) RequestPolling();
    }
    // Texts travel whole: the bound tag objects hold the kernel's full
    // text capacity, and the scans grow to it.
    watches_.clear();
    watches_.reserve(rows_.tags.size() + rows_.commands.size());
    for (std::size_t i = 0; i < rows_.tags.size(); ++i)
        if (dialect_->Reports(i)) {
            Watch& watch = watches_.emplace_back(Watch{this, i, rows_.tags[i].tag.Value()});
            BindChange<&PlantBusTask::OnTagChange>(*this, watch.tag, watch);
        }
    for (std::size_t i = 0; i < rows_.commands.size(); ++i) {
        Watch& watch = watches_.emplace_back(Watch{this, i, rows_.commands[i].done.Value()});
        BindChange<&PlantBusTask::OnDoneChange>(*this, watch.tag, watch);
    }

    SessionListener& listener = *this;
    session_ = std::make_unique<MqttSession>(settings_.broker, listener);
    std::string error;
    if (!session_->Start(error)) {
        StatusMessage(kLevelError, "BUSSETTINGS", error.c_str());
        session_.reset();
        KeepStartStatus();
        return;
    }
    const BrokerSettings& broker = settings_.broker;
    WriteLog("BUSSTART", 3, 0, kEventKindMessage, nullptr, 0, broker.host.c_str(), broker.port,
             Utf8ToCodePageShown(broker.prefix).c_str(), static_cast<int>(rows_.tags.size()),
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
            if (TakeCommand(row, command, false, Clock::now()))
                FinishCommand(row, std::move(command), CommandResult::kStopped);
        }
        ReportCounts(Clock::now(), true);  // the refusals counted so far
        session_->Stop();
        session_.reset();
    }
    rows_ = BusRows{};
}

// ---- main thread: changes -------------------------------------------------------

void PlantBusTask::OnTagChange(Watch& watch, TagObject& tag) {
    PlantBusTask& task = *watch.task;
    if (watch.row < task.rows_.tags.size()) task.PublishState(watch.row, tag);
}

void PlantBusTask::OnDoneChange(Watch& watch, TagObject& tag) {
    PlantBusTask& task = *watch.task;
    if (watch.row >= task.rows_.commands.size() || tag.AsInt() == 0) return;  // 0: our own clearing of the done tag
    OpenCommand command;
    if (task.TakeCommand(watch.row, command, false, Clock::now()))
        task.FinishCommand(watch.row, std::move(command), CommandResult::kDone);
}

void PlantBusTask::PublishState(std::size_t row, const TagObject& value) {
    // Not queued while the broker is away (the client would keep every
    // change): the reconnection republishes the current values.
    const PublicationLock lock(publish_mutex_);
    if (session_ == nullptr || !session_->Connected()) return;
    if (std::optional<Outgoing> state = dialect_->EncodeState(row, value)) Send(*state);
}

void PlantBusTask::PublishBirth() {
    for (const Outgoing& message : dialect_->Birth()) Send(message);
}

bool PlantBusTask::Send(const Outgoing& m, std::string* refusal) {
    if (session_ == nullptr) return false;
    return session_->PublishTo(m.topic, m.payload, m.retain, m.has_correlation ? &m.correlation : nullptr, m.qos,
                               refusal);
}

// ---- network thread ---------------------------------------------------------------

void PlantBusTask::OnConnected() {
    const BrokerSettings& broker = settings_.broker;
    if (problem_reported_) {
        // The bus works again: the station shows it runs.
        StatusMessage(kLevelRunning, "RUN");
        problem_reported_ = false;
    }
    WriteLog("BUSCONNECTED", 3, 0, kEventKindMessage, nullptr, 0, broker.host.c_str(), broker.port,
             Utf8ToCodePageShown(broker.client_id).c_str());
    // The birth reads every value now: a change after the read reaches the
    // main thread and goes out after it.
    const PublicationLock lock(publish_mutex_);
    PublishBirth();
}

std::string PlantBusTask::WillPayload() { return dialect_->WillPayload(); }

void PlantBusTask::OnProblem(const char* key, const std::string& detail) {
    StatusMessage(kLevelError, key, detail.c_str());
    problem_reported_ = true;
}

// ---- refusals and answers ------------------------------------------------------------

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

void PlantBusTask::Refuse(const std::string& topic, const std::string& reason, const Decoded* request) {
    Report(topic, reason);
    const PublicationLock lock(publish_mutex_);
    AnnounceRefusal(topic, reason, request);
}

void PlantBusTask::AnnounceRefusal(const std::string& topic, const std::string& reason, const Decoded* request) {
    // Every refusal on the bus too: it is what a caller watches.
    if (session_ == nullptr) return;
    if (std::optional<Outgoing> refusal = dialect_->EncodeRefusal(topic, reason, request)) Send(*refusal);
}

void PlantBusTask::SendAnswer(const ReplyTo& reply, const std::optional<Outgoing>& answer,
                              const CommandAnswer& of) {
    if (!answer || session_ == nullptr) return;
    std::string refusal;
    if (Send(*answer, &refusal)) return;
    // While the broker is away the client keeps QoS 1 and 2 messages for the
    // reconnection (and says "not connected"): the answer goes out then.
    if (!session_->Connected()) return;
    // The caller is not left waiting: a short answer says why.
    CommandAnswer refused;
    refused.row = of.row;
    refused.known = of.known;
    refused.result = CommandResult::kRefused;
    refused.reason =
        "the answer could not be sent: " + (refusal.empty() ? std::string("refused by the client") : refusal);
    refused.broadcast = of.broadcast;
    Report(answer->topic, refused.reason);
    AnnounceRefusal(answer->topic, refused.reason, nullptr);
    const std::optional<Outgoing> short_answer = dialect_->EncodeAnswer(refused, reply);
    if (!short_answer) return;
    refusal.clear();
    if (!Send(*short_answer, &refusal))
        Report(answer->topic, "the refused answer could not be sent either: " + refusal);
}

void PlantBusTask::Answer(const ReplyTo& reply, const std::string& key, std::chrono::milliseconds window,
                          const CommandAnswer& answer) {
    // The key is closed with the answer before the answer is sent: a copy
    // taken before that finds it open and is answered by this very answer
    // (it has the same destination), one taken after gets the stored answer
    // (sent after this one: the publication lock is held). Closed after the
    // send, a copy arriving in between would get no answer at all. Should
    // the send fail, a copy's resend fails the same way and is answered
    // with the short refusal too.
    const PublicationLock lock(publish_mutex_);
    const std::optional<Outgoing> out = dialect_->EncodeAnswer(answer, reply);
    if (!key.empty()) {
        std::lock_guard<std::mutex> commands(commands_mutex_);  // always taken last
        ledger_.Finish(key, out ? out->payload : std::string(), Clock::now(), window);
    }
    SendAnswer(reply, out, answer);
}

// ---- network thread: messages -----------------------------------------------------

void PlantBusTask::OnMessage(const BusMessage& message) {
    std::vector<Decoded> requests;
    dialect_->Decode(message, requests);
    for (Decoded& request : requests) {
        if (request.action == Decoded::kRestoreStatus) {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            if (stopping_) continue;
        }
        if (request.action == Decoded::kCommand) {
            RunCommand(message, request);  // its refusal is answered, after the ledger
        } else {
            if (!request.refusal.empty()) Refuse(message.topic, request.refusal, &request);
            switch (request.action) {
                case Decoded::kWrite: Write(message, request); break;
                case Decoded::kCorrectState: CorrectState(request.row, message); break;
                case Decoded::kRestoreStatus:
                    if (session_ != nullptr) session_->Publish("status", MqttSession::kOnline, true);
                    break;
                case Decoded::kBirth: {
                    const PublicationLock lock(publish_mutex_);
                    if (session_ != nullptr) PublishBirth();
                    break;
                }
                case Decoded::kReconnect:
                    if (session_ != nullptr) session_->Restart();
                    break;
                default: break;
            }
        }
        if (request.delete_retained) DeleteRetained(message);
    }
}

void PlantBusTask::Write(const BusMessage& message, Decoded& request) {
    const std::int32_t rc = request.value.WriteQuiet();
    if (rc != 0) Refuse(message.topic, KernelReason("the value", rc));
}

void PlantBusTask::CorrectState(std::size_t row, const BusMessage& message) {
    TagObject value = rows_.tags[row].tag.Value();
    if (value.ReadQuiet() != 0) return;
    // The same value needs nothing (and two bridges on one prefix by mistake
    // holding the same value do not answer each other).
    const PublicationLock lock(publish_mutex_);
    if (session_ == nullptr || !session_->Connected()) return;
    const std::optional<Outgoing> truth = dialect_->EncodeState(row, value);
    if (truth && message.payload != truth->payload) Send(*truth);
}

void PlantBusTask::DeleteRetained(const BusMessage& message) {
    // An empty payload is a deletion already: never answered, so nothing loops.
    if (!message.retained || message.payload.empty() || session_ == nullptr) return;
    session_->PublishTo(message.topic, "", true);
}

void PlantBusTask::RunCommand(const BusMessage& message, Decoded& request) {
    const std::size_t index = request.row;
    const CommandRow* row = request.known ? &rows_.commands[index] : nullptr;
    const std::uint32_t timeout_ms =
        row != nullptr && row->timeout_ms != 0 ? row->timeout_ms : settings_.command_timeout_ms;
    const std::chrono::milliseconds window = LedgerWindow(timeout_ms);

    // The id first, before the busy rule: a copy of an open command is not
    // busy, and no copy runs anything.
    if (!request.key.empty()) {
        std::string stored;
        CommandLedger::Seen seen;
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            seen = ledger_.Take(request.key, Clock::now(), &stored);
        }
        if (seen == CommandLedger::Seen::kOpen) return;  // the first run's answer answers it
        // A copy from the broker's kept session (its redelivery of a command
        // whose acknowledgement a link drop lost, or a retry sent meanwhile)
        // goes to the response topic and correlation the answer went to at
        // QoS 2 in that session: answering it again would answer twice.
        if (seen == CommandLedger::Seen::kAnswered) {
            if (request.queued || !request.answer_copies) return;
            CommandAnswer of;
            of.row = request.row;
            of.known = request.known;
            of.broadcast = request.broadcast;
            const PublicationLock lock(publish_mutex_);
            SendAnswer(request.reply, ReplyMessage(request.reply, stored), of);
            return;
        }
    }
    // From here every path answers once, which closes the key.
    auto refuse = [&](const std::string& reason, bool busy = false) {
        Refuse(message.topic, reason, &request);
        CommandAnswer answer;
        answer.row = index;
        answer.known = request.known;
        answer.busy = busy;
        answer.result = CommandResult::kRefused;
        answer.reason = reason;
        answer.broadcast = request.broadcast;
        Answer(request.reply, request.key, window, answer);
    };
    if (row == nullptr) return refuse(request.refusal);
    if (std::string stale = StaleQueuedReason(request.queued, request.queued_max_ms, timeout_ms); !stale.empty())
        return refuse(stale);
    if (!request.refusal.empty()) return refuse(request.refusal);

    std::string reason;
    bool busy = false;
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        if (stopping_) {
            reason = "the bridge is stopping";
        } else if (commands_.count(index) != 0) {
            reason = "busy: the previous command of this row is still open";
            busy = true;
        } else {
            OpenCommand& command = commands_[index];
            command.reply = request.reply;
            command.label = Reported(message.topic, kTopicShown);
            command.broadcast = request.broadcast;
            command.key = request.key;
            command.window = window;
            command.start = now;
            command.deadline = now + std::chrono::milliseconds(timeout_ms);
        }
    }
    if (!reason.empty()) return refuse(reason, busy);
    auto fail = [&](const std::string& why) {
        {
            std::lock_guard<std::mutex> lock(commands_mutex_);
            commands_.erase(index);
        }
        refuse(why);
    };

    // The done tag is cleared first, so that the handler's 1 is a change.
    TagObject done = row->done.Value();
    std::int32_t rc = done.SetInt(0).WriteQuiet();
    if (rc != 0) return fail(KernelReason("clearing the done tag", rc));
    if (row->argument.Configured()) {
        rc = request.value.WriteQuiet();
        if (rc != 0) return fail(KernelReason("the argument", rc));
    }
    TagObject current = row->trigger.Value();
    rc = current.ReadQuiet();
    if (rc != 0) return fail(KernelReason("reading the trigger", rc));
    // The trigger's new value: the payload in value mode, else a number.
    TagObject fire = row->mode == kCommandValue && !row->argument.Configured() ? std::move(request.value)
                                                                                : row->trigger.Value();
    if (row->mode == kCommandCount) {
        fire.SetInt(NextCount(current));
    } else {
        if (row->mode == kCommandPulse || row->argument.Configured()) fire.SetInt(1);
        // Writing the value a tag holds is no change: another value first.
        if (SameValue(current, fire)) {
            SetDifferent(current, fire);
            rc = current.WriteQuiet();
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
    rc = fire.WriteQuiet();
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

void PlantBusTask::FinishCommand(std::size_t index, OpenCommand command, CommandResult result) {
    const CommandRow& row = rows_.commands[index];
    CommandAnswer answer;
    answer.row = index;
    answer.result = result;
    answer.broadcast = command.broadcast;
    if (result == CommandResult::kDone) {
        answer.values.reserve(row.results.size());
        for (const TagPoint& point : row.results) {
            TagObject& value = answer.values.emplace_back(point.Value());
            if (value.ReadQuiet() != 0) value = TagObject();  // "null"
        }
    }
    if (row.mode == kCommandPulse) row.trigger.Value().SetInt(0).WriteQuiet();
    {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        commands_.erase(index);
    }
    answer.ms = std::chrono::duration<double, std::milli>(Clock::now() - command.start).count();
    Answer(command.reply, command.key, command.window, answer);
    if (result != CommandResult::kDone)
        StatusMessage(kLevelError, "BUSTIMEOUT", command.label.c_str(), ResultName(result));
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
        if (TakeCommand(row, command, true, now)) FinishCommand(row, std::move(command), CommandResult::kTimeout);
    }
    return std::min(next, ReportCounts(now, false));
}
