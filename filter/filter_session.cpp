// The filter window's side of the POP3 session (what each step and trouble
// shows), the deletion run with the countdown, and the re-check of one
// account. The protocol itself is pop3::FetchSession.
#include <algorithm>
#include <cmath>
#include <exception>

#include "filter/filter_window.h"
#include "filter/header_parser.h"
#include "platform/waits.h"

namespace iw::filter {

namespace {

// The error number the message box shows, before its tag ("Check",
// "Recheck"), when an unexpected error ends the session or the re-check.
constexpr int kUnexpectedErrorNumber = 5;

std::u16string Num(std::int64_t n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// size / 1024 to one decimal, a half to the even neighbour, shortest form.
std::u16string KbText(std::int64_t size) {
    const std::int64_t num = size * 10;
    std::int64_t q = num / 1024, r = num % 1024;
    if (r < 0) {
        r += 1024;
        --q;
    }
    if (r * 2 > 1024 || (r * 2 == 1024 && (q & 1))) ++q;
    const bool neg = q < 0;
    const std::int64_t a = neg ? -q : q;
    std::u16string t = (neg ? u"-" : u"") + Num(a / 10);
    if (a % 10) t += u"." + Num(a % 10);
    return t;
}

// The texts of an account whose connection ended by itself.
const char16_t kOutOfStepText[] = u"郵件主機回應錯亂,已中斷連線,本信箱不刪除郵件";
const char16_t kTooLargeText[] = u"郵件主機傳送資料過大,已中斷連線";
const char16_t kDeleteFailedText[] = u"刪除郵件失敗,郵件仍在主機上";
const char16_t kNotJudgedText[] = u"伺服器沒有送出信件標頭,不判斷";

std::size_t RowBytes(const MessageEntry& e) {
    return 2 * (e.SenderText.size() + e.Subject.size() + e.SizeText.size() + e.ReceivedText.size() +
                e.PreviewText.size() + e.Reason.size()) +
           sizeof(MessageEntry);
}

}  // namespace

// Hands one complete TOP reply to the header parser, which appends row n of
// the account's list and of the visible list; the new visible row goes to
// the view.
void FilterWindow::parseReply(int i, const std::string& reply, bool refused) {
    const std::size_t shown = model_.VisibleList.size();
    const std::size_t rows = list(i).size();
    const ParseServices services{p_.codePage, p_.clock, dateFormat_,
                                 ClassifyContext{senderLists_, m1_.prefs.options, SizeLimitKB_}, *this};
    ParseMessageHeader(model_, services, i, reply);
    if (refused && list(i).size() > rows) {
        // No header was seen, so nothing is judged: the row is never junk.
        list(i).back().Checked = false;
        list(i).back().TextColor = RowColor::Default;
        list(i).back().Reason = kNotJudgedText;
        if (model_.VisibleList.size() > shown) {
            model_.VisibleList.back().Checked = false;
            model_.VisibleList.back().TextColor = RowColor::Default;
            model_.VisibleList.back().Reason = kNotJudgedText;
        }
    }
    for (std::size_t k = rows; k < list(i).size(); ++k) rowBytes_ += RowBytes(list(i)[k]);
    for (std::size_t k = shown; k < model_.VisibleList.size(); ++k) {
        rowBytes_ += RowBytes(model_.VisibleList[k]);
        view_.addMessageRow(model_.VisibleList[k]);
    }
}

void FilterWindow::reportRunError(const char16_t* tag, int number, const std::u16string& description) {
    view_.messageBox(Num(number) + tag + u"\r\n" + description);
}

platform::TcpSocket* FilterWindow::socket(int i) const {
    return i >= 0 && i < session_.accountCount() ? session_.socket(i) : nullptr;
}

// The account's settings as the profile holds them now.
pop3::FetchAccount FilterWindow::fetchAccount(const Account& a) const {
    pop3::FetchAccount f;
    pop3::LoginAccount& login = f.login;
    login.address = a.section;
    login.user = profile_.accountValue(a.section, u"Account");
    login.password = profile_.unscramblePassword(profile_.accountValue(a.section, u"PassWord"));
    login.security = platform::ParseMailSecurity(profile_.accountValue(a.section, u"Security"));
    const auto u8 = [&](const char16_t* key) {
        return p_.codePage.fromUtf16(platform::kUtf8, profile_.accountValue(a.section, key));
    };
    login.oauth = {u8(u"Auth"),          u8(u"OAuthProvider"),     u8(u"OAuthTenant"),
                   u8(u"OAuthClientId"), u8(u"OAuthClientSecret"), u8(u"OAuthAuthorizeUrl"),
                   u8(u"OAuthTokenUrl"), u8(u"OAuthDeviceUrl"),    u8(u"OAuthScope")};
    f.server = profile_.accountValue(a.section, u"PoP3");
    const std::u16string pin = profile_.accountValue(a.section, u"CertSha256");
    f.certPin.assign(pin.begin(), pin.end());  // hexadecimal digits; anything else matches no certificate
    return f;
}

// The steps of the login and the fetch, on the status bar and the tip.
void FilterWindow::step(int i, pop3::FetchStep step) {
    const Account& a = accounts_[static_cast<std::size_t>(i)];
    switch (step) {
    case pop3::FetchStep::Connecting:
        tipSection(i, u"正在連線中...");
        statusBar(a.section + u"正在連線中...");
        break;
    case pop3::FetchStep::SendingUser: {
        const std::u16string t = u"傳送帳號(" + sessionUser_ + u")";
        statusBar(t);
        tipSection(i, t);
        break;
    }
    case pop3::FetchStep::SendingPassword:
        statusBar(u"傳送密碼...");
        tipSection(i, u"傳送密碼...");
        break;
    case pop3::FetchStep::Counting:
        tipSection(i, u"正在取得郵件數...");
        statusBar(a.section + u"正在取得郵件數...");
        break;
    case pop3::FetchStep::Fetching:
        tipSection(i, u"接收郵件資料中...");
        break;
    }
}

// STAT answered: the account's line says how much waits. With the option to
// fetch in batches, a mailbox of more than 500 messages is fetched half now.
std::int32_t FilterWindow::counted(int i, std::int32_t count, std::int32_t size) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    model_.clearListing();
    // A count below zero is no count: nothing waits.
    a.count = std::max<std::int32_t>(0, count);
    model_.MessageCounts[static_cast<std::size_t>(i)] = a.count;
    a.size = size;
    if (a.count < 1) {
        tipSection(i, u"沒有新郵件...");
        a.status = u"信箱(" + a.section + u")沒有新郵件... ";
        statusBar(a.status);
        return 0;
    }
    a.status = u"信箱(" + a.section + u")有" + Num(a.count) + u"封新郵件,共有" + KbText(a.size) + u"KB...";
    if (m1_.prefs.options.fetchInBatches && a.count > 500) {
        a.status += u"先下載前" + Num(a.count / 2) + u"封";
        a.count /= 2;
    }
    // The LIST went out with the STAT; its reply follows.
    tipSection(i, u"正在接收郵件資料...");
    statusBar(a.section + u"正在接收郵件資料...");
    statusBar(a.status);
    return a.count;
}

// LIST read: the parser takes the size of row n from a line "n size".
void FilterWindow::listed(int i, const pop3::Listing& listing) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.numbers.clear();
    std::string text;
    for (std::size_t k = 0; k < listing.entries.size(); ++k) {
        a.numbers.push_back(static_cast<std::int32_t>(listing.entries[k].first));
        text += std::to_string(k + 1) + " " + listing.entries[k].second + "\r\n";
    }
    a.count = static_cast<std::int32_t>(a.numbers.size());
    model_.MessageCounts[static_cast<std::size_t>(i)] = a.count;
    model_.setListing(std::move(text));
}

