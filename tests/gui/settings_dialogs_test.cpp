// The small settings dialogs on screen under Wine: the account dialog, the
// list entry dialog in its three modes, the password change dialog and the
// input box, each opened modally over an owner window and driven by posted
// keys, characters and clicks as a user would; set.ini, ie.ini and the
// registry are read afterwards. Every dialog is checked for a tidy layout
// (inside its client area, no overlaps, every text fits) at the prefix's DPI
// and after a DPI change, and pictured in build/screenshots/.
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/check_report.h"
#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/registry_values.h"
#include "settings/settings_store.h"
#include "tests/support/dialog_openers.h"
#include "tests/support/win32/dialog_driver.h"
#include "tests/support/win32/gui_probe.h"
#include "tests/support/win32/layout_check.h"
#include "tests/support/win32/screen_capture.h"
#include "win32/app/modal_dialogs_win32.h"
#include "win32/platform/handles.h"

namespace iw::win32app {
namespace {

using settings::IniFile;
using test::ClickButton;
using test::DialogScript;
using test::FindDialog;
using test::FindMessageBox;
using test::MessageBoxText;
using test::PressKey;
using test::TypeText;
using test::WindowText;

constexpr char16_t kUser[] = u"tester";

using test::ClientRectOf;

using test::ExpectCleanLayout;

void Shoot(HWND dlg, const std::wstring& name) {
    RedrawWindow(dlg, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(dlg, &r);
    test::SaveBmp(test::Grab(r), test::ScreenshotDir() + L"\\" + name + test::ShotSuffix() + L".bmp");
}

class SettingsDialogsOnScreen : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::wstring folder;
    std::unique_ptr<settings::SettingsStore> store;
    settings::ProgramState state;
    win32::UniqueWindow owner;
    std::unique_ptr<Win32ModalDialogs> dialogs;
    test::FakeAccountRows accountRows;
    test::FakeEntryRows entryRows;

    void SetUp() override {
        folder = test::NewTempFolder(L"iw-dialogs-");
        ASSERT_FALSE(folder.empty());
        const std::u16string app(folder.begin(), folder.end());
        store = std::make_unique<settings::SettingsStore>(p.files, p.codePage, app);
        state.identity.AppPath = app;
        state.identity.UserSection = kUser;
        owner.reset(CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 700, 500, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(owner);
        dialogs = std::make_unique<Win32ModalDialogs>(
            ModalDialogDeps{p.loop, *store, p.codePage, p.registry, state, &p}, owner.get());
    }
    void TearDown() override {
        dialogs.reset();
        owner.reset();
        DeleteFileW((folder + L"set.ini").c_str());
        DeleteFileW((folder + L"ie.ini").c_str());
        RemoveDirectoryW(folder.c_str());
    }

    std::u16string value(IniFile f, const std::u16string& section, const std::u16string& key) {
        return store->read(f, section, key, u"<missing>");
    }
    // Runs `open` (which returns when its dialog closes) with the script's
    // steps running meanwhile.
    void drive(const std::function<void()>& open, std::vector<DialogScript::Step> steps, int timeoutMs = 20000) {
        DialogScript script(p.loop, std::move(steps), timeoutMs);
        open();
        EXPECT_TRUE(script.finished()) << "stuck at step " << script.at();
        EXPECT_FALSE(script.timedOut());
    }
    // Steps shared by the tests.
    static DialogScript::Step waitFor(const std::wstring& caption, HWND& into) {
        return [caption, &into] {
            into = FindDialog(caption);
            return into != nullptr && GetForegroundWindow() != nullptr;
        };
    }
    static DialogScript::Step type(const std::wstring& text) {
        return [text] {
            TypeText(text);
            return true;
        };
    }
    static DialogScript::Step key(UINT vk) {
        return [vk] {
            PressKey(vk);
            return true;
        };
    }
    static DialogScript::Step check(std::function<void()> f) {
        return [f] {
            f();
            return true;
        };
    }
    // Reads the message box that shows up, then presses its OK button.
    static DialogScript::Step answerBox(std::wstring& text) {
        return [&text] {
            HWND box = FindMessageBox();
            if (!box) return false;
            text = MessageBoxText(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        };
    }
    static DialogScript::Step noBox() {
        return [] { return FindMessageBox() == nullptr; };
    }
};

TEST_F(SettingsDialogsOnScreen, AccountDialogTypedWithTabsAndEnter) {
    WriteSetting(*store, IniFile::Set, settings::RosterSection(kUser), u"first@x.tw", u"0");
    HWND dlg = nullptr;
    std::wstring address;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg),
           check([&] {
               EXPECT_FALSE(IsWindowEnabled(owner.get()));  // modal over its owner
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountUser));
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdAccountPassword), EM_GETPASSWORDCHAR, 0, 0), L'*');
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountHint)), L"例如: pop.example.com");
               ExpectCleanLayout(dlg);
           }),
           type(L"me"), key(VK_TAB), type(L"Pa ss!"), key(VK_TAB), type(L"pop.example.tw"),
           check([&] {
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountHost));
               address = WindowText(GetDlgItem(dlg, kIdAccountAddress));
           }),
           key(VK_TAB), key(VK_TAB),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountSecurity)); }),
           key(VK_DOWN),  // 無 -> SSL/TLS
           check([&] {
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdAccountSecurity), CB_GETCURSEL, 0, 0), 1);
               Shoot(dlg, L"account_dialog");
           }),
           key(VK_RETURN)});
    EXPECT_EQ(address, L"me@pop.example.tw");
    EXPECT_TRUE(IsWindowEnabled(owner.get()));
    EXPECT_EQ(FindDialog(L"建立信箱帳號"), nullptr);
    ASSERT_EQ(accountRows.rows.size(), 1u);
    EXPECT_EQ(accountRows.rows[0].user, u"me");
    EXPECT_EQ(accountRows.rows[0].address, u"me@pop.example.tw");
    EXPECT_EQ(settings::ReadRoster(*store, kUser), (std::vector<std::u16string>{u"first@x.tw", u"me@pop.example.tw"}));
    const settings::MailAccount a = settings::ReadMailAccount(*store, u"me@pop.example.tw");
    EXPECT_EQ(a.User, u"me");
    EXPECT_EQ(settings::UnscramblePassword(p.codePage, a.Password), u"Pa ss!");
    EXPECT_EQ(a.Pop3Host, u"pop.example.tw");
    EXPECT_EQ(value(IniFile::Set, u"me@pop.example.tw", u"Security"), u"1");
}

