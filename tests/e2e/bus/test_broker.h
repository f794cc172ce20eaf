// A real broker for the bus tests and the bench: the Linux mosquitto on a
// loopback port, its log in files, stopped (killed) when the object goes.
// The host build starts it as a child process (local_broker.cpp); the
// Windows build, run under wine64, asks a host-side driver to do it
// (driven_broker.cpp, broker_driver.sh).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/process.h"

namespace bustest {

namespace fs = std::filesystem;

class TestBroker {
public:
    // The broker of this build; Unavailable() says why none can be had
    // (empty when one can).
    static std::unique_ptr<TestBroker> Make();
    static std::string Unavailable();
    // A file of the broker's side (a Linux path, as in its configuration
    // lines) as this program opens it: under wine64 on drive Z:.
    static std::string LocalPath(const std::string& path);

    virtual ~TestBroker() = default;

    // Starts the broker with its listener, anonymous access unless `extra`
    // says otherwise, then the configuration lines `extra`; waits up to 5 s
    // until it accepts connections. `port` 0 picks a free one; the same
    // port again restarts a killed broker. `dir` is the test's folder.
    virtual bool Start(const fs::path& dir, const std::string& extra, std::string& error, int port = 0) = 0;
    // Ends the broker at once, as a crash would.
    virtual void Kill() = 0;
    virtual int port() const = 0;
    // The broker's process id where this side started it, else 0.
    virtual int pid() const { return 0; }
    // Everything the broker logged in its runs so far.
    virtual std::string Log() const = 0;
    // Starts a Linux program beside the broker (an independent client:
    // `args` is the program and its arguments, as the broker's side names
    // them), its output in `output` (this side's path); it is killed when
    // this object goes. False with the reason.
    virtual bool StartHelper(const std::vector<std::string>& args, const fs::path& output, std::string& error) = 0;
};

}  // namespace bustest
