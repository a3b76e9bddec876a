// A fake network for the main window's tests: a resolver with a table of
// names, TCP sockets wired to scripted POP3 peers, and UDP sockets whose
// sent datagrams are recorded and whose replies a test delivers. Every
// event is posted to the fake event loop, so it arrives inside pump() as the
// real sockets' events do.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/network.h"

namespace iw::test {

// A scripted POP3 server for the short background dialogue.
struct TrayPop3Peer {
    std::string greeting = "+OK ready\r\n";
    // The reply to each command line (without its CR LF); the default
    // accepts everything and answers STAT with "+OK 0 0".
    std::function<std::string(const std::string& line)> reply;
    bool refuse = false;        // connecting fails at once
    bool silent = false;        // accepts the connection and never says anything
    bool closeAfterQuit = true; // closes its side after answering QUIT
    // The answer to a command (and the close after QUIT) is delivered before
    // the send-complete event of that command, as the Windows loop could
    // deliver a fast server's answer before the event that the send posted.
    bool answersBeforeSendComplete = false;
    std::size_t splitAt = 0;    // when not 0, each reply arrives in two pieces split here
    std::vector<std::string> received;  // every command line, in order
    int connections = 0;
};

// A POP3 peer that knows one user and password and has `count` messages.
TrayPop3Peer MakeTrayPop3Peer(const std::string& user, const std::string& pass, int count,
                              const std::string& statReply = "");

struct SentDatagram {
    std::string address;
    std::uint16_t port = 0;
    std::string bytes;
};

class FakeTrayNetwork : public platform::Network {
public:
    explicit FakeTrayNetwork(platform::EventLoop& loop);
    ~FakeTrayNetwork() override;

    // Names the resolver knows; dotted addresses resolve to themselves.
    void setHost(const std::string& name, const std::string& address) { hosts_[name] = address; }
    void setNonIpv4Host(const std::string& name) { nonIpv4_[name] = true; }
    std::vector<std::string> lookups;

    TrayPop3Peer& addPop3Peer(const std::string& address, std::uint16_t port, TrayPop3Peer peer);
    TrayPop3Peer* peer(const std::string& address, std::uint16_t port);

    // Datagrams the program sent, and a reply delivered to the socket that
    // sent the last one (through the loop).
    const std::vector<SentDatagram>& sent() const { return sent_; }
    void deliverDatagram(const std::string& bytes);
    void refuseUdpSend(bool refuse) { refuseUdp_ = refuse; }

    platform::ResolveResult resolve(const std::string& host) override;
    std::unique_ptr<platform::TcpSocket> createTcp() override;
    std::unique_ptr<platform::UdpSocket> createUdp() override;

    // Used by the fake sockets.
    platform::EventLoop& loop() { return loop_; }
    void recordSent(SentDatagram d) { sent_.push_back(std::move(d)); }
    bool udpRefused() const { return refuseUdp_; }
    std::function<void(const std::string&)>* lastUdpArrival = nullptr;
    std::shared_ptr<bool> lastUdpAlive;

private:
    platform::EventLoop& loop_;
    std::map<std::string, std::string> hosts_;
    std::map<std::string, bool> nonIpv4_;
    std::map<std::string, std::unique_ptr<TrayPop3Peer>> peers_;
    std::vector<SentDatagram> sent_;
    bool refuseUdp_ = false;
};

}  // namespace iw::test