TEST_F(SettingsDialogsOnScreen, AccountDialogNamesTheEmptyFieldAndEscWritesNothing) {
    HWND dlg = nullptr;
    std::wstring first, second;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg), type(L"me"), key(VK_RETURN), answerBox(first), noBox(),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountHost)); }),
           type(L"pop.x.tw"), key(VK_RETURN), answerBox(second), noBox(),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountPassword)); }),
           key(VK_ESCAPE)});
    EXPECT_EQ(first, L"郵件伺服主機(POP3):不能空白");
    EXPECT_EQ(second, L"信箱密碼:不能空白");
    EXPECT_TRUE(accountRows.rows.empty());
    EXPECT_FALSE(store->find(IniFile::Set, settings::RosterSection(kUser), u"me@pop.x.tw").has_value());
    EXPECT_EQ(GetFileAttributesW((folder + L"set.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SettingsDialogsOnScreen, AccountDialogModifiesTheSelectedAccount) {
    const std::u16string roster = settings::RosterSection(kUser);
    WriteSetting(*store, IniFile::Set, roster, u"old@x.tw", u"0");
    WriteSetting(*store, IniFile::Set, u"old@x.tw", u"Account", u"me");
    WriteSetting(*store, IniFile::Set, u"old@x.tw", u"PassWord", settings::ScramblePassword(p.codePage, u"s3cret"));
    WriteSetting(*store, IniFile::Set, u"old@x.tw", u"PoP3", u"pop.old.tw");
    WriteSetting(*store, IniFile::Set, u"old@x.tw", u"Security", u"2");
    accountRows.rows = {{u"me", u"old@x.tw"}};
    accountRows.selected = 0;
    state.dialog.EditMode = true;
    HWND dlg = nullptr;
    drive([&] { dialogs->openAccount(accountRows, u"old@x.tw"); },
          {waitFor(L"建立信箱帳號", dlg),
           check([&] {
               EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, kIdAccountUser)));
               // The first box that takes the focus is the password.
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountPassword));
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountUser)), L"me");
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountPassword)), L"s3cret");
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountHost)), L"pop.old.tw");
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountAddress)), L"old@x.tw");
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdAccountSecurity), CB_GETCURSEL, 0, 0), 2);
               Shoot(dlg, L"account_dialog_modify");
           }),
           key(VK_TAB),  // to the host; the dialog manager selects its text
           type(L"pop.new.tw"),
           check([&] { EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountAddress)), L"me@pop.new.tw"); }),
           key(VK_RETURN)});
    EXPECT_FALSE(state.dialog.EditMode);
    EXPECT_EQ(accountRows.rows, (std::vector<test::AccountRow>{{u"me", u"me@pop.new.tw"}}));
    EXPECT_EQ(settings::ReadRoster(*store, kUser), (std::vector<std::u16string>{u"me@pop.new.tw"}));
    EXPECT_TRUE(store->listKeys(IniFile::Set, u"old@x.tw").empty());
    const settings::MailAccount a = settings::ReadMailAccount(*store, u"me@pop.new.tw");
    EXPECT_EQ(settings::UnscramblePassword(p.codePage, a.Password), u"s3cret");
    EXPECT_EQ(a.Pop3Host, u"pop.new.tw");
    EXPECT_EQ(value(IniFile::Set, u"me@pop.new.tw", u"Security"), u"2");
}

