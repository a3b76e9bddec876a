// The Windows build runs no local servers: the integration tests that need
// them skip there. A refusing port it can hold.
#include <winsock2.h>

#include "tests/support/local_servers.h"

namespace iw::test {

std::unique_ptr<LocalServer> StartDovecot(std::uint16_t, const std::string&, const std::string&,
                                          const std::vector<std::string>&) {
    return nullptr;
}

std::unique_ptr<LocalServer> StartDovecot(std::uint16_t, const std::string&, const std::string&, int,
                                          const std::function<std::string(int)>&, const DovecotTls&) {
    return nullptr;
}

std::unique_ptr<LocalServer> StartChrony(std::uint16_t) { return nullptr; }

namespace {

class RefusingPort : public LocalServer {
public:
    RefusingPort(SOCKET s, std::uint16_t port) : socket_(s), port_(port) {}
    ~RefusingPort() override { closesocket(socket_); }
    const std::string& folder() const override { return folder_; }
    std::uint16_t port() const override { return port_; }

private:
    SOCKET socket_;
    std::uint16_t port_;
    std::string folder_;
};

}  // namespace

std::unique_ptr<LocalServer> HoldRefusingPort() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;  // counted, so a second start is harmless
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return nullptr;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        closesocket(s);
        return nullptr;
    }
    return std::make_unique<RefusingPort>(s, ntohs(a.sin_port));
}

}  // namespace iw::test
