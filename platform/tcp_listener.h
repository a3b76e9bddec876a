// A listening TCP socket on the loopback interface, for a browser to hand
// back the result of a sign-in: it binds 127.0.0.1 (and ::1 on the same port
// where the system has IPv6), lets the system pick a free port, and reports
// each waiting connection as an event of the event loop. An accepted
// connection is an ordinary platform::TcpSocket, already connected.
//
// Ownership: the listener is owned by the code that created it (through
// Network::createListener) and must not outlive the EventLoop it was created
// with; accepted sockets are owned by the caller of accept() and outlive the
// listener freely. The event is only ever delivered from inside
// EventLoop::pump(), never from inside a call on the listener, so a handler
// may call any method, close() included, and may pump the loop itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/tcp_socket.h"

namespace iw::platform {

class TcpListener {
public:
    virtual ~TcpListener() = default;

    // Called from a pump when at least one connection waits to be accepted.
    // The handler takes connections with accept() until it returns null;
    // the event comes again for connections that arrive later.
    virtual void setAcceptReady(std::function<void()> fn) = 0;

    // Binds 127.0.0.1 on `port` (0: a free port chosen by the system) and
    // starts listening; also binds ::1 on the same port when it can (a
    // browser may try "localhost" over IPv6 first), never any other address.
    // Closes an earlier listening socket first. False when the system
    // refuses; lastError() says why.
    virtual bool listenLoopback(std::uint16_t port = 0) = 0;

    // The port being listened on; 0 when not listening.
    virtual std::uint16_t port() const = 0;

    // Takes one waiting connection: a socket in the Connected state whose
    // events the caller sets with setEvents() before it pumps the loop again.
    // Null when nothing waits or the listener is closed.
    virtual std::unique_ptr<TcpSocket> accept() = 0;

    // Stops listening; connections not yet accepted are refused. Sockets
    // accepted earlier stay open.
    virtual void close() = 0;

    // The last error code (platform's own numbering) and its description.
    virtual int lastError() const = 0;
    virtual std::string lastErrorText() const = 0;
};

}  // namespace iw::platform