// A Gmail address typed as the user name fills the server and the
// encryption and shows Gmail's hint under the server box.
TEST_F(SettingsDialogsOnScreen, AccountDialogFillsAKnownProvider) {
    HWND dlg = nullptr;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg), type(L"me@gmail.com"), key(VK_TAB), type(L"app password"),
           check([&] {
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountHost)), L"pop.gmail.com");
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountAddress)), L"me@gmail.com");
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdAccountSecurity), CB_GETCURSEL, 0, 0), 1);
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountHint)).rfind(L"Gmail:", 0), 0u);
               EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, kIdAccountCertificate)));
               ExpectCleanLayout(dlg);
               Shoot(dlg, L"account_dialog_preset");
           }),
           key(VK_RETURN)});
    EXPECT_EQ(settings::ReadMailAccount(*store, u"me@gmail.com").Pop3Host, u"pop.gmail.com");
    EXPECT_EQ(value(IniFile::Set, u"me@gmail.com", u"Security"), u"1");
}

// The certificate step against a real server whose certificate fails the
// checks (the TLS script's self-signed Dovecot listener, named by
// IW_TRUST_TEST_SERVER as host:port, with its login in IW_TRUST_TEST_LOGIN
// as user:password): the dialog stays live while it fetches, shows the
// certificate, trusts it, and the next check logs in.
TEST_F(SettingsDialogsOnScreen, AccountDialogTrustsAServersCertificate) {
    wchar_t server[128] = L"", login[128] = L"";
    if (!GetEnvironmentVariableW(L"IW_TRUST_TEST_SERVER", server, 128) ||
        !GetEnvironmentVariableW(L"IW_TRUST_TEST_LOGIN", login, 128))
        GTEST_SKIP() << "no IW_TRUST_TEST_SERVER (run by tests/scripts/dovecot_tls.sh)";
    const std::wstring user(login, wcschr(login, L':') ? wcschr(login, L':') : login + wcslen(login));
    const std::wstring password = wcschr(login, L':') ? std::wstring(wcschr(login, L':') + 1) : L"";
    HWND dlg = nullptr, cert = nullptr;
    std::wstring description, before, after;
    bool trustOffered = false;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg), type(user), key(VK_TAB), type(password), key(VK_TAB), type(server),
           key(VK_TAB), key(VK_TAB), key(VK_DOWN),  // SSL/TLS
           check([&] {
               before = WindowText(GetDlgItem(dlg, kIdAccountHint));
               ClickButton(GetDlgItem(dlg, kIdAccountCertificate));
           }),
           waitFor(L"伺服器憑證", cert),
           check([&] {
               description = WindowText(GetDlgItem(cert, kIdCertificateText));
               trustOffered = GetDlgItem(cert, IDOK) != nullptr;
               EXPECT_FALSE(IsWindowEnabled(dlg));  // modal over the account dialog
               ExpectCleanLayout(cert);
               RedrawWindow(cert, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
               RECT a, b;
               GetWindowRect(dlg, &a);
               GetWindowRect(cert, &b);
               UnionRect(&a, &a, &b);
               test::SaveBmp(test::Grab(a), test::ScreenshotDir() + L"\\account_trust_step" + test::ShotSuffix() + L".bmp");
               if (trustOffered) ClickButton(GetDlgItem(cert, IDOK));
               else ClickButton(GetDlgItem(cert, IDCANCEL));
           }),
           [&] { return FindDialog(L"伺服器憑證") == nullptr && IsWindowEnabled(dlg); },
           check([&] {
               after = WindowText(GetDlgItem(dlg, kIdAccountHint));
               Shoot(dlg, L"account_trusted");
               ClickButton(GetDlgItem(dlg, IDOK));
           })});
    EXPECT_TRUE(trustOffered);
    EXPECT_NE(description.find(L"SHA-256: "), std::wstring::npos) << std::string(description.begin(), description.end());
    EXPECT_NE(description.find(L"伺服器憑證不受信任"), std::wstring::npos);
    EXPECT_EQ(before, L"例如: pop.example.com");
    EXPECT_EQ(after, L"已信任此憑證,按「確定」儲存帳號後生效");
    // The fingerprint shown is the one stored.
    ASSERT_EQ(accountRows.rows.size(), 1u);
    const std::u16string address = accountRows.rows[0].address;
    const std::u16string pin = value(IniFile::Set, address, u"CertSha256");
    ASSERT_EQ(pin.size(), 64u);
    EXPECT_NE(description.find(std::wstring(pin.begin(), pin.end())), std::wstring::npos);

    // The next check logs in over TLS with that certificate.
    state.prefs.options = settings::Options::FromStored(settings::kDefaultOptionText);
    const app::CheckReport report = app::RunCheckReport(p, *store, state);
    EXPECT_EQ(report.count, 3) << std::string(report.status.begin(), report.status.end());
}

