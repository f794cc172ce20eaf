// The plant bus task, the bridge's core: joins chosen tags of the station's
// runtime to an MQTT broker. It holds the rows, reads and writes the tags
// through the frame's tag objects, keeps the open-command table and the
// command ledger, and runs the session; what the messages look like is its
// dialect's (bus/dialect.h; today's is bus/topic_dialect.h).
//
// Threads. The main thread runs the frame's loop: it blocks in the
// kernel's trigger wait and, on a change, publishes a tag row's new value or
// finishes the command whose done tag was set. The network thread of the
// session handles everything that arrives from the broker; it reaches the
// kernel through the second registration ("Driver2Ids"), which has its own
// semaphore, so it never waits for the main thread's blocking wait. Open
// commands sit in a table shared by both threads; whichever thread takes a
// command out of it (done seen, or timed out) is the one that answers it.
//
// Safety on a shared network: a command's id is looked up in the ledger
// before anything else, so a copy runs nothing; answers go out at QoS 2;
// a command the broker kept longer than its timeout is refused; refusals
// are reported once per topic and reason, then counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/bus_rows.h"
#include "bus/bus_settings.h"
#include "bus/command_ledger.h"
#include "bus/dialect.h"
#include "bus/mqtt_session.h"
#include "bus/refusal_log.h"
#include "frame/task_base.h"

class PlantBusTask : public TaskBase, private SessionListener {
public:
    PlantBusTask(const char* name, const char* title);
    ~PlantBusTask() override;

    void CtLoad() override;   // the rows
    void RunLoad() override;  // settings, dialect, bindings, the session
    void Stop() override;     // open commands answered, "offline", rows released

    static constexpr int kAnswerQos = ::kAnswerQos;

private:
    enum class CommandState { kPreparing, kArmed, kFinishing };
    struct OpenCommand {
        CommandState state = CommandState::kPreparing;
        ReplyTo reply;
        std::string label;       // the command topic, for reports
        bool broadcast = false;  // the answer names the station
        std::string key;         // in the ledger; empty: a command without id
        std::chrono::milliseconds window{0};  // how long the ledger keeps its answer
        std::chrono::steady_clock::time_point start, deadline;
    };
    // A bound tag (main thread): a publishing row's tag or a command's done tag.
    struct Watch {
        PlantBusTask* task;
        std::size_t row;
        TagObject tag;
    };

    static void OnTagChange(Watch& watch, TagObject& tag);
    static void OnDoneChange(Watch& watch, TagObject& tag);

    // SessionListener (network thread).
    void OnConnected() override;
    void OnProblem(const char* key, const std::string& detail) override;
    void OnMessage(const BusMessage& message) override;
    SteadyTime OnTimer(SteadyTime now) override;
    std::string WillPayload() override;

    void Write(const BusMessage& message, Decoded& request);
    void RunCommand(const BusMessage& message, Decoded& request);
    // Publishes a publishing row's true value again (retained) when the
    // message says otherwise.
    void CorrectState(std::size_t row, const BusMessage& message);
    // Deletes a retained message another client left on one of our topics.
    void DeleteRetained(const BusMessage& message);
    // Reports a refused message (status message, rate-limited, and the
    // dialect's refusal message).
    void Refuse(const std::string& topic, const std::string& reason, const Decoded* request = nullptr);
    // The dialect's message of a refusal (under publish_mutex_).
    void AnnounceRefusal(const std::string& topic, const std::string& reason, const Decoded* request);
    // The status message and log part of a refusal: in full the first time
    // per topic and reason, else counted (RefusalLog).
    void Report(const std::string& topic, const std::string& reason);
    // Publishes an answer; one the client cannot send is replaced by a
    // short refused answer naming why. Under publish_mutex_.
    void SendAnswer(const ReplyTo& reply, const std::optional<Outgoing>& answer, const CommandAnswer& of);
    // The encoded answer kept in the ledger under `key`, then sent.
    void Answer(const ReplyTo& reply, const std::string& key, std::chrono::milliseconds window,
                const CommandAnswer& answer);
    // Summaries of the counted refusals that are due (all at a stop).
    SteadyTime ReportCounts(SteadyTime now, bool all);
    // Takes an armed command out (any thread); false when another thread
    // has it or there is none.
    bool TakeCommand(std::size_t row, OpenCommand& out, bool only_expired, SteadyTime now);
    // Finishes a taken command: results read, pulse trigger back to 0, the
    // command removed, then answered once.
    void FinishCommand(std::size_t row, OpenCommand command, CommandResult result);
    // A row's state at a change, while connected.
    void PublishState(std::size_t row, const TagObject& value);
    // The dialect's birth (under publish_mutex_).
    void PublishBirth();
    // Hands a message to the session (under publish_mutex_); false with
    // the reason in `refusal` when given.
    bool Send(const Outgoing& message, std::string* refusal = nullptr);

    BusRows rows_;
    BusSettings settings_;
    std::unique_ptr<Dialect> dialect_;  // made in RunLoad, before anything calls it
    std::vector<Watch> watches_;        // bound: not resized after RunLoad
    std::unique_ptr<MqttSession> session_;
    std::mutex publish_mutex_;  // orders state publications of both threads (PublicationLock)
    std::mutex commands_mutex_;
    std::map<std::size_t, OpenCommand> commands_;  // by command row
    CommandLedger ledger_;                         // under commands_mutex_
    std::mutex refusals_mutex_;
    RefusalLog refusals_;                          // under refusals_mutex_
    bool stopping_ = false;                        // under commands_mutex_
    bool problem_reported_ = false;                // network thread only
};
