// The filter's POP3 session on its own, on the fake loop, clock and network:
// what it hands its report, and that a deletion only ever names messages
// LIST named, whatever rows it is given.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "pop3/fetch_session.h"
#include "pop3/server_memory.h"
#include "tests/support/fake_mail_platform.h"
#include "tests/support/fake_network.h"
#include "tests/support/filter_fakes.h"

namespace iw::test {
namespace {

// Records what the session reports; `keepRows` rows are accepted, then no more.
struct RecordingReport : pop3::FetchReport {
    std::vector<std::pair<int, std::int32_t>> rows;  // (row, number)
    std::vector<pop3::FetchTrouble> troubles;
    std::vector<pop3::FetchStep> steps;
    int heldCalls = 0;
    std::size_t keepRows = 1000;

    void step(int, pop3::FetchStep s) override { steps.push_back(s); }
    std::int32_t counted(int, std::int32_t count, std::int32_t) override { return count; }
    void listed(int, const pop3::Listing&) override {}
    bool received(int, int row, std::int32_t number, const std::string&, bool) override {
        rows.emplace_back(row, number);
        return rows.size() < keepRows;
    }
    void held(int) override { ++heldCalls; }
    void trouble(int, pop3::FetchTrouble t, const std::u16string&) override { troubles.push_back(t); }
};

struct FetchFixture : ::testing::Test, FakeMailPlatform {
    ScriptedPop3Server server;
    RecordingReport report;
    pop3::FetchSession session{plat};

    FetchFixture() {
        pop3::ServerMemory::program().clear();
        net.addHost("mail.a", "127.0.0.1");
        net.addServer("127.0.0.1", 26110, server);
        server.user = "alice";
        for (int k = 1; k <= 4; ++k)
            server.messages.push_back("From: s" + std::to_string(k) + "@x\r\nSubject: " + std::to_string(k) + "\r\n\r\nb\r\n");
    }
    void fetch() {
        pop3::FetchAccount account;
        account.login.address = u"alice@a";
        account.login.user = u"alice";
        account.login.password = u"secret";
        account.server = u"mail.a:26110";
        session.begin(u"", {account}, report);
        session.fetch(0, false);
    }
    std::vector<std::string> sent(const std::string& verb) const {
        std::vector<std::string> out;
        for (const auto& c : server.commands)
            if (c.rfind(verb, 0) == 0) out.push_back(c);
        return out;
    }
};

TEST_F(FetchFixture, RowsComeInListOrderAndOnlyListedMessagesAreEverDeleted) {
    fetch();
    ASSERT_TRUE(report.troubles.empty());
    EXPECT_EQ(report.rows, (std::vector<std::pair<int, std::int32_t>>{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));
    EXPECT_EQ(report.steps.back(), pop3::FetchStep::Fetching);
    // Rows out of range are no messages; a row named twice is one DELE.
    const pop3::FetchSession::Deletions d = session.deleteRows(0, {-1, 1, 4, 1000, 1, 3}, 8, true);
    EXPECT_EQ(sent("DELE"), (std::vector<std::string>{"DELE 2", "DELE 4"}));
    EXPECT_EQ(d.asked, 2);
    EXPECT_EQ(d.confirmed, 2);
    EXPECT_TRUE(session.quit(0, 8));
    EXPECT_EQ(server.removed, (std::vector<std::size_t>{1, 3}));
}

// A report that can keep no more rows ends the account at once: the
// connection is closed, nothing more is handed on, and no DELE can follow.
TEST_F(FetchFixture, AReportThatCanKeepNoMoreRowsEndsTheAccount) {
    report.keepRows = 2;
    fetch();
    EXPECT_EQ(report.rows.size(), 2u);
    EXPECT_EQ(report.troubles, (std::vector<pop3::FetchTrouble>{pop3::FetchTrouble::TooLarge}));
    EXPECT_FALSE(session.usable(0));
    const pop3::FetchSession::Deletions d = session.deleteRows(0, {0, 1}, 8, true);
    EXPECT_EQ(d.asked, 0);
    EXPECT_FALSE(session.quit(0, 8));
    EXPECT_TRUE(sent("DELE").empty());
    EXPECT_TRUE(server.removed.empty());
}

}  // namespace
}  // namespace iw::test