// A choice of a drop-down list, as the user's pick would report it.
void Choose(HWND dlg, int id, int position) {
    HWND combo = GetDlgItem(dlg, id);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

// Each login way on screen: an Outlook address picks the Microsoft account;
// the password box is usable only for the password, the OAuth2 boxes only
// for an OAuth2 way; the layout stays tidy with every way.
TEST_F(SettingsDialogsOnScreen, AccountDialogShowsEachLoginWay) {
    HWND dlg = nullptr;
    const wchar_t* names[] = {L"account_login_password", L"account_login_microsoft", L"account_login_google",
                              L"account_login_custom"};
    std::vector<DialogScript::Step> steps = {
        waitFor(L"建立信箱帳號", dlg), type(L"me@outlook.com"),
        check([&] {
            EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdAccountLogin), CB_GETCURSEL, 0, 0), 1);
            EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountLogin)), L"Microsoft 帳號");
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, kIdAccountPassword)));
            EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountHost)), L"outlook.office365.com");
        })};
    for (int way : {0, 1, 2, 3}) {
        steps.push_back(check([&dlg, way] { Choose(dlg, kIdAccountLogin, way); }));
        steps.push_back([&dlg, way] {
            // The pick has reached the presenter once the password box follows it.
            return IsWindowEnabled(GetDlgItem(dlg, kIdAccountPassword)) == (way == 0);
        });
        steps.push_back(check([&dlg, way, &names] {
            SCOPED_TRACE(way);
            for (int id : {kIdAccountAuthorizeUrl, kIdAccountTokenUrl, kIdAccountScope, kIdAccountClientId})
                EXPECT_EQ(IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE, way != 0);
            // No client ID of the account's own: its secret box waits for one.
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, kIdAccountClientSecret)));
            EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountSignIn)), L"登入...");
            ExpectCleanLayout(dlg);
            Shoot(dlg, names[way]);
        }));
    }
    steps.push_back(key(VK_ESCAPE));
    drive([&] { dialogs->openAccount(accountRows, u""); }, std::move(steps));
    EXPECT_TRUE(accountRows.rows.empty());
}

// The client secret's box under the client ID: masked, filled from set.ini,
// next in tab order after the client ID and before 確定; another client ID
// typed in empties it, and the secret typed for that ID is saved with it.
TEST_F(SettingsDialogsOnScreen, AccountDialogKeepsTheClientSecretMaskedWithItsClientId) {
    const std::u16string address = u"me@gmail.com";
    WriteSetting(*store, IniFile::Set, settings::RosterSection(kUser), address, u"0");
    for (auto [key, v] : {std::pair{u"Account", u"me@gmail.com"}, {u"PoP3", u"pop.gmail.com"}, {u"Security", u"1"},
                          {u"Auth", u"1"}, {u"OAuthProvider", u"google"}, {u"OAuthClientId", u"own-id"},
                          {u"OAuthClientSecret", u"own-secret"}})
        WriteSetting(*store, IniFile::Set, address, key, v);
    accountRows.rows = {{u"me@gmail.com", address}};
    accountRows.selected = 0;
    state.dialog.EditMode = true;
    HWND dlg = nullptr;
    std::wstring notSignedIn, secretAfterNewId = L"<unread>";
    auto focusOn = [&dlg](int id) {
        return check([&dlg, id] {
            SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, id)), TRUE);
        });
    };
    drive([&] { dialogs->openAccount(accountRows, address); },
          {waitFor(L"建立信箱帳號", dlg),
           check([&] {
               HWND secret = GetDlgItem(dlg, kIdAccountClientSecret);
               EXPECT_EQ(SendMessageW(secret, EM_GETPASSWORDCHAR, 0, 0), L'*');
               EXPECT_EQ(WindowText(secret), L"own-secret");
               EXPECT_TRUE(IsWindowEnabled(secret));
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdAccountLabelClientSecret)), L"用戶端密碼(選填):");
               ExpectCleanLayout(dlg);
               Shoot(dlg, L"account_client_secret");
           }),
           focusOn(kIdAccountClientId), key(VK_TAB),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountClientSecret)); }), key(VK_TAB),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, IDOK)); }),
           // Another client ID over the selected one: the box empties.
           focusOn(kIdAccountClientId), type(L"other-id"),
           check([&] { secretAfterNewId = WindowText(GetDlgItem(dlg, kIdAccountClientSecret)); }), key(VK_TAB),
           type(L"other-secret"), key(VK_RETURN), answerBox(notSignedIn), noBox(),
           check([&] { ClickButton(GetDlgItem(dlg, IDOK)); })});
    EXPECT_EQ(secretAfterNewId, L"");
    EXPECT_NE(notSignedIn.find(L"尚未登入"), std::wstring::npos) << notSignedIn;
    const settings::MailAccount a = settings::ReadMailAccount(*store, address);
    EXPECT_EQ(a.OAuthClientId, u"other-id");
    EXPECT_EQ(a.OAuthClientSecret, u"other-secret");
}

