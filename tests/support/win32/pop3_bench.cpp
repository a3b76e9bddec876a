// The Windows build has no benchmark proxy or bare POP3 client: the engine
// benchmarks run natively only.
#include "tests/support/pop3_bench.h"

namespace iw::test {

class DelayProxy::Impl {};

DelayProxy::DelayProxy(std::uint16_t, std::uint16_t, int) {}
DelayProxy::~DelayProxy() = default;
bool DelayProxy::ok() const { return false; }
std::uint16_t DelayProxy::port() const { return 0; }

RawPop3Result RunRawPop3Client(std::uint16_t, const std::string&, const std::string&, int, int, bool) {
    RawPop3Result r;
    r.error = "not available in the Windows build";
    return r;
}

RawPop3Result RunRawPop3TlsClient(std::uint16_t, const std::string&, const std::string&, int, int, const std::string&) {
    RawPop3Result r;
    r.error = "not available in the Windows build";
    return r;
}

}  // namespace iw::test
