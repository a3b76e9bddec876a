// The per-account memory of servers; see server_memory.h.
#include "pop3/server_memory.h"

#include <cmath>

namespace iw::pop3 {

ServerMemory& ServerMemory::program() {
    static ServerMemory memory;
    return memory;
}

std::string ServerMemory::key(const std::string& host, std::uint16_t port, const std::string& user) {
    return host + '\n' + std::to_string(port) + '\n' + user;
}

const ServerMemory::Server* ServerMemory::find(const std::string& key) const {
    const auto it = servers_.find(key);
    return it == servers_.end() ? nullptr : &it->second;
}

void ServerMemory::rememberCapabilities(const std::string& key, const Capabilities& caps, const std::string& greeting) {
    Server& s = servers_[key];
    s.caps = caps;
    s.greeting = greeting;
    s.capsKnown = true;
    if (caps.loginDelaySeconds) s.loginDelay = caps.loginDelaySeconds;
}

void ServerMemory::forgetCapabilities(const std::string& key) {
    const auto it = servers_.find(key);
    if (it == servers_.end()) return;
    it->second.capsKnown = false;
    it->second.caps = {};
    it->second.greeting.clear();
}

void ServerMemory::loggedIn(const std::string& key, std::int64_t at) { servers_[key].lastLogin = at; }

std::int64_t ServerMemory::loginDelayLeft(const std::string& key, std::int64_t now) const {
    const Server* s = find(key);
    if (!s || !s->lastLogin || !s->loginDelay) return 0;
    const std::int64_t since = now - *s->lastLogin;
    if (since < 0) return 0;
    const std::int64_t left = *s->loginDelay - since;
    return left > 0 ? left : 0;
}

std::int64_t SecondsNow(const platform::SystemClock& clock) {
    // The steady clock: setting the date or time (the clock correction does)
    // neither holds an account longer nor lets it log in too soon.
    return static_cast<std::int64_t>(std::floor(clock.monotonicSeconds()));
}

}  // namespace iw::pop3
