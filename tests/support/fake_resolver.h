// A host-name resolver for tests: a table of host -> result; a host not in
// the table does not resolve. Records every name asked for.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/network.h"

namespace iw::test {

class FakeResolver : public platform::Resolver {
public:
    // The host resolves to this IPv4 address.
    void addIpv4(const std::string& host, const std::string& address) { table_[host] = {true, true, address}; }
    // The host resolves, but only to a non-IPv4 address.
    void addIpv6Only(const std::string& host) { table_[host] = {true, false, ""}; }
    void set(const std::string& host, platform::ResolveResult r) { table_[host] = std::move(r); }

    platform::ResolveResult resolve(const std::string& host) override;

    const std::vector<std::string>& lookups() const { return lookups_; }

private:
    std::map<std::string, platform::ResolveResult> table_;
    std::vector<std::string> lookups_;
};

}  // namespace iw::test
