// What the program remembers of each account's server between sessions, in
// memory only (never in a settings file): the capabilities CAPA listed and
// the greeting they came with, so the next login skips CAPA; and when the
// account last logged in, for a server's LOGIN-DELAY.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/system_clock.h"
#include "pop3/capabilities.h"

namespace iw::pop3 {

class ServerMemory {
public:
    // The program's own memory, shared by the tray's check and the filter window.
    static ServerMemory& program();

    // The key of an account: its server address, port and user name.
    static std::string key(const std::string& host, std::uint16_t port, const std::string& user);

    struct Server {
        Capabilities caps;
        std::string greeting;
        bool capsKnown = false;
        std::optional<std::int64_t> lastLogin;  // seconds on SecondsNow's scale
        std::optional<long> loginDelay;         // kept when the capabilities are forgotten
    };

    // Remembered capabilities and greeting, if any.
    const Server* find(const std::string& key) const;
    void rememberCapabilities(const std::string& key, const Capabilities& caps, const std::string& greeting);
    // A session that failed forgets the capabilities: the next one asks again.
    void forgetCapabilities(const std::string& key);
    void loggedIn(const std::string& key, std::int64_t at);

    // Seconds still to wait before `key` may log in again under the server's
    // LOGIN-DELAY; 0 when it may now. A clock that went back does not hold
    // the account.
    std::int64_t loginDelayLeft(const std::string& key, std::int64_t now) const;

    void clear() { servers_.clear(); }

private:
    std::map<std::string, Server> servers_;
};

// Whole seconds on the steady clock (never set, unlike the local time); the
// scale of lastLogin.
std::int64_t SecondsNow(const platform::SystemClock& clock);

}  // namespace iw::pop3
