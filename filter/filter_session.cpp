// The filter window's side of the POP3 session (what each step and trouble
// shows), the deletion run with the countdown, and the re-check of one
// account. The protocol itself is pop3::FetchSession.
#include <algorithm>
#include <cmath>
#include <exception>

#include "filter/filter_window.h"
#include "filter/fetch_report.h"
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

}  // namespace

// Hands one complete TOP reply to the header parser, which appends row n of
// the account's list and of the visible list; the new visible row goes to
// the view.
void FilterWindow::parseReply(int i, const std::string& reply, bool refused) {
    const std::size_t shown = model_.VisibleList.size();
    const ParseServices services{p_.codePage, p_.clock, dateFormat_,
                                 ClassifyContext{senderLists_, m1_.prefs.options, SizeLimitKB_}, *this};
    rowBytes_ += AddFetchedRow(model_, services, i, reply, refused);
    for (std::size_t k = shown; k < model_.VisibleList.size(); ++k) view_.addMessageRow(model_.VisibleList[k]);
}

void FilterWindow::reportRunError(const char16_t* tag, int number, const std::u16string& description) {
    view_.messageBox(Num(number) + tag + u"\r\n" + description);
}

platform::TcpSocket* FilterWindow::socket(int i) const {
    return i >= 0 && i < session_.accountCount() ? session_.socket(i) : nullptr;
}

// Texts of the session on the status bar and the tip; a trouble's text is
// the account's line from then on.
void FilterWindow::show(int i, const FetchTexts& t, bool accountLine) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (!t.tip.empty()) {
        if (t.tipAlways)
            view_.setTipLabel(a.section + u"\r\n\r\n" + t.tip);
        else if (t.tipAlone)
            tip(t.tip);
        else
            tipSection(i, t.tip);
    }
    if (t.status.empty()) return;
    if (accountLine) a.status = t.status;
    statusBar(t.status);
}

void FilterWindow::step(int i, pop3::FetchStep step) {
    show(i, StepTexts(accounts_[static_cast<std::size_t>(i)].section, sessionUser_, step), false);
}

// STAT answered: the account's line says how much waits.
std::int32_t FilterWindow::counted(int i, std::int32_t count, std::int32_t size) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    const CountedTexts c = CountInModel(model_, i, a.section, count, size, m1_.prefs.options.fetchInBatches);
    a.size = size;
    a.count = c.toFetch;
    show(i, c.texts, true);
    return c.toFetch;
}

// LIST read: row r of the account is the r-th message LIST named.
void FilterWindow::listed(int i, const pop3::Listing& listing) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.numbers.clear();
    for (const auto& e : listing.entries) a.numbers.push_back(static_cast<std::int32_t>(e.first));
    a.count = static_cast<std::int32_t>(a.numbers.size());
    ListInModel(model_, i, listing);
}

bool FilterWindow::received(int i, int, std::int32_t, const std::string& reply, bool refused) {
    parseReply(i, reply, refused);
    return rowBytes_ <= maxRowBytes_;
}

void FilterWindow::held(int i) { holdRows(i); }

void FilterWindow::trouble(int i, pop3::FetchTrouble trouble, const std::u16string& detail) {
    show(i, TroubleTexts(accounts_[static_cast<std::size_t>(i)].section, sessionHost_, recheck_, trouble, detail), true);
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
    pop3::FetchAccount settings = FetchAccountOf(profile_, p_.codePage, a.section);
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
                settings.push_back(FetchAccountOf(profile_, p_.codePage, roster[k]));
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

// The rows of account i the user checked.
std::vector<int> FilterWindow::checkedRows(int i) {
    std::vector<int> rows;
    const MessageList& l = list(i);
    for (std::size_t p = 0; p < l.size(); ++p)
        if (l[p].Checked) rows.push_back(static_cast<int>(p));
    return rows;
}

// A deletion that the server did not confirm is said so, on the status bar
// and on the tray tip, for that account. `wanted`: the rows checked when the
// deletion began (an account that goes out of step meanwhile unchecks them).
void FilterWindow::reportDeletion(int i, int asked, int wanted) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.deleteFailed = a.deleted < wanted || a.deleted < asked;
    if (!a.deleteFailed) return;
    a.status = DeleteFailedText(a.section);
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
        std::vector<std::vector<int>> rows(accounts_.size());
        for (std::size_t i = 0; i < accounts_.size(); ++i) rows[i] = checkedRows(static_cast<int>(i));
        const auto outcome = session_.deleteEverywhere(rows, 8);
        for (int i = 0; i < AccountCount_ && i < static_cast<int>(outcome.size()); ++i) {
            accounts_[static_cast<std::size_t>(i)].deleted = outcome[static_cast<std::size_t>(i)].deleted();
            reportDeletion(i, outcome[static_cast<std::size_t>(i)].dele.asked,
                           static_cast<int>(rows[static_cast<std::size_t>(i)].size()));
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
    closeAfterRun();
}

// The window closes after a run: the tray's menu works again, the program
// is no longer busy checking.
void FilterWindow::closeAfterRun() {
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
    closeAfterRun();
}

void FilterWindow::LogOutWithoutDeleting() {
    stopTimer();
    session_.logOutAll(8);
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
            show(ai, StepTexts(a.section, a.user, pop3::FetchStep::Deleting), false);
            deletionRunning_ = true;
            const std::vector<int> rows = checkedRows(ai);
            const pop3::FetchSession::Deletions asked = session_.deleteRows(ai, rows, 5, false);
            a.deleted = session_.quit(ai, 10) ? asked.confirmed : 0;
            reportDeletion(ai, asked.asked, static_cast<int>(rows.size()));
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
