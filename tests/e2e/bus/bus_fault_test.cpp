// The plant bus through its process entry with every kernel operation
// failing once at every point of a run: the k-th call of operation X for
// every k a fault-free run reached, on whichever thread it comes (start-up,
// loop and shutdown on the main thread, writes and reads on the network
// thread; their order varies, so every expected outcome holds for any call
// a point lands on). Another thread plays the runtime and a handler; a
// client on the test broker writes a tag and sends four commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <string_view>

#include "tests/support/bus_test_client.h"
#include "bus/plant_bus_task.h"
#include "tests/e2e/bus/test_broker.h"
#include "tests/support/fault_sweep.h"

namespace {

const char* kTags =
    "LEVEL int16 3\nARG int32 0\nRES int32 0\n"
    "C1_TRIG int16 0\nC1_DONE int16 0\nC2_TRIG int16 0\nC2_DONE int16 0\nC3_TRIG int16 0\nC3_DONE int16 0\n";
// A published tag that takes writes; a command with argument and result
// whose handler the runtime thread plays (the settings' timeout), a pulse
// nobody answers (10 ms), a count command left open until the stop.
const char* kRows = R"(
table 1 "TAGS"
  fields tag u16 text48
  record tag:LEVEL 3 "line/level"
end
table 2 "COMMANDS"
  fields tag tag tag tag tag tag tag u16 u32 text48
  record tag:C1_TRIG tag:C1_DONE tag:ARG tag:RES none none none 0 0 "pump/start"
  record tag:C2_TRIG tag:C2_DONE none none none none none 1 10 "valve/pulse"
  record tag:C3_TRIG tag:C3_DONE none none none none none 2 60000 "dose/hold"
end
)";
// By correlation data: topic and payload (dose/hold twice: busy).
const std::map<std::string, std::pair<const char*, const char*>> kCommands = {
    {"c1", {"pump/start", "41"}}, {"c2", {"valve/pulse", ""}}, {"c3a", {"dose/hold", ""}}, {"c3b", {"dose/hold", ""}}};

struct Recorder {
    std::map<int, int> counts;  // calls per operation
    int fault_op = 0, fault_ordinal = 0;
    bool fault_hit = false;
    bool loaded = false;          // RunLoad ran: start-up got through
    bool stop_requested = false, stop_begun = false;  // by the runtime thread; the task's Stop
    bool early_end = false;  // the loop ended before the runtime asked
    // Holding the first command: 1 armed; 2 and 3 the network thread wrote
    // (the tag) and let go of the kernel access lock; 4 held with nothing
    // locked, as it takes the lock for the command, until the stop began.
    int hold = 0;
    std::thread::id main;
    std::vector<std::string> messages;  // texts written to the message tag
    std::vector<std::int64_t> levels;   // values written to the status tag
};
vdtest::Guarded<Recorder> Locked;
Recorder& g_rec = Locked.rec;
std::condition_variable g_stop_begun;

void Enter(int op) {
    std::lock_guard<std::mutex> lock(Locked.mutex);
    if (g_rec.hold == 1 && op == kOpWrite && std::this_thread::get_id() != g_rec.main) g_rec.hold = 2;
    if (++g_rec.counts[op] != g_rec.fault_ordinal || op != g_rec.fault_op) return;
    // Another thread's call of X may take the fault first: a call near the
    // k-th fails.
    win::test::FailCalls(kernel_op_name(op), kKernelErrNoDatabase);
    g_rec.fault_hit = true;
}

