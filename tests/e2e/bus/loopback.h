// The IPv4 loopback address of the host build's test sockets (the test
// broker's probes, the link relay). POSIX sockets: host build only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace bustest {

// 127.0.0.1 at `port` (0: a free port chosen at bind).
inline sockaddr_in LoopbackAddress(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

}  // namespace bustest
