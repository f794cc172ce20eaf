// Helper process of the multi-process kernel tests.
//   sim_helper DB wait TAG [TIMEOUT_MS]  attach as "HELPERW", arm TAG, wait;
//                                        exit 0 when TAG changed, 3 on a stop
//                                        request, 4 on timeout
//   sim_helper DB lock-and-die           attach as "HELPERL", take the
//                                        database lock and end the process
//                                        without releasing it
//   sim_helper DB lock-and-hang MARKER   attach as "HELPERK", take the lock,
//                                        create the file MARKER and sleep
//                                        holding the lock until killed (exit
//                                        5 after a minute)
//   sim_helper - args ARG...             print each ARG as "[ARG]" on a line
//                                        and exit with their count
//   sim_helper - exit CODE               exit with CODE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "sim/sim.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string mode = argv[2];
    if (mode == "args") {
        for (int i = 3; i < argc; ++i) std::printf("[%s]\n", argv[i]);
        std::fflush(stdout);
        return argc - 3;
    }
    if (mode == "exit" && argc >= 4) return std::atoi(argv[3]);

    std::string error;
    std::unique_ptr<sim::Database> db = sim::Database::Open(argv[1], error);
    if (!db) {
        std::fprintf(stderr, "sim_helper: %s\n", error.c_str());
        return 2;
    }
    if (mode == "wait" && argc >= 4) {
        int timeout = argc >= 5 ? std::atoi(argv[4]) : 10000;
        TaskId task = db->Attach("HELPERW", "helper", "", "", "");
        std::int32_t index = db->FindTag(argv[3]);
        if (task < 0 || index < 0) return 2;
        TagRef ref = static_cast<TagRef>(index);
        db->Lock(task);
        db->ArmWait(task, &ref, 1);
        std::int32_t rc = db->WaitChangeFor(task, timeout);
        db->DisarmWait(task, &ref, 1);
        int result = 4;
        if (rc == 0) {
            std::int32_t pos = 0;
            ValueRecord record{};
            if (db->NextChanged(task, &ref, 1, &pos, &record) == 0)
                result = 0;
            else if (db->StopRequested(task) > 0)
                result = 3;
        }
        db->Unlock(task);
        db->Detach(task);
        return result;
    }
    if (mode == "lock-and-die") {
        TaskId task = db->Attach("HELPERL", "helper", "", "", "");
        if (task < 0) return 2;
        db->Lock(task);
        std::fflush(stdout);
        std::_Exit(7);
    }
    if (mode == "lock-and-hang" && argc >= 4) {
        TaskId task = db->Attach("HELPERK", "helper", "", "", "");
        if (task < 0) return 2;
        db->Lock(task);
        std::ofstream(argv[3]) << "locked\n";
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 5;
    }
    return 2;
}
