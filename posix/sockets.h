// Socket factories of the POSIX platform, shared by its files: the network
// object hands these out, wired to the poll() loop.
#pragma once

#include <memory>
#include <string>

#include "platform/tcp_listener.h"
#include "platform/tcp_socket.h"
#include "platform/udp_socket.h"
#include "posix/poll_loop.h"

namespace iw::posix {

std::unique_ptr<platform::TcpSocket> createTcpSocket(PollLoop& loop);
std::unique_ptr<platform::UdpSocket> createUdpSocket(PollLoop& loop);
std::unique_ptr<platform::TcpListener> createTcpListener(PollLoop& loop);
// A socket over a connected, non-blocking descriptor it now owns.
std::unique_ptr<platform::TcpSocket> adoptTcpSocket(PollLoop& loop, int fd);

// The system's text for an errno value.
std::string describe(int code);

}  // namespace iw::posix
