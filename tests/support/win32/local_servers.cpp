// The Windows build runs no local servers: the integration tests that need
// them skip there.
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

}  // namespace iw::test
