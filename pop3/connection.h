// One POP3 connection, the only place where this program reads what a mail
// server sends. The background check, the filter session, the re-check and
// the deletion run all speak through it.
//
// It owns the socket (made by the factory it is given, so the caller decides
// plain or TLS), the queue of commands sent and not yet answered, the framing
// of replies (a status line; a multi-line reply ended by a line "." with
// dot-unstuffing) and the limits on what a server may send. Every reply is
// handed to the owner together with the command that asked for it.
//
// A connection whose replies are out of step can never be trusted again:
// data that arrives while no command is outstanding, a reply that does not
// begin with "+OK" or "-ERR" where a status line is due, or a reply still
// missing when its wait ended (replyMissing()). Such a connection is closed
// at once, stays `outOfStep()` for good, and must never be given a DELE.
// A reply that outgrows its limit ends the connection the same way.
//
// Ownership and re-entry: the owner owns the object and must not destroy it
// from inside one of its handlers. Handlers run from the event loop (never
// from inside a call on this object, except that close() inside a handler is
// allowed) and may send, pump the loop, close or connect again. Bytes that
// arrive while a handler pumps are framed after that handler returns, in
// order, so replies are always delivered one at a time and in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tcp_socket.h"

namespace iw::pop3 {

// How the reply to a command is framed.
enum class Shape {
    Line,       // one status line (USER, PASS, STAT, DELE, QUIT, the greeting)
    MultiLine,  // a status line; after "+OK" lines up to a line "." (LIST, TOP)
    Sasl,       // one line: "+OK", "-ERR", or a SASL challenge "+ ..." (AUTH and its answers)
};

// What the connection lets a server send. A reply beyond its limit ends the
// connection (End::TooLarge); nothing beyond the limits is ever kept.
struct Limits {
    std::size_t line = 64 * 1024;                // a greeting, a status line, a one-line reply
    std::size_t multiLine = 4 * 1024 * 1024;     // one TOP reply: a header of several MiB is absurd already
    std::size_t listing = 16 * 1024 * 1024;      // the LIST reply: room for about a million messages
};

// Why a connection ended without the owner closing it.
enum class End {
    Closed,     // the server closed or reset it, or it could not be made
    OutOfStep,  // the replies no longer match the commands
    TooLarge,   // a reply outgrew its limit
};

// One whole reply, matched to its command.
struct Reply {
    std::string command;  // the command line without CR LF; "" for the greeting
    int tag = 0;          // the owner's tag for the command
    bool ok = false;      // the status line begins with "+OK" (exact case)
    bool challenge = false;  // a SASL challenge line "+ ..." (only for Shape::Sasl)
    // The status line with CR LF; for a multi-line reply after "+OK" it is
    // followed by the body lines, dot-unstuffed, each with CR LF, and the
    // terminating ".\r\n".
    std::string text;
};

struct Command {
    std::string line;  // without CR LF
    Shape shape = Shape::Line;
    int tag = 0;
    std::size_t limit = 0;  // 0: the limit of the shape
};

class Connection {
public:
    using SocketFactory = std::function<std::unique_ptr<platform::TcpSocket>()>;
    struct Handlers {
        // A whole reply to the command at the head of the queue.
        std::function<void(const Reply&)> reply;
        // Everything sent so far has been handed to the system.
        std::function<void()> sendComplete;
        // The connection ended by itself (see End). Called once per
        // connection, after every reply that came before the end.
        std::function<void(End)> ended;
    };

    explicit Connection(SocketFactory factory, Limits limits = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setHandlers(Handlers handlers) { handlers_ = std::move(handlers); }
    void setLimits(Limits limits) { limits_ = limits; }

    // Closes any earlier connection, makes a fresh socket with the factory
    // and starts connecting to `address` (IPv4 or IPv6 text). The greeting is the first reply awaited; it is
    // delivered with an empty command and `greetingTag`. A fresh connection
    // is in step again.
    void connect(const std::string& address, std::uint16_t port, int greetingTag = 0);

    // Queues one command (CR LF is added) and the reply it expects.
    void send(const Command& command);
    // Queues several commands and writes them in one send.
    void sendAll(const std::vector<Command>& commands);

    // Starts TLS on the open connection once the server agreed to STLS; to
    // be called from the handler of that "+OK", with no command outstanding.
    // Bytes that came behind the "+OK" (framed or still in the socket) were
    // sent unprotected and unasked: they are never framed, and the call
    // returns false, as it does on a socket that cannot start TLS. The
    // caller then ends the connection. Commands sent after a true return
    // travel only once the handshake and the certificate checks passed; a
    // failure there ends the connection as a socket error.
    bool startTls();

    // The owner's wait for a reply ran out while commands are outstanding: a
    // server that skipped a reply cannot be told from one that answers late,
    // so the connection is out of step and closed.
    void replyMissing();
    // The owner found a reply that cannot be right (a listing that names a
    // message twice, say): the connection is out of step and closed.
    void distrust();

    // Closes the connection (no QUIT is sent); outstanding commands are
    // forgotten. Does not call `ended`.
    void close();

    bool connected() const;
    // The connection was made and is still in the transaction it began: not
    // closed by either side, not out of step, no limit broken.
    bool usable() const { return connected() && !outOfStep_; }
    // Out of step or a limit broken, since the last connect().
    bool outOfStep() const { return outOfStep_; }
    bool tooLarge() const { return tooLarge_; }
    std::size_t outstanding() const { return queue_.size(); }
    // Turns: the writes that began while no command was outstanding, each
    // one a wait for the server. Over every connection of the process
    // (benchmarks read it); the greeting and a TLS handshake are not counted.
    static std::uint64_t turnsCounted();
    // Bytes received since the last connect().
    std::uint64_t bytesReceived() const { return received_; }
    // The socket, for its state and errors (and the TLS layer).
    platform::TcpSocket* socket() const { return socket_.get(); }

private:
    struct Pending {
        Command command;
        // Bytes received before the command was sent: its reply starts after them.
        std::uint64_t sentAt = 0;
        bool statusSeen = false;
        Reply reply;
    };
    void wire();
    void onData();
    void onEnded();
    void frame();
    void fail(End why, bool notify);
    std::size_t limitOf(const Pending& p) const;

    SocketFactory factory_;
    Limits limits_;
    Handlers handlers_;
    std::unique_ptr<platform::TcpSocket> socket_;
    std::deque<Pending> queue_;
    std::string buffer_;        // received bytes; [0, lineStart_) is already framed
    std::size_t lineStart_ = 0;  // start of the line being read
    std::size_t scanned_ = 0;    // bytes from lineStart_ known to hold no line feed
    std::uint64_t received_ = 0;
    std::uint64_t base_ = 0;     // stream offset of buffer_[0]
    bool framing_ = false;
    bool outOfStep_ = false;
    bool tooLarge_ = false;
    bool endedCalled_ = false;
    bool closedSeen_ = false;  // the socket reported its end
    std::uint64_t generation_ = 0;  // moves on at every connect() and close()
    std::shared_ptr<bool> alive_;
};

}  // namespace iw::pop3
