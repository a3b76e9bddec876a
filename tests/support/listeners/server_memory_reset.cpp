// Every test starts with the program's memory of servers empty, so what one
// test's server listed never spares another test's CAPA.
#include <gtest/gtest.h>

#include "pop3/server_memory.h"

namespace iw::test {
namespace {

class ForgetServers : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { pop3::ServerMemory::program().clear(); }
};

[[maybe_unused]] const bool kRegistered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ForgetServers);
    return true;
}();

}  // namespace

}  // namespace iw::test