// The stand-in browser: one HTTP GET, with the redirect's target when the
// answer is one. "localhost" is the program's listener on 127.0.0.1.
std::string HttpGet(const std::string& url, std::string* location) {
    const std::string scheme = "http://";
    if (url.rfind(scheme, 0) != 0) return {};
    const std::size_t pathAt = url.find('/', scheme.size());
    const std::string hostPort = url.substr(scheme.size(), pathAt - scheme.size());
    const std::string path = pathAt == std::string::npos ? "/" : url.substr(pathAt);
    const std::size_t colon = hostPort.rfind(':');
    std::string host = hostPort.substr(0, colon);
    const std::string port = colon == std::string::npos ? "80" : hostPort.substr(colon + 1);
    if (host == "localhost") host = "127.0.0.1";
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return {};
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    std::string reply;
    if (s != INVALID_SOCKET && connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + hostPort +
                                    "\r\nUser-Agent: stand-in\r\nConnection: close\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buf[4096];
        for (int n; (n = recv(s, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<std::size_t>(n));
    }
    if (s != INVALID_SOCKET) closesocket(s);
    freeaddrinfo(found);
    if (location) {
        const std::size_t at = reply.find("\r\nLocation: ");
        if (at != std::string::npos) {
            const std::size_t from = at + std::strlen("\r\nLocation: ");
            *location = reply.substr(from, reply.find("\r\n", from) - from);
        }
    }
    return reply;
}

// A newcomer's OAuth2 account against the local test bed (the fake
// authorization server at IW_OAUTH_TEST_AUTH, "http://127.0.0.1:port", and a
// POP3 server over TLS at IW_OAUTH_TEST_POP3 that takes its tokens, for user
// IW_OAUTH_TEST_USER; started by tests/scripts/oauth_dialog.sh): typed and
// chosen in the dialog, signed in through a stand-in browser, tried, saved,
// and the next check counts the mailbox.
// The newcomer's path for each OAuth2 way: the way chosen in the dialog, the
// provider's addresses pointed at the local test bed through the boxes, the
// sign-in through a stand-in browser, the save, and the tray's count.
struct OAuthWayCase {
    const char* name;
    int downs;             // arrow presses from 密碼 in the login way's list
    const char16_t* provider;
    const wchar_t* picture;
};

class OAuthDialogOnScreen : public SettingsDialogsOnScreen, public ::testing::WithParamInterface<OAuthWayCase> {};

INSTANTIATE_TEST_SUITE_P(Ways, OAuthDialogOnScreen,
                         ::testing::Values(OAuthWayCase{"Microsoft", 1, u"microsoft", L"account_signed_in_microsoft"},
                                           OAuthWayCase{"Other", 3, u"custom", L"account_signed_in"}),
                         [](const ::testing::TestParamInfo<OAuthWayCase>& info) { return std::string(info.param.name); });

TEST_P(OAuthDialogOnScreen, AccountDialogSignsInWithOAuthAndTheCheckCounts) {
    const OAuthWayCase& way = GetParam();
    wchar_t authBase[128] = L"", pop3[128] = L"", user[64] = L"", secret[64] = L"";
    if (!GetEnvironmentVariableW(L"IW_OAUTH_TEST_AUTH", authBase, 128) ||
        !GetEnvironmentVariableW(L"IW_OAUTH_TEST_POP3", pop3, 128) ||
        !GetEnvironmentVariableW(L"IW_OAUTH_TEST_USER", user, 64))
        GTEST_SKIP() << "no IW_OAUTH_TEST_AUTH (run by tests/scripts/oauth_dialog.sh)";
    // The client secret the token endpoint wants, when it wants one.
    GetEnvironmentVariableW(L"IW_OAUTH_TEST_SECRET", secret, 64);
    const std::wstring base(authBase);
    std::thread browser;
    std::string opened, answer;
    dialogs->setOpenAddress([&](const std::u16string& address) {
        opened.assign(address.begin(), address.end());  // the authorize address is ASCII
        if (browser.joinable()) return false;
        browser = std::thread([url = opened, &answer] {
            std::string redirect;
            HttpGet(url, &redirect);
            if (!redirect.empty()) answer = HttpGet(redirect, nullptr);
        });
        return true;
    });
    HWND dlg = nullptr;
    std::wstring during, status;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg), type(user), key(VK_TAB), type(L"unused"), key(VK_TAB), type(pop3),
           key(VK_TAB), key(VK_TAB), key(VK_DOWN),  // SSL/TLS
           key(VK_TAB), key(VK_TAB),                // past 檢視憑證 to the login way
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountLogin)); }),
           check([&] {
               for (int n = 0; n < way.downs; ++n) PressKey(VK_DOWN);
           }),
           [&] { return !IsWindowEnabled(GetDlgItem(dlg, kIdAccountPassword)); },
           key(VK_TAB), key(VK_TAB), type(base + L"/authorize"), key(VK_TAB), type(base + L"/token"), key(VK_TAB),
           type(L"mail offline_access"), key(VK_TAB), type(L"inkwarden-test"),
           check([&] { EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountClientId)); }), key(VK_TAB), type(secret),
           check([&] {
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdAccountClientSecret));
               ClickButton(GetDlgItem(dlg, kIdAccountSignIn));
           }),
           [&] {
               if (WindowText(GetDlgItem(dlg, kIdAccountSignIn)) != L"取消登入") return false;
               during = WindowText(GetDlgItem(dlg, kIdAccountSignInStatus));
               return true;
           },
           [&] { return WindowText(GetDlgItem(dlg, kIdAccountSignIn)) == L"登入..."; },
           check([&] {
               status = WindowText(GetDlgItem(dlg, kIdAccountSignInStatus));
               ExpectCleanLayout(dlg);
               Shoot(dlg, way.picture);
               ClickButton(GetDlgItem(dlg, IDOK));
           }),
           noBox()},
          120000);
    if (browser.joinable()) browser.join();
    EXPECT_EQ(opened.rfind(std::string(base.begin(), base.end()) + "/authorize?", 0), 0u) << opened;
    EXPECT_NE(opened.find("code_challenge_method=S256"), std::string::npos);
    EXPECT_NE(answer.find("200"), std::string::npos) << answer.substr(0, 200);
    EXPECT_FALSE(during.empty());
    EXPECT_EQ(status, L"登入成功,信箱有 3 封郵件");
    ASSERT_EQ(accountRows.rows.size(), 1u);
    const std::u16string address = accountRows.rows[0].address;
    const settings::MailAccount a = settings::ReadMailAccount(*store, address);
    EXPECT_EQ(a.Auth, u"1");
    EXPECT_EQ(a.OAuthProvider, way.provider);
    EXPECT_EQ(a.OAuthClientId, u"inkwarden-test");
    EXPECT_EQ(a.OAuthClientSecret, std::u16string(secret, secret + std::wcslen(secret)));
    EXPECT_EQ(a.Password, u"");
    EXPECT_EQ(a.Security, u"1");

    // The tray's check logs in with the stored token and counts the mailbox.
    state.prefs.options = settings::Options::FromStored(settings::kDefaultOptionText);
    const app::CheckReport report = app::RunCheckReport(p, *store, state);
    EXPECT_EQ(report.count, 3) << std::string(report.status.begin(), report.status.end());
}