bool FilterWindow::received(int i, int, std::int32_t, const std::string& reply, bool refused) {
    parseReply(i, reply, refused);
    return rowBytes_ <= maxRowBytes_;
}

void FilterWindow::held(int i) { holdRows(i); }

// What went wrong on an account becomes its status line (and the tip).
void FilterWindow::trouble(int i, pop3::FetchTrouble trouble, const std::u16string& detail) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    // The account's line and the tip say the same.
    const auto say = [&](const std::u16string& text) {
        a.status = a.section + text;
        tipSection(i, text);
        statusBar(a.status);
    };
    switch (trouble) {
    case pop3::FetchTrouble::NoHost:
        if (recheck_) {
            a.status = u"無法查詢主機" + sessionHost_;
            view_.setTipLabel(a.status);
        } else {
            a.status = u"無法查詢主機IP位置";
            tip(a.status);
        }
        statusBar(a.status);
        break;
    case pop3::FetchTrouble::LoginDelay:
    case pop3::FetchTrouble::NoLogin:
    case pop3::FetchTrouble::Tls:
    case pop3::FetchTrouble::NoMechanism:
    case pop3::FetchTrouble::FalseSuccess:
    case pop3::FetchTrouble::TokenRefused:
        say(detail);
        break;
    case pop3::FetchTrouble::NotConnected:
    case pop3::FetchTrouble::ConnectTimedOut:
        a.status = a.section + u"未連上郵件主機(" + sessionHost_ + u")";
        tipSection(i, trouble == pop3::FetchTrouble::ConnectTimedOut && recheck_ ? u"未連上郵件主機"
                                                                                : u"未連上郵件主機...");
        statusBar(a.status);
        break;
    case pop3::FetchTrouble::LoginRefused:
        // A response code says what the user can do; without one, the old text.
        a.status = detail.empty() ? u"使用者名稱或密碼錯誤!" : a.section + detail;
        tipSection(i, detail.empty() ? a.status : detail);
        statusBar(a.status);
        break;
    case pop3::FetchTrouble::ListingFailed:
        a.status = a.section + u"接收郵件資料錯誤";
        statusBar(a.status);
        break;
    case pop3::FetchTrouble::OutOfStep: say(kOutOfStepText); break;
    case pop3::FetchTrouble::TooLarge: say(kTooLargeText); break;
    case pop3::FetchTrouble::ReceiveError: say(u"接收郵件資料錯誤"); break;
    case pop3::FetchTrouble::TimedOut: say(u"接收郵件資料逾時"); break;
    }
}

