// A fake Network for tests: FakeTcpSocket delivers its events through the
// FakeEventLoop (posted, never from inside a call on the socket) and talks
// to in-process scripted POP3 servers registered by address and port. The
// script decides how a server misbehaves: -ERR greetings, lower-case +ok,
// silence, drops in the middle of the TOP stream or the deletions, replies
// split at chosen bytes, several replies in one block, endless replies.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/network.h"
#include "tests/support/fake_time.h"

namespace iw::test {

struct Pop3Behaviour {
    std::string greeting = "+OK fake POP3 ready\r\n";
    bool silent = false;            // answers nothing at all, not even the greeting
    bool lowercaseUserOk = false;   // answers USER with "+ok"
    std::size_t chunk = 0;          // each reply block is delivered in pieces of this size (0: whole)
    std::size_t batchTops = 0;      // TOP replies are held back and delivered this many in one block
    bool listStatusApart = false;   // the LIST status line comes first without its line end
    int dropAfterTops = -1;         // the connection drops after this many TOP replies
    int silentAfterTops = -1;       // no more replies after this many TOP replies
    int dropAfterDeles = -1;        // the connection drops after this many DELE replies
    bool deleErr = false;           // DELE answered with -ERR
    bool noopErr = false;           // NOOP answered with -ERR (a server that lacks it)
    std::size_t endlessListBytes = 0;  // LIST answered with this many bytes and no terminator
    std::size_t endlessTopBytes = 0;   // the first TOP answered with this many bytes and no terminator
    std::string statReply;          // replaces the STAT reply when set
    int replyDelayMs = 0;           // every reply waits this long
    int topGapMs = 0;               // TOP reply k comes k times this long after the TOP commands
    // The CAPA reply; empty: CAPA is an unknown command (an RFC 1939 server).
    std::string capa = "+OK Capability list follows\r\nTOP\r\nUSER\r\nPIPELINING\r\nUIDL\r\n.\r\n";
    // Reads only the first command line of each packet and drops the rest,
    // as a server without PIPELINING may (it lists no PIPELINING then).
    bool firstLinePerPacket = false;
    // A line nobody asked for, sent this long after the NOOP's reply (none when empty).
    std::string strayAfterNoop;
    int strayAfterNoopMs = 0;
};

// One mailbox on one address and port. Messages are whole RFC 822 texts with
// CR LF line ends; each has an identity (the Message-ID or its index) so a
// test can tell which ones were deleted.
class ScriptedPop3Server {
public:
    std::string user = "user";
    std::string password = "secret";
    std::vector<std::string> messages;
    Pop3Behaviour behaviour;

    // Every command line received, without its CR LF, over all connections.
    std::vector<std::string> commands;
    // Indexes (0-based) of the messages removed by a DELE and a QUIT.
    std::vector<std::size_t> removed;
    int connections = 0;

    // Internal: a connection's view of the server.
    struct Session;
    std::shared_ptr<Session> open(std::function<void(std::string, int)> deliver, std::function<void()> drop);
};

class FakeTcpSocket;

class FakeNetwork : public platform::Network {
public:
    FakeNetwork(FakeEventLoop& loop, FakeClock& clock) : loop_(loop), clock_(clock) {}

    // Host names that resolve, to dotted IPv4 text.
    void addHost(const std::string& name, const std::string& address) { hosts_[name] = address; }
    // A server on an address and port; connecting elsewhere is refused.
    void addServer(const std::string& address, std::uint16_t port, ScriptedPop3Server& server) {
        servers_[address + ":" + std::to_string(port)] = &server;
    }

    platform::ResolveResult resolve(const std::string& host) override;
    std::unique_ptr<platform::TcpSocket> createTcp() override;
    std::unique_ptr<platform::UdpSocket> createUdp() override { return nullptr; }

    FakeEventLoop& loop() { return loop_; }
    FakeClock& clock() { return clock_; }
    ScriptedPop3Server* server(const std::string& address, std::uint16_t port);
    std::vector<std::string> lookups;

private:
    FakeEventLoop& loop_;
    FakeClock& clock_;
    std::map<std::string, std::string> hosts_;
    std::map<std::string, ScriptedPop3Server*> servers_;
};

}  // namespace iw::test