TEST_F(SettingsDialogsOnScreen, EntryDialogInItsThreeModes) {
    // Mode 3: the start text is selected, so typing replaces it; a host
    // alone is refused, scheme and host get the site root's "/".
    state.dialog.ListMode = 3;
    HWND dlg = nullptr;
    std::wstring refusal;
    drive([&] { dialogs->openEntry(3, std::nullopt, entryRows); },
          {waitFor(L"設定網站網址", dlg),
           check([&] {
               HWND edit = GetDlgItem(dlg, kIdEntryText);
               EXPECT_EQ(WindowText(edit), L"http://");
               DWORD from = 0, to = 0;
               SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
               EXPECT_EQ(from, 0u);
               EXPECT_EQ(to, 7u);
               EXPECT_EQ(GetFocus(), edit);
               ExpectCleanLayout(dlg);
               Shoot(dlg, L"entry_dialog_web");
           }),
           type(L"www.ads.tw"), key(VK_RETURN), answerBox(refusal), noBox(),
           check([&] { SendMessageW(GetDlgItem(dlg, kIdEntryText), EM_SETSEL, 0, -1); }),
           type(L"http://www.ads.tw"), key(VK_RETURN)});
    EXPECT_EQ(refusal, L"網址不正確");
    EXPECT_EQ(value(IniFile::Ie, u"IeUrl", u"http://www.ads.tw/"), u"0");
    EXPECT_EQ(entryRows.rows, (std::vector<std::u16string>{u"http://www.ads.tw/"}));

    // Mode 1: typed and clicked.
    entryRows.rows.clear();
    drive([&] { dialogs->openEntry(1, std::nullopt, entryRows); },
          {waitFor(L"設定黑名單", dlg), type(L"spam@ads.tw"),
           check([&] {
               Shoot(dlg, L"entry_dialog_black");
               ClickButton(GetDlgItem(dlg, IDOK));
           })});
    EXPECT_EQ(value(IniFile::Set, settings::BlackListSection(kUser), u"spam@ads.tw"), u"0");
    EXPECT_EQ(entryRows.rows, (std::vector<std::u16string>{u"spam@ads.tw"}));

    // Mode 2, modify: the row's text is shown; 取消 changes nothing.
    WriteSetting(*store, IniFile::Set, settings::TrustListSection(kUser), u"friend@x.tw", u"0");
    entryRows.rows = {u"friend@x.tw"};
    entryRows.selected = 0;
    state.dialog.EditMode = true;
    std::wstring shown;
    drive([&] { dialogs->openEntry(2, u"friend@x.tw", entryRows); },
          {waitFor(L"設定信任名單", dlg), check([&] { shown = WindowText(GetDlgItem(dlg, kIdEntryText)); }),
           type(L"x"), check([&] { ClickButton(GetDlgItem(dlg, IDCANCEL)); })});
    EXPECT_EQ(shown, L"friend@x.tw");
    EXPECT_FALSE(state.dialog.EditMode);
    EXPECT_EQ(store->listKeys(IniFile::Set, settings::TrustListSection(kUser)),
              (std::vector<std::u16string>{u"friend@x.tw"}));
    EXPECT_EQ(entryRows.rows, (std::vector<std::u16string>{u"friend@x.tw"}));
}

