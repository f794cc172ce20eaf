#include "tests/e2e/bus/link_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/e2e/bus/loopback.h"

namespace bustest {

namespace {

bool SendAll(int s, const char* data, ssize_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(s, data, static_cast<std::size_t>(n), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        n -= sent;
    }
    return true;
}

}  // namespace

LinkRelay::LinkRelay(int broker_port) : broker_port_(broker_port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddress(0);
    socklen_t n = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread(&LinkRelay::Run, this);
}

LinkRelay::~LinkRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ClosePair();
    if (listener_ >= 0) ::close(listener_);
}

void LinkRelay::ArmCut(bool to_broker, const std::string& marker, bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    armed_ = true;
    to_broker_ = to_broker;
    marker_ = marker;
    sightings_ = 0;
}

void LinkRelay::ClosePair() {
    for (int* s : {&station_, &broker_}) {
        if (*s >= 0) ::close(*s);
        *s = -1;
    }
}

// One thread: polls the listener and the open pair, 50 ms at a time, until
// the destructor says stop.
void LinkRelay::Run() {
    char buffer[65536];
    while (!stop_) {
        pollfd fds[3] = {{listener_, POLLIN, 0}, {station_, POLLIN, 0}, {broker_, POLLIN, 0}};
        if (::poll(fds, station_ >= 0 ? 3 : 1, 50) <= 0) continue;
        if ((fds[0].revents & POLLIN) != 0) {
            const int s = ::accept(listener_, nullptr, nullptr);
            ClosePair();  // a new station connection replaces the old one
            if (held_) {
                if (s >= 0) ::close(s);
                continue;
            }
            const sockaddr_in a = LoopbackAddress(broker_port_);
            broker_ = ::socket(AF_INET, SOCK_STREAM, 0);
            station_ = s;
            if (s < 0 || broker_ < 0 || ::connect(broker_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
                ClosePair();
            continue;
        }
        for (int from = 1; from <= 2 && station_ >= 0; ++from) {
            if ((fds[from].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const bool to_broker = from == 1;
            const ssize_t n = ::recv(to_broker ? station_ : broker_, buffer, sizeof buffer, 0);
            if (n <= 0 || !SendAll(to_broker ? broker_ : station_, buffer, n)) {
                ClosePair();
                break;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            if (marker_.empty() || to_broker_ != to_broker ||
                std::string(buffer, static_cast<std::size_t>(n)).find(marker_) == std::string::npos)
                continue;
            ++sightings_;
            if (armed_) {
                armed_ = false;
                ++cuts_;
                held_ = hold_.load();
                ClosePair();  // before the other side's acknowledgement is read
            }
        }
    }
}

}  // namespace bustest
