// A loopback TCP relay between one station connection and the test broker,
// for link drops at a chosen moment: armed, it cuts the link (both sockets
// closed) right after it forwarded a chunk holding a marker in the armed
// direction, before anything more goes to the station. Later connections
// are relayed normally. POSIX sockets: host build only.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace bustest {

class LinkRelay {
public:
    // Listens on a free loopback port (port() 0 when it cannot).
    explicit LinkRelay(int broker_port);
    ~LinkRelay();  // closes everything, joins the thread
    LinkRelay(const LinkRelay&) = delete;
    LinkRelay& operator=(const LinkRelay&) = delete;

    int port() const { return port_; }
    // Cuts once, after the first chunk from the station (`to_broker`) or
    // from the broker holding `marker` has been forwarded; `hold`: then
    // closes every new connection until Release().
    void ArmCut(bool to_broker, const std::string& marker, bool hold = false);
    void Release() { held_ = false; }
    int cuts() const { return cuts_; }
    // Chunks holding the last armed marker forwarded in its direction (the
    // one before the cut, then what is sent again after it).
    int sightings() const { return sightings_; }

private:
    void Run();
    void ClosePair();

    int broker_port_, port_ = 0, listener_ = -1, station_ = -1, broker_ = -1;
    std::mutex mutex_;
    bool armed_ = false, to_broker_ = false;
    std::string marker_;
    std::atomic<bool> stop_{false}, hold_{false}, held_{false};
    std::atomic<int> cuts_{0}, sightings_{0};
    std::thread thread_;
};

}  // namespace bustest
