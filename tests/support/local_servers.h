// Real servers on loopback for the integration tests: Dovecot's POP3 server
// with one user and a Maildir of the test's own, and chrony serving the
// (unchanged) system clock over SNTP. Each runs in the foreground in a
// temporary folder and is stopped, and the folder removed, when the object
// goes. Only the POSIX build can start them; elsewhere (and when the server
// is not installed) the start functions return nullptr and tests skip.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace iw::test {

class LocalServer {
public:
    virtual ~LocalServer() = default;
    // The folder the server runs in.
    virtual const std::string& folder() const = 0;
    // The port it listens on, and Dovecot's second listener.
    virtual std::uint16_t port() const = 0;
    virtual std::uint16_t secondPort() const { return 0; }
};

// Dovecot POP3 on 127.0.0.1:port (a second listener on port + 1), user
// `user` with password `password`, holding `messages` (each a whole message
// with CR LF line ends) in that order. Returns once the server answers.
// Port 0 (what tests pass) takes two free ports the system hands out, never
// fixed ones, since another server on a shared machine may hold any fixed
// port; port() and secondPort() tell which.
std::unique_ptr<LocalServer> StartDovecot(std::uint16_t port, const std::string& user, const std::string& password,
                                          const std::vector<std::string>& messages);
// TLS on the second listener (port + 1, TLS from the first byte) with this
// certificate and key (PEM files); STLS on the first.
struct DovecotTls {
    std::string certFile;
    std::string keyFile;
};

// The same with `count` messages made one at a time by message(0) ..
// message(count - 1), so that a large mailbox is never held in memory.
std::unique_ptr<LocalServer> StartDovecot(std::uint16_t port, const std::string& user, const std::string& password,
                                          int count, const std::function<std::string(int)>& message,
                                          const DovecotTls& tls = {});

// chrony answering SNTP on 127.0.0.1:port (0: a free one), never touching
// the clock.
std::unique_ptr<LocalServer> StartChrony(std::uint16_t port);

// A TCP port on 127.0.0.1 that refuses every connection for as long as the
// object lives: bound, never listening, so no other program can take it.
std::unique_ptr<LocalServer> HoldRefusingPort();

}  // namespace iw::test
