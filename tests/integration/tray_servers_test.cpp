// The main window's background check against a real Dovecot POP3 server and
// its time request against a real chrony, both on loopback, over the real
// platform. The clock setter stays a fake: the test machine's clock is never
// changed.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "app/master.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"
#include "tests/support/fake_master_view.h"
#include "tests/support/local_servers.h"

namespace iw::app {
namespace {

using namespace std::chrono_literals;

// The real clock, except that setting it is only recorded.
class RecordingClock : public platform::SystemClock {
public:
    explicit RecordingClock(platform::SystemClock& real) : real_(real) {}
    platform::LocalDateTime now() const override { return real_.now(); }
    double secondsSinceMidnight() const override { return real_.secondsSinceMidnight(); }
    int utcOffsetMinutes() const override { return real_.utcOffsetMinutes(); }
    double monotonicSeconds() const override { return real_.monotonicSeconds(); }
    bool setLocalTime(const platform::LocalDateTime& t) override {
        requests.push_back(t);
        return true;
    }
    std::vector<platform::LocalDateTime> requests;

private:
    platform::SystemClock& real_;
};

std::string message(int n) {
    return "From: sender" + std::to_string(n) + "@example.com\r\nTo: test@example.com\r\nSubject: note " +
           std::to_string(n) + "\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

class TrayServersTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::SystemClock> realClock = platform::createSystemClock();
    RecordingClock clock{*realClock};
    std::unique_ptr<platform::Network> network = platform::createNetwork(*loop);
    std::unique_ptr<platform::CodePage> codePage = platform::createCodePage();
    std::unique_ptr<platform::Registry> registry = platform::createRegistry();
    std::unique_ptr<platform::Desktop> desktop = platform::createDesktop();
    std::unique_ptr<platform::Shell> shell = platform::createShell();
    std::unique_ptr<platform::FileStore> files = platform::createFileStore();
    platform::Platform platform{*loop, clock, *network, *codePage, *registry, *desktop, *shell, *files};
    std::filesystem::path folder;
    std::unique_ptr<settings::SettingsStore> store;
    settings::ProgramState state;
    test::FakeMasterView view;
    test::FakeFilterWindowOpener opener;

    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("iw-tray-profile-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder);
        const std::u16string appPath = folder.u16string() + files->separator();
        store = std::make_unique<settings::SettingsStore>(*files, *codePage, appPath);
        state.identity.AppPath = appPath;
        state.identity.UserSection = u"tester";
        state.prefs.options = settings::Options::FromStored(u"010011000100");  // no filter window
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    static std::u16string hostPort(std::uint16_t port) {
        const std::string text = "127.0.0.1:" + std::to_string(port);
        return std::u16string(text.begin(), text.end());
    }

    void addAccount(const std::u16string& address, const std::u16string& user, const std::u16string& password,
                    const std::u16string& host) {
        using settings::IniFile;
        store->write(IniFile::Set, u"tester-Mail", address, std::u16string(u"1"));
        store->write(IniFile::Set, address, u"Account", user);
        store->write(IniFile::Set, address, u"PassWord", settings::ScramblePassword(*codePage, password));
        store->write(IniFile::Set, address, u"PoP3", host);
    }
};

TEST_F(TrayServersTest, BackgroundCheckAgainstDovecot) {
    auto dovecot = test::StartDovecot(0, "test", "secret", {message(1), message(2), message(3)});
    if (!dovecot) GTEST_SKIP() << "Dovecot cannot be started here";
    addAccount(u"test@example.com", u"test", u"secret", hostPort(dovecot->port()));
    addAccount(u"again@example.com", u"test", u"secret", hostPort(dovecot->secondPort()));
    MasterPresenter master(platform, *store, state, view, &opener);
    master.RunBackgroundCheck();
    EXPECT_EQ(state.run.NewMailCount, 6);
    EXPECT_EQ(state.run.StatusText, u"");
    EXPECT_FALSE(state.run.CheckBusy);
}

TEST_F(TrayServersTest, DovecotRefusalsBecomeStatusTexts) {
    auto dovecot = test::StartDovecot(0, "test", "secret", {message(1)});
    if (!dovecot) GTEST_SKIP() << "Dovecot cannot be started here";
    auto refusing = test::HoldRefusingPort();
    ASSERT_TRUE(refusing);
    struct Case {
        std::u16string user, password, host, status;
    } cases[] = {
        // Dovecot refuses with "-ERR [AUTH] ...": the status says what to do.
        {u"test", u"wrong", hostPort(dovecot->port()), u"test帳號或密碼被拒,請檢查密碼;郵件服務要求應用程式密碼時,請改用應用程式密碼或授權碼"},
        // A port bound and not listening: the connection is refused at once.
        {u"test", u"secret", hostPort(refusing->port()), u"test未連上伺服器"},
    };
    for (const Case& c : cases) {
        store->deleteSection(settings::IniFile::Set, u"tester-Mail");
        addAccount(u"test@example.com", c.user, c.password, c.host);
        MasterPresenter master(platform, *store, state, view, &opener);
        const auto start = std::chrono::steady_clock::now();
        master.RunBackgroundCheck();
        EXPECT_EQ(state.run.StatusText, c.status);
        EXPECT_EQ(state.run.NewMailCount, 0);
        // Far below the 45 s and more the time-outs would take; only a
        // machine stalled for half a minute could reach it.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 40s);
    }
}

TEST_F(TrayServersTest, TimeRequestAgainstChrony) {
    auto chrony = test::StartChrony(0);
    if (!chrony) GTEST_SKIP() << "chrony cannot be started here";
    MasterConfig config;
    config.timeServerOverride = "127.0.0.1";
    config.timePort = chrony->port();
    MasterPresenter master(platform, *store, state, view, &opener, {}, config);
    // chrony may need a moment before it answers (long on a loaded
    // machine): ask again each second.
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (clock.requests.empty() && std::chrono::steady_clock::now() < end) {
        master.CorrectClock();
        const auto next = std::chrono::steady_clock::now() + 1s;
        while (clock.requests.empty() && std::chrono::steady_clock::now() < next) loop->pump(100ms);
    }
    ASSERT_EQ(clock.requests.size(), 1u);
    EXPECT_EQ(state.run.StatusText, u"網路校時成功!");
    // chrony serves this machine's own clock: the time to set is within a
    // few seconds of now.
    const platform::LocalDateTime now = realClock->now();
    const platform::LocalDateTime& t = clock.requests[0];
    const auto secs = [](const platform::LocalDateTime& d) {
        return platform::daysFromCivil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
    };
    EXPECT_LE(std::llabs(secs(t) - secs(now)), 3) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":"
                                                 << t.minute << ":" << t.second;
}

}  // namespace
}  // namespace iw::app