TEST_F(SettingsDialogsOnScreen, PasswordChangeDialogStoresTheTrimmedPassword) {
    using platform::RegistryRoot;
    auto clear = [&] {
        p.registry.deleteValue(RegistryRoot::LocalMachine, settings::kProgramKey, u"PassWord");
        p.registry.deleteValue(RegistryRoot::CurrentUser, settings::kProgramKey, u"PassWord");
    };
    clear();
    settings::RegistryValues values(p.registry);
    HWND dlg = nullptr;
    std::wstring againAfterRefusal;
    DWORD selFrom = 1, selTo = 0;
    drive([&] { dialogs->openLoginPass(); },
          {waitFor(L"密碼變更", dlg),
           check([&] {
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdLoginOld));
               for (int id : {kIdLoginOld, kIdLoginNew, kIdLoginAgain})
                   EXPECT_EQ(SendMessageW(GetDlgItem(dlg, id), EM_GETPASSWORDCHAR, 0, 0), L'*') << id;
               LOGFONTW lf{};
               GetObjectW(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(dlg, kIdLoginOld), WM_GETFONT, 0, 0)),
                          sizeof lf, &lf);
               EXPECT_EQ(std::wstring(lf.lfFaceName), L"新細明體");
               ExpectCleanLayout(dlg);
           }),
           // No password yet: the old box stays empty.
           key(VK_TAB), type(L" pw 1 "), key(VK_TAB), type(L"pw 1 "),
           check([&] { Shoot(dlg, L"loginpass"); }), key(VK_RETURN),
           check([&] {
               HWND again = GetDlgItem(dlg, kIdLoginAgain);
               againAfterRefusal = WindowText(again);
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdLoginNew));
               SendMessageW(GetDlgItem(dlg, kIdLoginNew), EM_GETSEL, reinterpret_cast<WPARAM>(&selFrom),
                            reinterpret_cast<LPARAM>(&selTo));
           }),
           // Retyped over the selection, confirmed the same, with spaces.
           type(L" pw 1 "), key(VK_TAB), type(L" pw 1 "), key(VK_RETURN)});
    EXPECT_EQ(againAfterRefusal, L"");
    EXPECT_EQ(selFrom, 0u);
    EXPECT_EQ(selTo, 6u);
    EXPECT_EQ(state.dialog.SettingsPassword, u"pw 1");
    EXPECT_EQ(values.ReadRegString(u"PassWord"), u"pw 1");
    clear();
}

