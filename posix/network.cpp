// The network object of the POSIX platform: sockets wired to the poll()
// loop, and host lookup through getaddrinfo().
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

#include "platform/native.h"
#include "posix/sockets.h"

namespace iw::posix {
namespace {

class PosixNetwork : public platform::Network {
public:
    explicit PosixNetwork(PollLoop& loop) : loop_(loop) {}

    platform::ResolveResult resolve(const std::string& host) override {
        platform::ResolveResult r;
        if (host.empty()) return r;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return r;
        r.found = true;
        // The first IPv4 result, as with the system lookup the program was
        // made for; a host that has none connects over its first IPv6 one.
        const addrinfo* v6 = nullptr;
        for (const addrinfo* a = list; a; a = a->ai_next) {
            if (a->ai_family == AF_INET) {
                char text[INET_ADDRSTRLEN] = {};
                const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
                if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
                    r.ipv4 = true;
                    r.address = text;
                    break;
                }
            } else if (a->ai_family == AF_INET6 && !v6) {
                v6 = a;
            }
        }
        if (r.address.empty() && v6) {
            char text[INET6_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in6*>(v6->ai_addr);
            if (::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text)) r.address = text;
        }
        ::freeaddrinfo(list);
        return r;
    }

    std::unique_ptr<platform::TcpSocket> createTcp() override { return createTcpSocket(loop_); }
    std::unique_ptr<platform::UdpSocket> createUdp() override { return createUdpSocket(loop_); }
    std::unique_ptr<platform::TcpListener> createListener() override { return createTcpListener(loop_); }

private:
    PollLoop& loop_;
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {

std::unique_ptr<EventLoop> createEventLoop() { return std::make_unique<posix::PollLoop>(); }

std::unique_ptr<Network> createNetwork(EventLoop& loop) {
    auto* poll = dynamic_cast<posix::PollLoop*>(&loop);
    if (!poll) {
        // Sockets can only deliver through the loop that polls their descriptors.
        std::fputs("inkwarden: createNetwork needs the loop from createEventLoop()\n", stderr);
        std::abort();
    }
    return std::make_unique<posix::PosixNetwork>(*poll);
}

}  // namespace iw::platform
