// The main window's presenter; see master.h.
#include "app/master.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>

#include "app/account_probe.h"
#include "app/services.h"
#include "app/clock_correction.h"
#include "app/tray_texts.h"
#include "platform/waits.h"
#include "platform/tls_socket.h"
#include "pop3/address.h"
#include "pop3/login.h"
#include "pop3/mailbox.h"
#include "pop3/sasl_mechanisms.h"
#include "pop3/server_memory.h"
#include "settings/accounts.h"

namespace iw::app {

using platform::Milliseconds;
using settings::IniFile;

namespace {

constexpr int kIntervalMinutes[] = {3, 5, 10, 15, 30, 60, 90, 120, 240, 480};
constexpr int kThresholds[] = {1, 3, 5, 10, 20, 30};

template <std::size_t N>
int pick(const int (&list)[N], std::int32_t position) {
    // A hand-edited value outside the list takes the first entry.
    return (position >= 0 && static_cast<std::size_t>(position) < N) ? list[position] : list[0];
}

MenuItem entry(MenuCommand c, const char16_t* caption, bool enabled = true, bool checkable = false) {
    MenuItem m;
    m.command = c;
    m.caption = caption;
    m.enabled = enabled;
    m.checkable = checkable;
    return m;
}

MenuItem separator() { return MenuItem{}; }

std::vector<MenuItem> buildMenu() {
    std::vector<MenuItem> menu;
    MenuItem border = entry(MenuCommand::Border, u"");
    border.ownerDrawn = true;
    menu.push_back(border);
    MenuItem mail = entry(MenuCommand::Mail, u"偏好設定");
    mail.isDefault = true;
    mail.columnBreak = true;
    menu.push_back(mail);
    menu.push_back(entry(MenuCommand::Preview, u"郵件預覽...", false));
    menu.push_back(entry(MenuCommand::Imm, u"立即檢查郵件", false));
    menu.push_back(entry(MenuCommand::Pause, u"暫停檢查郵件", false, true));
    menu.push_back(separator());
    MenuItem set = entry(MenuCommand::Set, u"視窗管理");
    set.submenu.push_back(entry(MenuCommand::Close, u"關閉 IE 視窗"));
    set.submenu.push_back(entry(MenuCommand::Small, u"最小化視窗"));
    set.submenu.push_back(entry(MenuCommand::Pop, u"攔截廣告視窗", true, true));
    set.submenu.push_back(entry(MenuCommand::Max, u"最大化IE 視窗", true, true));
    set.submenu.push_back(entry(MenuCommand::Ie, u"整合至 IE 視窗", true, true));
    menu.push_back(set);
    menu.push_back(separator());
    menu.push_back(entry(MenuCommand::About, u"關於...."));
    menu.push_back(entry(MenuCommand::Exit, u"結束"));
    return menu;
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers used by the check and the CLI.

void ReadMasterPreferences(settings::SettingsStore& store, settings::ProgramState& s) {
    const std::u16string& user = s.identity.UserSection;
    s.prefs.CheckIntervalMinutes = pick(kIntervalMinutes, store.readNumber(IniFile::Set, user, u"Check", 0));
    s.prefs.OpenThreshold = pick(kThresholds, store.readNumber(IniFile::Set, user, u"Value", 0));
    s.prefs.PopupRatio = store.readNumber(IniFile::Set, user, u"AD-PoP", 75) / 100.0;
}

// ---------------------------------------------------------------------------
// The background dialogue of one account on Winsock1.

// The tags of the check's own commands; the login step tags its own.
enum CheckTag : int { kCheckStat = 1, kCheckQuit };

struct MasterPresenter::BackgroundCheck {
    // Made at the first check; every account's dialogue reconnects it.
    std::unique_ptr<pop3::Connection> conn;
    // The login step of the account in hand.
    std::unique_ptr<pop3::Login> login;
    std::string serverKey;  // the account in the program's memory of servers
    bool CheckDone = false;
    bool SendDone = false;
    std::u16string user;
    std::u16string password;  // stored (scrambled) form
    // The kind of socket the next connect makes: plain, or TLS checked
    // against this account's host name and pin.
    platform::MailSecurity security = platform::MailSecurity::Plain;
    std::string host;
    std::string pin;
    // An OAuth2 account's mechanisms (empty for a password account), and
    // whether the server refused the token itself.
    std::vector<std::shared_ptr<pop3::ExchangeMechanism>> mechanisms;
    bool tokenRefused = false;
};

MasterPresenter::MasterPresenter(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                                 MasterView& view, FilterWindowOpener* opener, MasterHooks hooks,
                                 MasterConfig config)
    : p_(platform),
      store_(store),
      s_(state),
      view_(view),
      opener_(opener),
      hooks_(std::move(hooks)),
      config_(std::move(config)),
      menu_(buildMenu()),
      check_(std::make_unique<BackgroundCheck>()) {}

MasterPresenter::~MasterPresenter() {
    if (timer1_) p_.loop.stopTimer(timer1_);
    if (timer2_) p_.loop.stopTimer(timer2_);
    check_->conn.reset();
    clock_.reset();
}

// ---------------------------------------------------------------------------
// Menu model.

MenuItem* MasterPresenter::item(MenuCommand command) {
    return const_cast<MenuItem*>(static_cast<const MasterPresenter*>(this)->findItem(command));
}

const MenuItem* MasterPresenter::findItem(MenuCommand command) const {
    for (const MenuItem& m : menu_) {
        if (m.command == command && command != MenuCommand::Separator) return &m;
        for (const MenuItem& sub : m.submenu)
            if (sub.command == command) return &sub;
    }
    return nullptr;
}

void MasterPresenter::setMenuEnabled(MenuCommand command, bool enabled) {
    MenuItem* m = item(command);
    if (!m || m->enabled == enabled) return;
    m->enabled = enabled;
    menuChanged();
}

void MasterPresenter::setChecked(MenuCommand command, bool checked) {
    if (MenuItem* m = item(command)) m->checked = checked;
}

void MasterPresenter::menuChanged() {
    if (loaded_) view_.updateMenu(menu_);
}

// ---------------------------------------------------------------------------
// Load and unload.

void MasterPresenter::load() {
    if (loaded_) return;
    loaded_ = true;
    tip_ = kIdleTip;
    picture_ = TrayPicture::Program;
    view_.addTrayIcon(picture_, FitTip(p_.codePage, tip_));

    ReadMasterPreferences(store_, s_);
    setChecked(MenuCommand::Max, store_.readNumber(IniFile::Set, s_.identity.UserSection, u"Max", 0) != 0);
    setChecked(MenuCommand::Pop, store_.readNumber(IniFile::Set, s_.identity.UserSection, u"Set", 0) != 0);
    setChecked(MenuCommand::Ie, store_.readNumber(IniFile::Set, u"ShowIE", u"Value", 0) != 0);
    paused_ = false;
    view_.updateMenu(menu_);

    timer1_ = p_.loop.startTimer(Milliseconds(1000), true, [this] { monitorTick(); });
}

void MasterPresenter::unload() {
    if (!loaded_) return;
    if (timer1_) p_.loop.stopTimer(timer1_);
    timer1_ = 0;
    disableTimer2();
    view_.removeTrayIcon();
    if (s_.run.BrowserWindowsHidden) {
        s_.run.BrowserWindowsHidden = false;
        showHideBrowserWindows();
    }
    loaded_ = false;
    stopping_ = true;  // ends any wait still running
    if (check_->conn) check_->conn->close();
    view_.unloadAllWindows();
}

// ---------------------------------------------------------------------------
// Tray icon and menu commands.

void MasterPresenter::TrayCallback(unsigned mouseMessage) {
    if (!loaded_) return;
    if (mouseMessage == kMouseLeftDown) {
        s_.run.BrowserWindowsHidden = !s_.run.BrowserWindowsHidden;
        showHideBrowserWindows();
    } else if (mouseMessage == kMouseRightUp) {
        view_.popUpMenu(menu_);
    }
}

void MasterPresenter::toggleStoredMark(MenuCommand command, const std::u16string& section, const std::u16string& key) {
    MenuItem* m = item(command);
    m->checked = !m->checked;
    store_.write(IniFile::Set, section, key, std::u16string(m->checked ? u"-1" : u"0"));
    menuChanged();
}

void MasterPresenter::menuCommand(MenuCommand command) {
    const MenuItem* m = findItem(command);
    if (!loaded_ || !m || !m->enabled) return;
    switch (command) {
    case MenuCommand::Mail: view_.showSettingsDialog(); break;
    case MenuCommand::Preview:
        if (opener_) opener_->showFilterWindow();
        break;
    case MenuCommand::Imm: enableTimer2(); break;
    case MenuCommand::Pause:
        item(command)->checked = !m->checked;
        paused_ = item(command)->checked;
        menuChanged();
        break;
    case MenuCommand::Close: closeBrowserWindows(); break;
    case MenuCommand::Small: view_.minimizeAllWindows(); break;
    case MenuCommand::Pop: toggleStoredMark(command, s_.identity.UserSection, u"Set"); break;
    case MenuCommand::Max: toggleStoredMark(command, s_.identity.UserSection, u"Max"); break;
    case MenuCommand::Ie: {
        MenuItem* ie = item(command);
        ie->checked = !ie->checked;
        if (hooks_.toolbarButtonSwitched) hooks_.toolbarButtonSwitched(ie->checked);
        store_.write(IniFile::Set, u"ShowIE", u"Value", std::u16string(ie->checked ? u"-1" : u"0"));
        menuChanged();
        break;
    }
    case MenuCommand::About: view_.showAbout(); break;
    case MenuCommand::Exit: unload(); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// Timers and the connection monitor.

void MasterPresenter::enableTimer2() {
    if (timer2_ || !loaded_) return;
    timer2_ = p_.loop.startTimer(Milliseconds(1000), true, [this] { checkTimerFired(); });
}

void MasterPresenter::disableTimer2() {
    if (timer2_) p_.loop.stopTimer(timer2_);
    timer2_ = 0;
}

void MasterPresenter::showTip(TrayPicture picture, const std::u16string& tip) {
    picture_ = picture;
    tip_ = FitTip(p_.codePage, tip);
    view_.modifyTrayIcon(picture_, tip_);
}

void MasterPresenter::monitorTick() {
    if (!loaded_) return;
    try {
        if (hooks_.browserWatcherTick) hooks_.browserWatcherTick();

        if (!s_.run.Online) {
            if (!p_.shell.isConnected()) return;
            p_.loop.pump(Milliseconds(0));
            if (!loaded_) return;
            for (MenuCommand c : {MenuCommand::Imm, MenuCommand::Preview, MenuCommand::Pause}) item(c)->enabled = true;
            menuChanged();
            s_.run.Online = true;
            onlineSeconds_ = 1;
            if (s_.prefs.options.clockCorrection) CorrectClock();
            enableTimer2();
            return;
        }

        if (!p_.shell.isConnected()) {
            showTip(TrayPicture::Program, kIdleTip);
            for (MenuCommand c : {MenuCommand::Imm, MenuCommand::Preview, MenuCommand::Pause}) item(c)->enabled = false;
            menuChanged();
            s_.run.Online = false;
            if (s_.run.BrowserWindowsHidden) {
                s_.run.BrowserWindowsHidden = false;
                showHideBrowserWindows();
            }
            return;
        }

        ++onlineSeconds_;
        const std::int64_t period = static_cast<std::int64_t>(s_.prefs.CheckIntervalMinutes) * 60;
        if (s_.prefs.options.periodicCheck && !paused_ && !s_.run.CheckBusy && period > 0 && onlineSeconds_ % period == 0) enableTimer2();

        const TrayPicture picture =
            paused_ ? TrayPicture::Paused : (s_.run.NewMailCount >= 1 ? TrayPicture::NewMail : TrayPicture::Connected);
        showTip(picture, ConnectedTip(onlineSeconds_, s_.run.StatusText, s_.run.NewMailCount, !paused_));
    } catch (...) {
        // A failure in one tick must not stop the timer or reach the loop.
    }
}

void MasterPresenter::checkTimerFired() {
    disableTimer2();
    // A check is never started inside another one (both would share Winsock1).
    if (checkRunning_ || stopping_) return;
    RunBackgroundCheck();
}

// ---------------------------------------------------------------------------
// The background check.

bool MasterPresenter::waitFor(const std::function<bool()>& done, std::int64_t seconds, bool strictlyMore) {
    // Unloading ends every wait at once.
    const platform::WaitOutcome r = platform::waitUntil(p_.loop, p_.clock, static_cast<double>(seconds),
                                    [&] { return stopping_ || done(); },
                                    strictlyMore ? platform::LimitRule::Exceeds : platform::LimitRule::AtLeast);
    return r == platform::WaitOutcome::ConditionMet && !stopping_;
}

void MasterPresenter::sendCheckLine(const std::string& line, int tag) {
    BackgroundCheck& c = *check_;
    c.SendDone = false;
    c.conn->send({line, pop3::Shape::Line, tag, 0});
    // WaitSendComplete: up to 10 whole seconds for the send-complete event,
    // which never comes once the connection has ended (a server that answers
    // QUIT and closes at once).
    waitFor([&c] { return c.SendDone || !c.conn || !c.conn->usable(); }, 10, true);
}

// One whole reply, matched by the connection to the command that asked for it.
void MasterPresenter::onCheckReply(const pop3::Reply& r) {
    BackgroundCheck& c = *check_;
    if (!c.conn) return;
    if (pop3::IsLoginTag(r.tag)) {
        if (!c.login) return;
        c.login->onReply(r);
        if (!c.login->done()) return;
        pop3::ServerMemory& memory = pop3::ServerMemory::program();
        const pop3::LoginOutcome outcome = c.login->outcome();
        pop3::ExchangeMechanism* used = nullptr;
        for (const auto& m : c.mechanisms)
            if (m->name() == c.login->mechanism()) used = m.get();
        if (used) used->finished(c.login->refusal());
        // A "+OK" after the server refused the token is no login.
        if (outcome == pop3::LoginOutcome::LoggedIn && used &&
            used->exchange().outcome() != auth::SaslOutcome::Succeeded) {
            c.CheckDone = true;
            s_.run.StatusText = c.user + u"伺服器回應錯誤..";
            return;
        }
        if (outcome == pop3::LoginOutcome::LoggedIn) {
            memory.rememberCapabilities(c.serverKey, c.login->capabilities(), c.login->greeting());
            memory.loggedIn(c.serverKey, pop3::SecondsNow(p_.clock));
            sendCheckLine("STAT", kCheckStat);
            return;
        }
        memory.forgetCapabilities(c.serverKey);
        c.CheckDone = true;
        // A response code says what the user can do; without one, the old texts.
        const std::u16string coded = pop3::ResponseCodeText(pop3::ParseResponseCode(c.login->refusal()));
        if (outcome == pop3::LoginOutcome::TlsFailed)
            s_.run.StatusText = c.user + platform::TlsStatusText(c.login->tlsFailure());
        else if (outcome == pop3::LoginOutcome::GreetingRefused)
            s_.run.StatusText = c.user + u"主機無法連線..";
        else if (outcome == pop3::LoginOutcome::NoMechanism)
            s_.run.StatusText = c.user + u"伺服器不提供OAuth2登入";
        else if (used && used->tokenRefused()) {
            c.tokenRefused = true;
            s_.run.StatusText = c.user + auth::SignInAgainText();
        }
        else if (!coded.empty())
            s_.run.StatusText = c.user + coded;
        else if (outcome == pop3::LoginOutcome::UserRefused)
            s_.run.StatusText = c.user + u"使用者錯誤..";
        else
            s_.run.StatusText = c.user + u"密碼錯誤..";
        return;
    }
    switch (r.tag) {
    case kCheckStat: {
        const pop3::StatReply stat = pop3::ParseStat(r.text);
        if (r.ok && stat.wellFormed) {
            const std::int64_t sum = static_cast<std::int64_t>(s_.run.NewMailCount) + stat.count;
            s_.run.NewMailCount = static_cast<std::int32_t>(std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
            s_.run.StatusText = u"";
        } else {
            // Not "+OK count size": nothing is added, and the user is told.
            s_.run.StatusText = c.user + u"郵件數目無法讀取..";
        }
        sendCheckLine("QUIT", kCheckQuit);
        c.CheckDone = true;
        break;
    }
    case kCheckQuit: c.conn->close(); break;
    default: break;
    }
}

void MasterPresenter::RunBackgroundCheck() {
    if (checkRunning_) return;
    checkRunning_ = true;
    s_.run.CheckBusy = true;
    try {
        const std::vector<std::u16string> sections = settings::ReadRoster(store_, s_.identity.UserSection);
        if (sections.empty()) {
            s_.run.CheckBusy = false;
            checkRunning_ = false;
            return;
        }
        s_.run.NewMailCount = 0;
        s_.run.StatusText = u"";
        item(MenuCommand::Imm)->enabled = false;
        item(MenuCommand::Preview)->enabled = false;
        menuChanged();

        BackgroundCheck& c = *check_;
        if (!c.conn) {
            c.conn = std::make_unique<pop3::Connection>([this] {
                const BackgroundCheck& k = *check_;
                return platform::CreateMailSocket(p_.network.createTcp(), k.security, k.host, k.pin);
            });
            // A greeting or a reply line of the background check needs far
            // less than a header; nothing longer is kept.
            pop3::Limits limits;
            limits.line = 4096;
            c.conn->setLimits(limits);
            pop3::Connection::Handlers h;
            h.reply = [this](const pop3::Reply& r) {
                try {
                    onCheckReply(r);
                } catch (...) {
                    check_->CheckDone = true;
                }
            };
            h.sendComplete = [this] { check_->SendDone = true; };
            // A refused, broken or closed connection ends the account at
            // once, with the text of a server that never answers; a server
            // whose replies are out of step or too long is told apart.
            h.ended = [this](pop3::End why) {
                BackgroundCheck& k = *check_;
                // A TLS failure says what failed; the password was never sent.
                const platform::TcpSocket* sock = k.conn->socket();
                const std::u16string tls = platform::MailSocketFailureText(sock, sock ? sock->lastError() : 0);
                if (!k.CheckDone) {
                    k.CheckDone = true;
                    if (why == pop3::End::Closed && !tls.empty())
                        s_.run.StatusText = k.user + tls;
                    else if (why == pop3::End::Closed)
                        s_.run.StatusText = k.user + u"未連上伺服器";
                    else if (why == pop3::End::OutOfStep && k.login && k.login->lastTag() == pop3::kTagGreeting)
                        s_.run.StatusText = k.user + u"主機無法連線..";  // a greeting that is no status line
                    else
                        s_.run.StatusText = k.user + u"伺服器回應錯誤..";
                }
                if (k.login && !k.login->done()) {
                    k.login->onEnded();
                    pop3::ServerMemory::program().forgetCapabilities(k.serverKey);
                }
                k.SendDone = true;
            };
            c.conn->setHandlers(std::move(h));
        }
        for (const std::u16string& section : sections) {
            if (stopping_) break;
            const settings::MailAccount account = settings::ReadMailAccount(store_, section);
            const platform::MailSecurity security = platform::ParseMailSecurity(account.Security);
            const auto address = pop3::ParseServerAddress(account.Pop3Host, security, config_.defaultPop3Port);
            p_.loop.pump(Milliseconds(0));
            const platform::ResolveResult found = address ? p_.network.resolve(address->host) : platform::ResolveResult{};
            if (!found.found || found.address.empty()) {
                s_.run.StatusText = kLookupFailedText;
                continue;
            }
            const std::string userBytes = p_.codePage.fromUtf16(platform::kBig5, account.User);
            pop3::ServerMemory& memory = pop3::ServerMemory::program();
            c.serverKey = pop3::ServerMemory::key(address->host, address->port, userBytes);
            // A server's LOGIN-DELAY: the account is skipped until it has passed.
            if (const std::int64_t left = memory.loginDelayLeft(c.serverKey, pop3::SecondsNow(p_.clock))) {
                s_.run.StatusText = account.User + pop3::LoginDelayText(left);
                continue;
            }
            c.security = security;
            c.host = address->host;
            c.pin = p_.codePage.fromUtf16(platform::kBig5, account.CertSha256);

            c.user = account.User;
            c.password = account.Password;
            // An OAuth2 account logs in with a bearer token, only over TLS:
            // without TLS nothing is sent, not even a token request. A token
            // the server refuses is refreshed once and tried once more; the
            // check never opens a browser.
            const auth::OAuthSettings oauth = OAuthSettingsOf(account, p_.codePage);
            const bool bearer = auth::UsesOAuth(oauth);
            if (bearer && security == platform::MailSecurity::Plain) {
                s_.run.StatusText = account.User + NotSecuredText();
                continue;
            }
            for (int attempt = 0; attempt < (bearer ? 2 : 1) && !stopping_; ++attempt) {
                c.conn->close();
                c.CheckDone = false;
                c.SendDone = false;
                c.tokenRefused = false;
                c.mechanisms.clear();
                pop3::LoginRequest request;
                request.user = userBytes;
                request.userUtf8 = p_.codePage.fromUtf16(platform::kUtf8, account.User);
                request.secured = security != platform::MailSecurity::Plain;
                request.startTls = security == platform::MailSecurity::StartTls;
                if (bearer) {
                    if (!secrets_) secrets_ = platform::createSecretStore();
                    auth::TokenStore tokens(*secrets_, store_.appPath(), p_.files.separator());
                    auth::OAuthClient client(p_, auth::ResolveOAuthConfig(oauth));
                    const auth::AccessToken token = auth::GetAccessToken(
                        client, tokens, section,
                        std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count(),
                        attempt > 0);
                    if (!token.ok) {
                        s_.run.StatusText = account.User + token.status;
                        break;
                    }
                    c.mechanisms = pop3::BearerMechanisms(userBytes, token.token, address->host, address->port);
                    for (const auto& m : c.mechanisms) request.mechanisms.push_back(m);
                    request.saslOnly = true;
                } else {
                    const std::u16string password = settings::UnscramblePassword(p_.codePage, c.password);
                    request.password = p_.codePage.fromUtf16(platform::kBig5, password);
                    request.passwordUtf8 = p_.codePage.fromUtf16(platform::kUtf8, password);
                }
                if (const auto* known = memory.find(c.serverKey); known && known->capsKnown) {
                    request.remembered = known->caps;
                    request.rememberedGreeting = known->greeting;
                }
                c.login = std::make_unique<pop3::Login>(*c.conn, std::move(request));
                c.conn->connect(found.address, address->port, pop3::kTagGreeting);

                if (!waitFor([&c] { return c.CheckDone; }, 45, true)) s_.run.StatusText = c.user + u"未連上伺服器";
                waitFor([&c] { return !c.conn->socket() || c.conn->socket()->state() == platform::SocketState::Closed ||
                                      c.conn->socket()->state() == platform::SocketState::Error; },
                        3, false);
                if (!c.tokenRefused) break;
            }
        }
        // The last account's connection is not left open after an error reply.
        c.conn->close();

        if (!stopping_ && s_.prefs.options.openFilterWindow && s_.run.NewMailCount >= s_.prefs.OpenThreshold && opener_) {
            store_.write(IniFile::Set, s_.identity.UserSection, u"Open-mail", std::u16string(u"Check-Quit"));
            item(MenuCommand::Preview)->enabled = true;
            menuChanged();
            s_.run.AutoOpened = true;
            opener_->showFilterWindowQuietly(store_.readNumber(IniFile::Set, s_.identity.UserSection, u"AutoMin", 0) == 1);
            checkRunning_ = false;
            return;
        }
    } catch (...) {
        // Falls through to the common end below.
    }
    s_.run.CheckBusy = false;
    item(MenuCommand::Imm)->enabled = true;
    item(MenuCommand::Preview)->enabled = true;
    menuChanged();
    checkRunning_ = false;
}

// ---------------------------------------------------------------------------
// Network time correction.

void MasterPresenter::CorrectClock() {
    if (!clock_) {
        clock_ = std::make_unique<ClockCorrection>(p_, store_, s_,
                                                   ClockCorrectionConfig{config_.timePort, config_.timeServerOverride});
    }
    clock_->sendRequest();
}

// ---------------------------------------------------------------------------
// Services.

std::u16string MasterPresenter::lookupHostAddress(const std::string& host) {
    return p_.codePage.toUtf16(platform::kBig5, LookupHostAddress(s_, p_.loop, p_.network, host));
}

void MasterPresenter::showHideBrowserWindows() { ShowHideBrowserWindows(p_.desktop, p_.loop, s_.run.BrowserWindowsHidden); }

void MasterPresenter::closeBrowserWindows() { CloseBrowserWindows(p_.desktop, p_.loop, p_.clock); }

}  // namespace iw::app