// The rows of an account whose replies went out of step stay visible, but
// none is checked and none can be: which message a row stands for is no
// longer known.
void FilterWindow::holdRows(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.held = true;
    for (MessageEntry& e : list(i)) e.Checked = false;
    if (model_.ShownList == i + 1 || dialogue_ == i) {
        for (std::size_t k = 0; k < model_.VisibleList.size(); ++k) {
            if (!model_.VisibleList[k].Checked) continue;
            model_.VisibleList[k].Checked = false;
            view_.setMessageChecked(static_cast<int>(k), false);
        }
    }
}

// One account's part of the session or of a re-check: the POP3 session
// finds the host, logs in and fetches the headers; what it reports lands
// above.
void FilterWindow::runAccount(int i, bool recheck) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.count = 0;
    a.held = false;
    a.numbers.clear();
    model_.MessageCounts[static_cast<std::size_t>(i)] = 0;
    sessionHost_ = profile_.accountValue(a.section, u"PoP3");
    recheck_ = recheck;
    dialogue_ = i;
    pop3::FetchAccount settings = fetchAccount(a);
    sessionUser_ = settings.login.user;
    session_.setAccount(i, std::move(settings));
    session_.fetch(i, model_.PreviewLines);
    dialogue_ = -1;
    if (closed_) return;
    statusBar(a.status);
}

void FilterWindow::enableAfterRun() {
    setMenuEnabledState(MenuEntry::Recheck, true);
    setEnabledState(Control::Command1, true);
    setEnabledState(Control::Command2, true);
    setEnabledState(Control::Command3, true);
}

