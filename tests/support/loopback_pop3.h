// A scripted POP3 server of our own on a real loopback socket, for the
// fault tests of the filter session: it serves one mailbox (whole messages
// with CR LF line ends, each known by its Message-ID) and misbehaves as its
// script says: a greeting of its choice, silence from a given command on,
// lower-case "+ok", replies written one byte at a time or cut at chosen
// places with a pause between the pieces, TOP replies held back and written
// in one block, a LIST status line sent without its line end first, and
// drops in the middle of the TOP stream or of the deletions.
//
// The server runs each connection on a thread of its own (LoopbackServer).
// Set the script before the client connects; read what the server saw
// through the accessors, which lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"

namespace iw::test {

struct LoopbackPop3Script {
    std::string greeting = "+OK scripted POP3 ready\r\n";
    bool noGreeting = false;       // says nothing at all
    std::string silentFrom;        // no reply to this command (USER, STAT, LIST, ...) or any after it
    bool lowercaseUserOk = false;  // answers USER with "+ok"
    std::string statReply;         // replaces the STAT reply when set
    bool listStatusOnly = false;   // LIST gets its status line and nothing more
    bool listStatusApart = false;  // LIST's status line goes first without its line end, the rest after a pause
    std::size_t chunk = 0;         // every reply is written in pieces of this many bytes (0: whole)
    // The reply to the first command of this verb (for TOP: of the message
    // `splitTop`) is cut at these offsets (negative: from its end), with a
    // pause between the pieces.
    std::string splitVerb;
    int splitTop = 1;
    std::vector<int> splitAt;
    int errTop = 0;                // TOP of this message number is answered "-ERR" (0: none)
    int holdTops = 0;              // TOP replies wait until this many TOPs have come, then go in one write
    int dropAfterTops = -1;        // after this many TOP replies (and dropPartialBytes of the next) the server hangs up
    std::size_t dropPartialBytes = 0;
    int dropAtDele = -1;           // the n-th DELE (1-based) is not answered: the server hangs up instead
    int pauseMs = 40;              // the pause between pieces and before a hang-up
    int errDele = 0;               // DELE of this message number is answered "-ERR" and not marked
    bool quitErr = false;          // QUIT is answered "-ERR" and nothing is removed
    // A hostile server: every reply (the greeting with the command
    // "GREETING") passes through here before it is written; what it returns
    // is written instead ("" writes nothing). Runs on the server's thread.
    std::function<std::string(const std::string& command, const std::string& reply)> tamper;
};

class LoopbackPop3Server {
public:
    // Listens on 127.0.0.1:port; check listening(). `receiveBuffer` (bytes,
    // 0 for the default) shrinks the kernel's buffer for what clients send,
    // so a client that pipelines stalls soon when the server stops reading.
    LoopbackPop3Server(std::uint16_t port, std::string user, std::string password, int receiveBuffer = 0);
    ~LoopbackPop3Server();
    LoopbackPop3Server(const LoopbackPop3Server&) = delete;
    LoopbackPop3Server& operator=(const LoopbackPop3Server&) = delete;

    bool listening() const;
    std::uint16_t port() const;
    // "127.0.0.1:port", the account's PoP3 value.
    std::u16string hostValue() const;

    // The mailbox and the script for the connections to come.
    void setMessages(std::vector<std::string> messages);
    void setScript(LoopbackPop3Script script);

    // Every command line received (without CR LF), over all connections.
    std::vector<std::string> commands() const;
    // Those beginning with `verb`.
    std::vector<std::string> commands(const std::string& verb) const;
    // When each command line arrived, in the order of commands().
    std::vector<std::chrono::steady_clock::time_point> commandTimes() const;
    // Message-IDs of the messages removed by DELE and a QUIT, in order.
    std::vector<std::string> removed() const;
    // Message-IDs left in the mailbox, in mailbox order.
    std::vector<std::string> remaining() const;
    int connections() const;
    void clearLog();

    // The Message-ID (without < >) of a whole message text; "" when none.
    static std::string MessageId(const std::string& message);

private:
    void serve(LoopbackStream& s);

    struct State;
    std::shared_ptr<State> state_;
    std::unique_ptr<LoopbackServer> server_;
};

}  // namespace iw::test
