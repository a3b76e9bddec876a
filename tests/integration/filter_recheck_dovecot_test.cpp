// The re-check of one account against a real Dovecot on loopback: the
// session fetches the mailbox, the user checks two rows, the mailbox changes
// behind the program's back (a new message is delivered, one is deleted by
// another client), and the re-check deletes the checked messages over the
// open connection, logs out, connects anew and lists what is there now,
// numbered from 1 again; the deletion run then removes exactly the row the
// user checks last. Every deletion is checked in the Maildir by Message-ID.
// Dovecot runs only in the native build; elsewhere the test skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "filter/filter_window.h"
#include "platform/native.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/local_servers.h"

namespace iw::test {
namespace {

namespace fs = std::filesystem;
using filter::Control;
using filter::FilterWindow;
using filter::MouseButton;

std::string Message(const std::string& id, const std::string& from, const std::string& subject) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Thu, 10 Dec 2026 08:00:00 +0800\r\nMessage-ID: <" + id +
           "@test>\r\n\r\nbody of " + id + "\r\n";
}

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

struct RecheckDovecot : ::testing::Test {
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::SystemClock> clock = platform::createSystemClock();
    std::unique_ptr<platform::Network> net = platform::createNetwork(*loop);
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    StubRegistry registry;
    StubDesktop desktop;
    StubShell shell;
    StubFileStore files;
    platform::Platform plat{*loop, *clock, *net, *cp, registry, desktop, shell, files};
    FakeFilterProfile profile;
    ProfileSenderLists senderLists{profile};
    platform::FixedDateFormat dates;
    settings::ProgramState m1;
    RecordingMainLink link;
    RecordingFilterView view;
    std::unique_ptr<LocalServer> dovecot;
    fs::path maildir;

    // The Message-IDs in the Maildir, sorted.
    std::vector<std::string> mailbox() const {
        std::vector<std::string> ids;
        for (const char* sub : {"new", "cur"}) {
            for (const auto& e : fs::directory_iterator(maildir / sub)) {
                const std::string text = ReadAll(e.path());
                const auto lt = text.find("Message-ID: <");
                if (lt != std::string::npos) ids.push_back(text.substr(lt + 13, text.find('@', lt) - lt - 13));
            }
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // Removes the message with this Message-ID as another mail client would.
    void deleteFromOutside(const std::string& id) {
        for (const char* sub : {"new", "cur"})
            for (const auto& e : fs::directory_iterator(maildir / sub))
                if (ReadAll(e.path()).find("<" + id + "@test>") != std::string::npos) fs::remove(e.path());
    }
    // Delivers a message the way a mail server does: written to tmp/, then moved into new/.
    void deliver(const std::string& text, const std::string& name) {
        const fs::path tmp = maildir / "tmp" / name;
        {
            std::ofstream f(tmp, std::ios::binary);
            f << text;
        }
        fs::permissions(tmp, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                 fs::perms::others_read);
        fs::rename(tmp, maildir / "new" / name);
    }
    std::vector<std::u16string> subjects() const {
        std::vector<std::u16string> out;
        for (const auto& r : view.rows) out.push_back(r.Subject);
        return out;
    }
};

TEST_F(RecheckDovecot, RecheckDeletesThenListsTheChangedMailboxFromOne) {
    // Message m3 cannot be parsed ("<" without ">"); it keeps its row, so
    // row n stays message n.
    dovecot = StartDovecot(0, "alice", "secret",
                           {Message("m1", "one@ok.tw", "first"), Message("m2", "two@ok.tw", "second"),
                            Message("m3", "broken <y", "third"), Message("m4", "four@ok.tw", "fourth")});
    if (!dovecot) GTEST_SKIP() << "Dovecot cannot be started here";
    maildir = fs::path(dovecot->folder()) / "mail" / "alice" / "Maildir";
    profile.options[u"AutoMail"] = u"1";
    const std::string port = std::to_string(dovecot->port());
    profile.addAccount(u"alice@a", u"alice", u"secret", u"127.0.0.1:" + std::u16string(port.begin(), port.end()));

    FilterWindow w(plat, profile, m1, link, view, senderLists, dates);
    w.load();
    w.activated();
    ASSERT_EQ(w.accountList(0).size(), 4u);
    EXPECT_EQ(subjects(), (std::vector<std::u16string>{u"first", u"second", u"third", u"fourth"}));
    EXPECT_EQ(view.messageBoxes.size(), 1u);  // the parse error of m3
    ASSERT_TRUE(w.timerEnabled());             // the countdown runs

    w.messageChecked(0, true);
    w.messageChecked(2, true);
    EXPECT_FALSE(w.timerEnabled());  // a check stops it
    w.autoDeleteClicked(false);
    w.autoDeleteClicked(true);
    ASSERT_TRUE(w.timerEnabled());   // and it runs again

    // Behind the program's back: m5 arrives, another client deletes m2.
    deliver(Message("m5", "five@ok.tw", "fifth"), "1700000100.M9P9.test");
    deleteFromOutside("m2");

    w.accountListMouseUp(MouseButton::Right, 0);
    w.mnu_recheck_Click();
    // m1 and m3 went by DELE over the old connection; the new listing holds
    // what is left, numbered from 1.
    EXPECT_EQ(mailbox(), (std::vector<std::string>{"m4", "m5"}));
    ASSERT_EQ(w.accountList(0).size(), 2u);
    EXPECT_EQ(w.accountList(0)[0].Subject, u"fourth");
    EXPECT_EQ(w.accountList(0)[1].Subject, u"fifth");
    EXPECT_EQ(subjects(), (std::vector<std::u16string>{u"fourth", u"fifth"}));
    EXPECT_EQ(w.account(0).status.rfind(u"信箱(alice@a)有2封新郵件,共有", 0), 0u);
    EXPECT_EQ(w.shownList(), 1);
    EXPECT_FALSE(w.timerEnabled());  // a re-check stops the countdown and does not restart it
    EXPECT_FALSE(w.label2Visible());
    EXPECT_TRUE(w.enabled(Control::Command1));
    EXPECT_TRUE(w.menuEnabled(filter::MenuEntry::Recheck));
    EXPECT_EQ(view.tipClosed, view.tipShown);
    EXPECT_EQ(w.socket(0)->state(), platform::SocketState::Connected);

    // The deletion run removes the one row checked now: message 2, m5.
    w.messageChecked(1, true);
    w.runDeletion();
    EXPECT_TRUE(w.closed());
    EXPECT_EQ(mailbox(), (std::vector<std::string>{"m4"}));
    EXPECT_EQ(w.remainingAfterRun(), 1);
}

}  // namespace
}  // namespace iw::test