TEST_F(SettingsDialogsOnScreen, InputBoxReturnsTheTextOrNothing) {
    HWND dlg = nullptr;
    std::optional<std::u16string> answer;
    drive([&] { answer = dialogs->askText(u"請輸入管制密碼", u"網址過濾", true); },
          {waitFor(L"網址過濾", dlg),
           check([&] {
               EXPECT_EQ(WindowText(GetDlgItem(dlg, kIdInputPrompt)), L"請輸入管制密碼");
               EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kIdInputText));
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdInputText), EM_GETPASSWORDCHAR, 0, 0), L'*');
               ExpectCleanLayout(dlg);
           }),
           type(L"Secret 1"), check([&] { Shoot(dlg, L"input_box"); }), key(VK_RETURN)});
    EXPECT_EQ(answer, u"Secret 1");

    drive([&] { answer = dialogs->askText(u"請輸入管制密碼", u"網址過濾", true); },
          {waitFor(L"網址過濾", dlg), type(L"typed"), key(VK_ESCAPE)});
    EXPECT_FALSE(answer.has_value());

    // The close box is a cancel too; an empty answer is an answer.
    drive([&] { answer = dialogs->askText(u"名稱", u"輸入", false); },
          {waitFor(L"輸入", dlg), check([&] {
               EXPECT_EQ(SendMessageW(GetDlgItem(dlg, kIdInputText), EM_GETPASSWORDCHAR, 0, 0), 0);
               PostMessageW(dlg, WM_CLOSE, 0, 0);
           })});
    EXPECT_FALSE(answer.has_value());
    drive([&] { answer = dialogs->askText(u"名稱", u"輸入", false); }, {waitFor(L"輸入", dlg), key(VK_RETURN)});
    EXPECT_EQ(answer, u"");
}

TEST_F(SettingsDialogsOnScreen, DialogsLayThemselvesOutAgainAtAnotherDpi) {
    HWND dlg = nullptr;
    LONG labelBefore = 0, labelAfter = 0;
    drive([&] { dialogs->openAccount(accountRows, u""); },
          {waitFor(L"建立信箱帳號", dlg), check([&] {
               HWND label = GetDlgItem(dlg, kIdAccountLabelHost);
               RECT r = ClientRectOf(dlg, label);
               labelBefore = r.right - r.left;
               const UINT now = GetDpiForWindow(dlg) ? GetDpiForWindow(dlg) : 96;
               const UINT to = now == 96 ? 144 : 96;
               RECT wr;
               GetWindowRect(dlg, &wr);
               RECT suggested{wr.left, wr.top, wr.left + MulDiv(wr.right - wr.left, to, now),
                              wr.top + MulDiv(wr.bottom - wr.top, to, now)};
               SendMessageW(dlg, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
               r = ClientRectOf(dlg, label);
               labelAfter = r.right - r.left;
               EXPECT_GT(to == 144 ? labelAfter : labelBefore, (to == 144 ? labelBefore : labelAfter) * 5 / 4);
               ExpectCleanLayout(dlg);
               Shoot(dlg, L"account_dialog_dpi" + std::to_wstring(to));
           }),
           key(VK_ESCAPE)});
    EXPECT_GT(labelBefore, 0);
}

TEST_F(SettingsDialogsOnScreen, OwnerGoingAwayEndsTheDialogAsACancel) {
    state.dialog.EditMode = true;
    WriteSetting(*store, IniFile::Set, settings::RosterSection(kUser), u"me@x.tw", u"0");
    accountRows.rows = {{u"me", u"me@x.tw"}};
    accountRows.selected = 0;
    HWND dlg = nullptr;
    drive([&] { dialogs->openAccount(accountRows, u"me@x.tw"); },
          {waitFor(L"建立信箱帳號", dlg), type(L"x"), check([&] { cancelOpenModalDialogs(); })});
    EXPECT_EQ(FindDialog(L"建立信箱帳號"), nullptr);
    EXPECT_FALSE(state.dialog.EditMode);
    EXPECT_EQ(settings::ReadRoster(*store, kUser), (std::vector<std::u16string>{u"me@x.tw"}));
    EXPECT_TRUE(IsWindowEnabled(owner.get()));
}

}  // namespace
}  // namespace iw::win32app
