// The table resolver; see fake_resolver.h.
#include "tests/support/fake_resolver.h"

namespace iw::test {

platform::ResolveResult FakeResolver::resolve(const std::string& host) {
    lookups_.push_back(host);
    auto it = table_.find(host);
    return it == table_.end() ? platform::ResolveResult{} : it->second;
}

}  // namespace iw::test
