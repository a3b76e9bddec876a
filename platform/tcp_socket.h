// The event-driven TCP client socket the POP3 code talks to, shaped like the
// socket control it replaces: connect, queue bytes to send, fetch what has
// arrived, close, and four events delivered from the event loop.
//
// Ownership: the object is owned by the code that created it (through
// Network::createTcp) and must outlive no EventLoop it was created with.
// Events are only ever delivered from inside EventLoop::pump(), never from
// inside a call on the socket, so a handler may call any method, including
// close(), and may pump the loop itself (nested waits are the normal case).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace iw::platform {

enum class SocketState {
    Closed,      // never connected, closed by us, or closed by the peer
    Connecting,  // connect() called, not yet connected
    Connected,   // connected; data can be sent and received
    Error,       // the connection failed or broke; see lastError()
};

struct TcpSocketEvents {
    // The connection is established.
    std::function<void()> connected;
    // Bytes are waiting; `bytesTotal` is how many. Fetch them with receive().
    // Fires again for data that arrives after a receive().
    std::function<void(std::size_t bytesTotal)> dataArrival;
    // Everything queued by send() so far has been handed to the system.
    std::function<void()> sendComplete;
    // The peer closed the connection (after all its data was delivered).
    std::function<void()> closed;
    // Connecting failed or the connection broke; the state is Error.
    std::function<void(int code, const std::string& description)> error;
};

class TcpSocket {
public:
    virtual ~TcpSocket() = default;

    // Replaces the event handlers. Events of a closed connection that are
    // still queued are dropped, never delivered to a later connection.
    virtual void setEvents(TcpSocketEvents events) = 0;

    // Starts connecting to an IPv4 (dotted) or IPv6 address in text form.
    // Closes any earlier connection first. Never blocks; the result comes
    // as an event.
    virtual void connect(const std::string& address, std::uint16_t port) = 0;

    // Queues bytes for sending and returns at once; never blocks, however
    // much is queued. Reading goes on while the queue drains, so a client
    // that pipelines thousands of commands cannot deadlock against a server
    // that stops reading while its replies wait.
    virtual void send(std::string_view bytes) = 0;

    // Takes every byte that has arrived and not yet been taken.
    virtual std::string receive() = 0;

    // How many received bytes wait to be taken.
    virtual std::size_t bytesAvailable() const = 0;

    // Closes the connection and drops what is queued either way.
    virtual void close() = 0;

    virtual SocketState state() const = 0;

    // The last error code (platform's own numbering) and its description.
    virtual int lastError() const = 0;

    // Starts TLS on the open connection, after the protocol above has asked
    // for it in plain text and the server agreed (POP3's STLS). Every later
    // byte either way is protected. Returns false, and starts nothing, on a
    // socket that cannot (a plain one) or when the server has sent bytes that
    // were not taken yet: they came after its agreement and before any
    // protection, so they can only be injected, and the caller must end the
    // connection. The handshake's outcome comes as events.
    virtual bool startTls() { return false; }
};

}  // namespace iw::platform
