// A UDP socket for the one-request, one-reply time query.
// Events are delivered from inside EventLoop::pump() only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace iw::platform {

class UdpSocket {
public:
    virtual ~UdpSocket() = default;

    // Called once per arriving datagram, with its bytes.
    virtual void setDataArrival(std::function<void(const std::string& datagram)> fn) = 0;

    // Binds to an ephemeral local port when not yet bound and sends one
    // datagram. Returns false when the system refuses at once.
    virtual bool sendTo(const std::string& ipv4, std::uint16_t port, std::string_view datagram) = 0;

    virtual void close() = 0;
};

}  // namespace iw::platform
