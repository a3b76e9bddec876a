// Creates sockets and resolves host names. One object per platform; fakes in
// tests hand out sockets wired to scripted peers.
#pragma once

#include <memory>
#include <string>

#include "platform/tcp_listener.h"
#include "platform/tcp_socket.h"
#include "platform/udp_socket.h"

namespace iw::platform {

struct ResolveResult {
    bool found = false;      // the name was resolved at all
    bool ipv4 = false;       // the address is IPv4 (the first IPv4 result is preferred)
    std::string address;     // dotted-decimal IPv4 text, or IPv6 text when the host has no IPv4 address
};

class Resolver {
public:
    virtual ~Resolver() = default;
    // Looks up a host name (or dotted address). May block for the system's
    // lookup time; callers let the event loop run once before calling.
    virtual ResolveResult resolve(const std::string& host) = 0;
};

class Network : public Resolver {
public:
    virtual std::unique_ptr<TcpSocket> createTcp() = 0;
    virtual std::unique_ptr<UdpSocket> createUdp() = 0;
    // A loopback listener (see tcp_listener.h); null where the platform
    // (or a fake network in a test) has none.
    virtual std::unique_ptr<TcpListener> createListener() { return nullptr; }
};

}  // namespace iw::platform