void OnPlatformCall(const char* function) {
    std::unique_lock<std::mutex> lock(Locked.mutex);
    if (g_rec.hold < 2 || g_rec.hold > 3 || std::this_thread::get_id() == g_rec.main ||
        std::string_view(function) != "WaitForSingleObject" || ++g_rec.hold < 4)
        return;
    g_stop_begun.wait_for(lock, std::chrono::seconds(5), [] { return g_rec.stop_begun; });
    lock.unlock();
    // Past the stop's wait for commands being prepared (a few yields on the
    // test clock).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// The task's message and status tags as each write left them.
std::int32_t RecordingWrite(TaskId task, const TagRef* refs, std::int32_t count, const void* values) {
    const std::int32_t rc = vdtest::CountingKernelOps().write(task, refs, count, values);
    const TaskEnvironment& env = task_state().environment;
    sim::Value v;
    if (rc != 0 || count != 1 || (refs[0] != env.message_tag && refs[0] != env.status_tag) ||
        !sim::CurrentDatabase()->GetValue(TagRefIndex(refs[0]), v))
        return rc;
    std::lock_guard<std::mutex> lock(Locked.mutex);
    if (refs[0] == env.message_tag) g_rec.messages.push_back(v.bytes);
    else g_rec.levels.push_back(v.integer);
    return rc;
}

class ObservedBus : public PlantBusTask {
public:
    ObservedBus() : PlantBusTask("VDMQTT", "MQTT Plant Bus") {}
    void RunLoad() override {
        PlantBusTask::RunLoad();
        Locked([](Recorder& r) { return r.loaded = true; });
    }
    void Stop() override {
        Locked([](Recorder& r) { return r.early_end = !r.stop_requested, r.stop_begun = true; });
        g_stop_begun.notify_all();
        PlantBusTask::Stop();
    }
};

struct Outcome : vdtest::TaskRun {
    Recorder rec;
    bool online = false;     // the client saw "online": the bridge had subscribed
    bool confirmed = false;  // the probe sent after the commands was refused: the bridge had them all
    std::map<std::string, std::vector<std::string>> answers;  // by correlation
    std::vector<std::string> errors;                          // on "<prefix>/error"
    bool level_published = false;
    std::int64_t level = 0;
};

using vdtest::Has;
std::string Point(int op, int k) { return std::string(op != 0 ? kernel_op_name(op) : "no fault") + " call " + std::to_string(k); }

std::size_t Answers(const Outcome& o, const std::string& c) { return o.answers.count(c) ? o.answers.at(c).size() : 0; }
std::string Answer(const Outcome& o, const char* c) {
    if (Answers(o, c) == 1) return o.answers.at(c).front();
    return std::string("(").append(std::to_string(Answers(o, c))) + " answers)";  // appended: GCC 12 warns wrongly
}

class BusFaultTest : public vdtest::SweepTest {
protected:
    BusFaultTest() : SweepTest("bus_faults_") {}
    void SetUp() override {
        const std::string unavailable = bustest::TestBroker::Unavailable();
        if (!unavailable.empty()) GTEST_SKIP() << "no broker: " << unavailable;
        std::string error;
        if (!broker_->Start(dir_, "", error)) GTEST_SKIP() << "no broker: " << error;
        ASSERT_NO_FATAL_FAILURE(Prepare("VDMQTT", kTags, kRows));
        // Texts that carry a refusal's reason into the message tag.
        vdtest::WriteFile(dir_ / "app/msg/VDMQTT.txt", "BUSBADMSG | \"%s refused: %s\"\n");
        BusClient::Options o;
        o.port = broker_->port();
        client_ = std::make_unique<BusClient>(o);
        ASSERT_TRUE(client_->Connect(5000, error)) << error;
        ASSERT_TRUE(client_->Subscribe("sweep/#", 5000) && client_->Subscribe("sweep-answers/#", 5000));
        win::test::UseTestClock(true);
    }
    void TearDown() override {
        client_.reset();
        SweepTest::TearDown();
        broker_->Kill();
    }

    bool Seen(const std::string& topic, const std::string& part, const char* correlation = nullptr) const {
        const auto messages = client_->Messages();
        return std::any_of(messages.begin(), messages.end(), [&](const auto& m) {
            return m.topic == topic && Has(m.payload, part) && (correlation == nullptr || m.correlation == correlation);
        });
    }

    // A run with the `ordinal`-th call of `op` failing (none for op 0), the
    // settings' command timeout `timeout_ms`; with `hold`, the first command
    // is held while being prepared until the stop began.
    Outcome RunOnce(int op, int ordinal, int timeout_ms, bool hold = false) {
        Outcome out;
        const std::string run = std::to_string(++runs_), prefix = "sweep/" + run, answers = "sweep-answers/" + run;
        // Every run its own topics and client id; a quick reconnection.
        vdtest::WriteFile(dir_ / "app/net/VDMQTT.ini",
                          "[Task]\nDriver2Ids=1\n[Broker]\nPort=" + std::to_string(broker_->port()) + "\nClientId=" +
                              prefix + "\nReconnectMinMs=10\n[Bus]\nTopicPrefix=" + prefix +
                              "\nCommandTimeoutMs=" + std::to_string(timeout_ms) + "\n");
        Locked([&](Recorder& r) { return r = {}, r.fault_op = op, r.fault_ordinal = ordinal, r.main = std::this_thread::get_id(); });
        win::test::SetCallObserver(&OnPlatformCall);
        KernelOps ops = vdtest::CountingKernelOps();
        ops.write = &RecordingWrite;
        const auto runtime = [&](sim::Database& db, const std::atomic<bool>& done) {
            out.online = vdtest::WaitUntil(done, 5000, [&] { return Seen(prefix + "/status", "online"); });
            if (out.online) {
                Locked([&](Recorder& r) { return r.hold = hold ? 1 : 0; });
                client_->Publish(prefix + "/line/level/set", "7");
                for (const auto& [correlation, command] : kCommands)
                    client_->Publish(prefix + "/" + command.first + "/call", command.second, false, &answers,
                                     &correlation);
                client_->Publish(prefix + "/probe/set", "1");
                // Until the answers are in (one dose/hold stays open), the
                // task ended or the first command is held.
                bool handled = false;
                vdtest::WaitUntil(done, timeout_ms + 2000, [&] {
                    if (Locked([](Recorder& r) { return r.early_end || r.hold == 4; })) return true;
                    if (!handled && vdtest::IntTag(db, "C1_TRIG") == 1) {  // the handler: 2 * argument + 1
                        vdtest::SetIntTag(db, "RES", kTagInt32, 2 * vdtest::IntTag(db, "ARG") + 1);
                        vdtest::SetIntTag(db, "C1_DONE", kTagInt16, 1);
                        handled = true;
                    }
                    return Seen(answers, "", "c1") && Seen(answers, "", "c2") &&
                           (Seen(answers, "", "c3a") || Seen(answers, "", "c3b")) && Seen(prefix + "/error", "probe/set");
                });
            }
            Locked([](Recorder& r) { return r.stop_requested = true; });
        };
        vdtest::RunTask<ObservedBus>(out, specs_, "VDMQTT", ops, &Enter, Point(op, ordinal), runtime);
        if (!out.db) return out;
        // Once the bridge has gone, all it published is at the broker; the
        // client has it when its own mark comes back.
        client_->Publish(answers + "/mark", "");
        client_->WaitForTopic(answers + "/mark", 2000);
        out.confirmed = Seen(prefix + "/error", "probe/set");
        for (const auto& m : client_->Messages()) {
            if (m.topic == answers) out.answers[m.correlation].push_back(m.payload);
            if (m.topic == prefix + "/error") out.errors.push_back(m.payload);
            out.level_published = out.level_published || (m.topic == prefix + "/line/level" && m.payload == "7");
        }
        client_->Clear();
        out.level = vdtest::IntTag(*out.db, "LEVEL");
        out.rec = Locked([](Recorder& r) { return r; });
        return out;
    }

    // What every run must show, whichever call failed.
    static void Check(const Outcome& o) {
        vdtest::CheckRun(o, o.rec.fault_op, o.rec.fault_ordinal, o.rec.fault_hit);
        EXPECT_EQ(o.exit_code, o.rec.loaded ? kExitOk : kExitFailure);
        EXPECT_TRUE(o.rec.loaded || !o.online);
        // Unless the stop came with messages on their way (an early end, a
        // held command), a bridge that started is on the bus and takes all.
        if (o.rec.loaded && !o.rec.early_end && o.rec.hold == 0) {
            EXPECT_TRUE(o.online && o.confirmed);
        }
        for (const auto& [correlation, command] : kCommands) {
            const std::size_t n = Answers(o, correlation);
            EXPECT_TRUE(o.confirmed ? n == 1 : n <= (o.online ? 1u : 0u)) << correlation << ": " << n << " answers";
            for (const std::string& a : n != 0 ? o.answers.at(correlation) : std::vector<std::string>{})
                EXPECT_TRUE(Has(a, "{\"result\":\"done\"") || Has(a, "{\"result\":\"timeout\"") ||
                            Has(a, "{\"result\":\"refused\"") || Has(a, "{\"result\":\"stopped\""))
                    << a;
        }
        // A write is taken or refused with its reason.
        EXPECT_TRUE(!o.confirmed || o.level == 7 ||
                    std::any_of(o.errors.begin(), o.errors.end(), [](auto& e) { return Has(e, "line/level/set"); }))
            << o.level;
        // Every refusal by the runtime shows in the status: its reason in the
        // message tag, the error level.
        std::vector<std::string> refusals = o.errors;
        for (const auto& [correlation, list] : o.answers) refusals.insert(refusals.end(), list.begin(), list.end());
        for (const std::string& r : refusals) {
            const std::size_t at = r.find("kernel error");
            if (at == std::string::npos) continue;
            const std::size_t from = r.rfind("\"reason\":\"", at) + 10;
            const std::string reason = r.substr(from, r.find('"', at) - from);
            EXPECT_TRUE(std::any_of(o.rec.messages.begin(), o.rec.messages.end(),
                                    [&](const std::string& m) { return Has(m, reason); }))
                << reason;
            EXPECT_NE(std::find(o.rec.levels.begin(), o.rec.levels.end(), kLevelError), o.rec.levels.end());
        }
    }

    const std::unique_ptr<bustest::TestBroker> broker_ = bustest::TestBroker::Make();
    std::unique_ptr<BusClient> client_;
    int runs_ = 0;
};

TEST_F(BusFaultTest, EveryKernelOperationFailingOnceAtEveryPoint) {
    const Outcome clean = RunOnce(0, 0, 3000);
    Check(clean);
    ASSERT_TRUE(clean.confirmed && !clean.rec.early_end);
    EXPECT_TRUE(Has(Answer(clean, "c1"), "{\"result\":\"done\",\"values\":[83]")) << Answer(clean, "c1");
    EXPECT_TRUE(Has(Answer(clean, "c2"), "{\"result\":\"timeout\"")) << Answer(clean, "c2");
    EXPECT_TRUE(Has(Answer(clean, "c3a"), "{\"result\":\"stopped\"")) << Answer(clean, "c3a");
    EXPECT_TRUE(Has(Answer(clean, "c3b"), "busy")) << Answer(clean, "c3b");
    EXPECT_TRUE(clean.level == 7 && clean.level_published);
    EXPECT_EQ(clean.errors.size(), 2u);  // the busy command and the probe
    // A command still being prepared when the stop has stopped waiting for
    // it (at once on the test clock) is answered all the same.
    const Outcome held = RunOnce(0, 0, 3000, true);
    EXPECT_EQ(held.rec.hold, 4);
    Check(held);
    EXPECT_TRUE(Has(Answer(held, "c1"), "{\"result\":\"refused\",\"reason\":\"the bridge is stopping\"}"))
        << Answer(held, "c1");

    int points = 0, hit = 0, failed_starts = 0;
    for (const auto& [op, count] : clean.rec.counts) {
        for (int k = 1; k <= count; ++k, ++points) {
            const Outcome o = RunOnce(op, k, 300);
            SCOPED_TRACE(Point(op, k));
            Check(o);
            hit += o.rec.fault_hit ? 1 : 0;
            failed_starts += o.exit_code == kExitFailure ? 1 : 0;
        }
    }
    std::printf("bus fault sweep: %d points (%d hit), %d failed start-ups\n", points, hit, failed_starts);
    EXPECT_GE(failed_starts, 2);  // at least the attach and the environment record
}

}  // namespace