void FilterWindow::RunFilterSession() {
    int i = 0;
    sessionRunning_ = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{sessionRunning_};
    try {
        accounts_.clear();
        m1_.run.CheckBusy = true;
        const std::vector<std::u16string> roster = profile_.roster();
        AccountCount_ = 0;
        if (!roster.empty()) {
            setEnabledState(Control::Command1, false);
            setEnabledState(Control::Command2, false);
            setEnabledState(Control::Command3, false);
            SessionStarted_ = true;
            if (UseProgressTip_) view_.showTip();
            if (checked_[3] && !m1_.run.AutoOpened) view_.minimize();
            accounts_.resize(roster.size());
            model_.resetAccounts(roster);
            rowBytes_ = 0;
            std::vector<pop3::FetchAccount> settings;
            for (std::size_t k = 0; k < roster.size(); ++k) {
                accounts_[k].section = roster[k];
                settings.push_back(fetchAccount(accounts_[k]));
            }
            session_.begin(m1_.identity.AppPath, std::move(settings), *this);
            p_.loop.pump(platform::Milliseconds(0));
            AccountCount_ = static_cast<int>(roster.size());
            for (i = 0; i < AccountCount_ && !closed_; ++i) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                a.user = profile_.accountValue(a.section, u"Account");
                accountRows_.push_back({a.user, a.section, 1});
                view_.addAccountRow(a.user, a.section, kAccountIconInSession);
                selectedAccount_ = i;
                view_.selectAccountRow(i);
                model_.VisibleList.clear();
                view_.clearMessages();
                statusBar(u"查詢主機IP位置中...");
                tip(u"查詢主機IP位置中...");
                p_.loop.pump(platform::Milliseconds(0));
                runAccount(i, false);
            }
            dialogue_ = -1;
            if (closed_) return;
        }
        if (UseProgressTip_) view_.closeTip();
        if (AccountCount_ > 0) {
            selectedAccount_ = AccountCount_ - 1;
            view_.selectAccountRow(selectedAccount_);
        }
        model_.ShownList = AccountCount_;
        enableAfterRun();
        if (checked_[2]) startCountdown();
    } catch (const std::exception& e) {
        const std::string d = e.what();
        reportRunError(u"Check", kUnexpectedErrorNumber, std::u16string(d.begin(), d.end()));
        if (SessionStarted_ && i < static_cast<int>(accounts_.size())) {
            Account& a = accounts_[static_cast<std::size_t>(i)];
            a.status = u"接收帳號(" + a.section + u")" + u"失敗!..";
            if (UseProgressTip_) view_.closeTip();
            statusBar(a.status);
        }
        model_.ShownList = i + 1;
        dialogue_ = -1;
        enableAfterRun();
    }
}

// DELE for every checked row of account i, as the POP3 session sends them.
pop3::FetchSession::Deletions FilterWindow::sendDeletions(int i, int limitSeconds, bool testEach) {
    std::vector<int> rows;
    const MessageList& l = list(i);
    for (std::size_t p = 0; p < l.size(); ++p)
        if (l[p].Checked) rows.push_back(static_cast<int>(p));
    return session_.deleteRows(i, rows, limitSeconds, testEach);
}

// QUIT on account i when its connection is still usable, then closes it.
// The messages count as deleted only when the server answered every DELE
// and the QUIT that commits them with "+OK".
void FilterWindow::quitAccount(int i, int limitSeconds, pop3::FetchSession::Deletions asked) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    const bool quitOk = session_.quit(i, limitSeconds);
    a.deleted = quitOk ? asked.confirmed : 0;
    reportDeletion(i, asked.asked);
}

// A deletion that the server did not confirm is said so, on the status bar
// and on the tray tip, for that account.
void FilterWindow::reportDeletion(int i, int asked) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    const int wanted = static_cast<int>(std::count_if(list(i).begin(), list(i).end(),
                                                      [](const MessageEntry& e) { return e.Checked; }));
    a.deleteFailed = a.deleted < wanted || a.deleted < asked;
    if (!a.deleteFailed) return;
    a.status = a.section + kDeleteFailedText;
    m1_.run.StatusText = a.status;
    statusBar(a.status);
}

