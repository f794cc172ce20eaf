// The plant bus task: joins chosen tags of the station's runtime to an MQTT
// broker.
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
// a command the broker kept longer than its timeout is refused; answers
// never go to the station's own or the broadcast topics; foreign state on
// the station's topics is replaced or deleted; refusals are reported once
// per topic and reason, then counted.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <mutex>
#include <string>

#include "bus/bus_rows.h"
#include "bus/command_ledger.h"
#include "bus/mqtt_session.h"
#include "bus/payload.h"
#include "bus/refusal_log.h"
#include "frame/task_base.h"

class PlantBusTask : public TaskBase, private SessionListener {
public:
    PlantBusTask(const char* name, const char* title);
    ~PlantBusTask() override;

    void CtLoad() override;   // the rows
    void RunLoad() override;  // settings, bindings, the session
    void Stop() override;     // open commands answered, "offline", rows released

    const BusRows& rows() const { return rows_; }
    const BrokerSettings& broker() const { return broker_; }

    // The settings of section "Broker" and "Bus" with their fallbacks; bad
    // values are reported ("BUSSETTINGS") and replaced by the default.
    BrokerSettings ReadBrokerSettings();
    // "<VDNAME>/<VDDOMAIN>/<station>", each part made topic-safe.
    static std::string DefaultPrefix(const char* app, const char* domain, const char* station);
    // "<VDNAME>/<VDDOMAIN>/all": where a caller reaches every station.
    static std::string DefaultBroadcastPrefix(const char* app, const char* domain);
    // Whether one prefix is the other or lies under it.
    static bool PrefixesOverlap(std::string_view a, std::string_view b);
    // Whether `topic` is `prefix` or lies under it (level by level).
    static bool TopicUnder(std::string_view topic, std::string_view prefix);

    // The QoS of command answers: with the session the broker keeps, a
    // caller subscribed at QoS 1 or 2 gets one answer also across a drop.
    static constexpr int kAnswerQos = 2;

private:
    enum class CommandState { kPreparing, kArmed, kFinishing };
    struct OpenCommand {
        CommandState state = CommandState::kPreparing;
        std::string reply_topic;
        std::string correlation;
        bool has_correlation = false;
        std::string label;  // the command topic, for reports
        bool broadcast = false;  // the answer names the station
        std::string key;         // in the ledger; empty: a command without id
        std::chrono::milliseconds window{0};  // how long the ledger keeps its answer
        std::chrono::steady_clock::time_point start, deadline;
    };

    // Main thread: bound change functions.
    static void OnTagChange(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args);
    static void OnDoneChange(TagEntry* entry, ValueRecord* value, std::uint32_t count, HandlerWord* args);
    void Bind(TagRef ref, ChangeFunction function, std::size_t row);

    // SessionListener (network thread).
    void OnConnected() override;
    void OnProblem(const char* key, const std::string& detail) override;
    void OnMessage(const BusMessage& message) override;
    SteadyTime OnTimer(SteadyTime now) override;

    void HandleSet(const BusMessage& message, const std::string& base);
    void HandleCall(const BusMessage& message, const std::string& base, const std::string& request_id, bool broadcast);
    // A message on a state topic, on "status" or on another topic of the
    // station's own (below the prefix).
    void HandleState(const BusMessage& message, const TopicRequest& request, std::string_view rest);
    // Publishes a publishing row's true value again (retained) when the
    // message says otherwise.
    void CorrectState(std::size_t row, const BusMessage& message);
    // Deletes a retained message another client left on one of our topics.
    void DeleteRetained(const BusMessage& message);
    // Reports a refused message (status message, rate-limited, and the
    // error topic).
    void Refuse(const std::string& topic, const std::string& reason);
    // The status message and log part of a refusal: in full the first time
    // per topic and reason, else counted (RefusalLog).
    void Report(const std::string& topic, const std::string& reason);
    // '{"result":"refused","reason":...}' with the station field.
    std::string RefusedAnswer(const std::string& reason, bool broadcast) const;
    // Publishes an answer at kAnswerQos; one the client cannot send is
    // replaced by a short refused answer naming why. What was sent.
    std::string SendAnswer(const std::string& reply, const std::string* correlation, const std::string& answer,
                           bool broadcast);
    // SendAnswer, then the answer kept in the ledger under `key`.
    void Answer(const std::string& reply, const std::string* correlation, const std::string& key,
                std::chrono::milliseconds window, const std::string& answer, bool broadcast);
    // Summaries of the counted refusals that are due (all at a stop).
    SteadyTime ReportCounts(SteadyTime now, bool all);
    // ',"station":"<prefix>"' for the answer to a broadcast, else empty.
    std::string StationField(bool broadcast) const;
    // Takes an armed command out (any thread); false when another thread
    // has it or there is none.
    bool TakeCommand(std::size_t row, OpenCommand& out, bool only_expired, SteadyTime now);
    // Finishes a taken command: results read, pulse trigger back to 0, the
    // command removed, then answered once.
    void FinishCommand(std::size_t row, OpenCommand command, const char* result);
    void PublishRow(std::size_t row, const std::string& payload);

    BusRows rows_;
    BrokerSettings broker_;
    std::uint32_t default_timeout_ms_ = 5000;
    std::unique_ptr<MqttSession> session_;
    std::mutex publish_mutex_;  // orders state publications of both threads
    std::mutex commands_mutex_;
    std::map<std::size_t, OpenCommand> commands_;  // by command row
    CommandLedger ledger_;                         // under commands_mutex_
    std::mutex refusals_mutex_;
    RefusalLog refusals_;                          // under refusals_mutex_
    bool stopping_ = false;                        // under commands_mutex_
    bool problem_reported_ = false;                // network thread only
};
