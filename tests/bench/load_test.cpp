// Load test: vdwinut with 10,000 system command rows while this process
// changes their triggers as fast as the task answers them, keeping a window
// of rows in flight, for a given time. Every trigger set must be followed by
// its row's done write; the task's resident set must stay flat; the task
// must stop cleanly at the end. Prints changes per second and the latency
// from trigger to done (median, p99, max), each against its goal.
//
//   load_test [--seconds N] [--window W] [--vdwinut PATH]   (default 60 s, window 64)
#include "bench_runtime.h"

using namespace bench;

int main(int argc, char** argv) {
    constexpr int kRows = 10000;
    std::map<std::string, std::string> o{{"seconds", "60"}, {"window", "64"}, {"vdwinut", VdwinutPath()}};
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: load_test [--seconds N] [--window W] [--vdwinut PATH]\n");
        return 2;
    }
    const std::string vdwinut = o["vdwinut"];
    const int seconds = std::atoi(o["seconds"].c_str());
    const int window = std::max(1, std::min(std::atoi(o["window"].c_str()), kRows));
    Runtime rt;
    if (!rt.Create("load", kRows) || !rt.Launch(vdwinut, 30000)) return 1;
    const int pid = rt.Pid();
    sim::Database& db = *rt.db;
    // The load starts once the task first waits for its triggers, after the
    // pause of its start-up, which is no latency under load.
    auto task_waits = [&] {
        for (const auto& t : db.Tasks())
            if (t.name == "VDWINUT") return t.waiting;
        return false;
    };
    if (!vdtest::WaitUntil(task_waits, 5000, [&] { return rt.process.Ended(); }, std::chrono::microseconds(200))) {
        std::fprintf(stderr, "the task did not wait for its triggers\n");
        return 1;
    }
    TaskId me = db.AttachObserver("LOAD");
    std::vector<TagRef> done_refs(kRows);
    for (int r = 0; r < kRows; ++r) done_refs[r] = DoneTag(r);
    // Armed once for the whole run: the observer is the measuring side, and
    // arming 10,000 tags around every wait would cost it more than the task.
    db.Lock(me);
    db.ArmWait(me, done_refs.data(), kRows);
    db.Unlock(me);

    std::vector<Clock::time_point> sent_at(kRows);
    std::vector<char> in_flight(kRows, 0);
    std::vector<std::int16_t> trigger_value(kRows, 0);
    std::vector<double> latency;
    latency.reserve(1 << 20);
    long long sent = 0, answered = 0, stray = 0;
    int next_row = 0, outstanding = 0;
    std::vector<long> rss;
    auto begin = Clock::now();
    auto stop_sending = begin + std::chrono::seconds(seconds);
    auto next_rss = begin;

    // Collects the done writes that arrived; blocks up to `wait_ms` when none has.
    auto collect = [&](int wait_ms) {
        db.Lock(me);
        int found = 0;
        std::int32_t index = 0;
        ValueRecord seen{};
        while (db.NextChanged(me, done_refs.data(), kRows, &index, &seen) == 0) {
            const int r = index++;
            if (seen.Int16() != 1) continue;  // our own reset to 0
            if (!in_flight[r]) {
                ++stray;
                continue;
            }
            in_flight[r] = 0;
            --outstanding;
            ++answered;
            ++found;
            latency.push_back(Micros(Clock::now() - sent_at[r]));
        }
        if (found == 0 && wait_ms > 0) db.WaitChangeFor(me, wait_ms);
        db.Unlock(me);
    };

    while (Clock::now() < stop_sending) {
        while (outstanding < window) {
            const int r = next_row;
            next_row = (next_row + 1) % kRows;
            if (in_flight[r]) continue;
            SetInt16(db, DoneTag(r), 0);
            trigger_value[r] = trigger_value[r] == 1 ? 2 : 1;  // a change every time, never 0
            in_flight[r] = 1;
            ++outstanding;
            ++sent;
            sent_at[r] = Clock::now();
            SetInt16(db, TriggerTag(r), trigger_value[r]);
        }
        collect(100);
        if (Clock::now() >= next_rss) {
            rss.push_back(RssKb(pid));
            next_rss += std::chrono::seconds(1);
        }
    }
    // Drain: whatever is still in flight must be answered.
    auto drain_end = Clock::now() + std::chrono::seconds(10);
    while (outstanding > 0 && Clock::now() < drain_end) collect(100);
    const double elapsed = Micros(Clock::now() - begin) / 1e6;
    rss.push_back(RssKb(pid));
    db.Detach(me);

    auto stop_start = Clock::now();
    const int stop_status = rt.Stop(10000);
    const double stop_ms = Micros(Clock::now() - stop_start) / 1000.0;

    // Flat: the last resident set within 1 MB (or 5 %) of the one after the first seconds.
    long rss_early = rss.size() > 3 ? rss[2] : rss.front();
    long rss_late = rss.back();
    long growth = rss_late - rss_early;
    const bool flat = rss_early > 0 && growth < std::max(1024L, rss_early / 20);
    const long long lost = sent - answered;
    const double rate = static_cast<double>(answered) / elapsed;
    const double p99 = Percentile(latency, 0.99), max = Percentile(latency, 1.0);
    auto verdict = [](bool met) { return met ? "met" : "short"; };

    std::printf("load: %d rows, window %d, %d s of changes\n", kRows, window, seconds);
    std::printf("  triggers set %lld, done writes %lld, lost %lld, stray %lld\n", sent, answered, lost, stray);
    std::printf("  %.0f changes/s\n", rate);
    std::printf("  trigger -> done: median %.1f us, p99 %.1f us, max %.1f us\n", Percentile(latency, 0.5), p99, max);
    std::printf("  goal 50000 changes/s: %s\n", verdict(rate >= 50000));
    std::printf("  goal p99 < 5 ms: %s\n", verdict(p99 < 5000));
    std::printf("  goal max < 20 ms: %s\n", verdict(max < 20000));
    std::printf("  goal nothing lost: %s\n", verdict(lost == 0));
    std::printf("  resident set: %ld KB after 2 s, %ld KB at the end (%+ld KB): %s\n", rss_early, rss_late, growth,
                flat ? "flat" : "GROWING");
    std::printf("  stop: %s after %.0f ms\n", stop_status == 0 ? "clean, exit code 0" : "NOT CLEAN", stop_ms);
    return lost == 0 && flat && stop_status == 0 ? 0 : 1;
}