void FilterWindow::runDeletion() {
    if (closed_) return;
    stopTimer();
    setEnabledState(Control::Command1, false);
    if (AccountCount_ > 0) {
        deletionRunning_ = true;
        view_.showTip();
        std::vector<pop3::FetchSession::Deletions> asked(accounts_.size());
        for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
            Account& a = accounts_[static_cast<std::size_t>(i)];
            dialogue_ = i;
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            asked[static_cast<std::size_t>(i)] = sendDeletions(i, 8, true);
        }
        if (SessionStarted_) {
            for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                dialogue_ = i;
                if (session_.usable(i)) {
                    statusBar(u"切斷信箱(" + a.section + u")的連線中....");
                    view_.setTipLabel(a.section + u"\r\n\r\n結束連線中...");
                }
                quitAccount(i, 8, asked[static_cast<std::size_t>(i)]);
            }
        }
        // What remains on the servers: every fetched message whose deletion
        // the server did not confirm.
        std::int64_t remaining = 0;
        for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
            const Account& a = accounts_[static_cast<std::size_t>(i)];
            remaining += std::max<std::int64_t>(0, static_cast<std::int64_t>(a.count) - a.deleted);
        }
        m1_.run.NewMailCount = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, 0x7FFFFFFF));
        dialogue_ = -1;
        deletionRunning_ = false;
        view_.closeTip();
        p_.loop.pump(platform::Milliseconds(0));
    }
    // Unloaded meanwhile (the system ends the session): the connections are
    // gone without QUIT, so the server deletes nothing, and no mail program
    // is started.
    if (closed_) return;
    remainingAfterRun_ = m1_.run.NewMailCount;
    startMailProgram();
    main_.setTrayMenuEnabled(TrayMenuEntry::Exit, true);
    if (m1_.run.Online) main_.setTrayMenuEnabled(TrayMenuEntry::CheckNow, true);
    m1_.run.AutoOpened = false;
    m1_.run.CheckBusy = false;
    closed_ = true;
    view_.closeWindow();
    unload();
}

// The user closed the window while the session fetched: every connection is
// dropped without a word (nothing was deleted, and without QUIT nothing can
// be), and the window closes as after a deletion run that deleted nothing.
void FilterWindow::abandonSession() {
    session_.cancel();
    std::int64_t fetched = 0;
    for (const auto& a : accounts_) fetched += a.count;
    m1_.run.NewMailCount = static_cast<std::int32_t>(std::min<std::int64_t>(fetched, 0x7FFFFFFF));
    remainingAfterRun_ = m1_.run.NewMailCount;
    if (UseProgressTip_) view_.closeTip();
    main_.setTrayMenuEnabled(TrayMenuEntry::Exit, true);
    if (m1_.run.Online) main_.setTrayMenuEnabled(TrayMenuEntry::CheckNow, true);
    m1_.run.AutoOpened = false;
    m1_.run.CheckBusy = false;
    closed_ = true;
    view_.closeWindow();
    unload();
}

void FilterWindow::logOutAll() {
    for (int i = 0; i < AccountCount_ && i < session_.accountCount(); ++i) {
        Account& a = accounts_[static_cast<std::size_t>(i)];
        if (!session_.usable(i)) {
            session_.close(i);
            continue;
        }
        dialogue_ = i;
        statusBar(u"切斷信箱(" + a.section + u")的連線中....");
        view_.setTipLabel(a.section + u"\r\n\r\n結束連線中...");
        session_.quit(i, 8);
    }
    dialogue_ = -1;
}

void FilterWindow::LogOutWithoutDeleting() {
    stopTimer();
    logOutAll();
}

void FilterWindow::startMailProgram() {
    const auto value = p_.registry.readString(platform::RegistryRoot::LocalMachine, kMailProgramKey, u"");
    // The value was read through a 128-byte buffer: a longer one counts as unreadable.
    if (!value || p_.codePage.fromUtf16(platform::kBig5, *value).size() + 1 > 128) return;
    static const int kNumbers[6] = {1, 3, 5, 10, 20, 30};
    if (!checked_[0] || kNumbers[comboPos_] > m1_.run.NewMailCount) return;
    const auto dot = value->find(u'.');
    const std::u16string command = dot == std::u16string::npos ? value->substr(0, 4) : value->substr(0, dot + 5);
    p_.shell.startCommandLine(command);  // a command that does not start is not reported
}

void FilterWindow::countdownTick() {
    if (m1_.run.AutoOpened) {
        m1_.run.AutoOpened = false;
        stopTimer();
        RunFilterSession();
        return;
    }
    if (CountdownTicks_ < 31) {
        setLabel2(Num(30 - CountdownTicks_) + u" 秒後自動執行刪除");
        ++CountdownTicks_;
    } else {
        stopTimer();
        runDeletion();
    }
}

void FilterWindow::checkAll() {
    if (model_.VisibleList.empty() || CopyBusy_ || shownHeld()) return;
    for (std::size_t p = 0; p < model_.VisibleList.size(); ++p) {
        model_.VisibleList[p].Checked = true;
        view_.setMessageChecked(static_cast<int>(p), true);
        if (model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size())) {
            auto& rows = list(model_.ShownList - 1);
            if (p < rows.size()) rows[p].Checked = true;
        }
    }
}

void FilterWindow::uncheckAll() {
    if (model_.VisibleList.empty() || CopyBusy_) return;
    for (std::size_t p = 0; p < model_.VisibleList.size(); ++p) {
        model_.VisibleList[p].Checked = false;
        view_.setMessageChecked(static_cast<int>(p), false);
        if (model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size())) {
            auto& rows = list(model_.ShownList - 1);
            if (p < rows.size()) rows[p].Checked = false;
        }
    }
}

void FilterWindow::RecheckAccount(int ai) {
    if (ai < 0 || ai >= static_cast<int>(accounts_.size())) return;
    Account& a = accounts_[static_cast<std::size_t>(ai)];
    try {
        stopCountdown();
        setEnabledState(Control::Command1, false);
        setEnabledState(Control::Command2, false);
        setEnabledState(Control::Command3, false);
        model_.VisibleList.clear();
        view_.clearMessages();
        const bool savedTip = UseProgressTip_;
        UseProgressTip_ = true;
        view_.showTip();
        dialogue_ = ai;
        sessionRunning_ = true;
        if (session_.usable(ai) && !a.held) {
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            deletionRunning_ = true;
            const pop3::FetchSession::Deletions asked = sendDeletions(ai, 5, false);
            quitAccount(ai, 10, asked);
            deletionRunning_ = false;
        } else {
            session_.close(ai);
            a.deleted = 0;
        }
        session_.waitClosed(ai, 3);
        if (closed_) return;  // unloaded while logging out: do not connect again
        list(ai).clear();
        a.count = 0;
        model_.MessageCounts[static_cast<std::size_t>(ai)] = 0;
        statusBar(u"查詢主機IP位置中...");
        view_.setTipLabel(u"查詢主機IP位置中...");
        // The re-check lists the rows as the preview box says now.
        model_.PreviewLines = checked_[1];
        applyListLayout();
        runAccount(ai, true);
        UseProgressTip_ = savedTip || UseProgressTip_;
        dialogue_ = -1;
        sessionRunning_ = false;
        if (closed_) return;
        model_.ShownList = ai + 1;
        view_.closeTip();
        statusBar(a.status);
        enableAfterRun();
    } catch (const std::exception& e) {
        const std::string d = e.what();
        reportRunError(u"Recheck", kUnexpectedErrorNumber, std::u16string(d.begin(), d.end()));
        sessionRunning_ = false;
        deletionRunning_ = false;
        a.status = u"接收帳號(" + a.section + u")" + u"失敗!..";
        statusBar(a.status);
        model_.ShownList = ai + 1;
        dialogue_ = -1;
        view_.closeTip();
        enableAfterRun();
    }
}

}  // namespace iw::filter
