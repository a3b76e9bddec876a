// The POP3 filter session over every account, its receive handler and waits,
// the deletion run with the countdown, and the re-check of one account.
#include <algorithm>
#include <cmath>
#include <exception>

#include "filter/filter_window.h"
#include "app/waits.h"
#include "platform/tls_socket.h"
#include "filter/header_parser.h"

namespace iw::filter {

namespace {

std::u16string Num(std::int64_t n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

std::string Bytes(const std::u16string& s) {  // ASCII commands only
    std::string out;
    for (char16_t c : s) out.push_back(static_cast<char>(c));
    return out;
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

// The number at the start of a field: an optional sign and decimal digits;
// 0 when there is none. Clamped into 32 bits.
std::int32_t LeadingNumber(const std::string& f) {
    std::size_t i = 0;
    bool neg = false;
    if (i < f.size() && (f[i] == '-' || f[i] == '+')) neg = f[i++] == '-';
    std::int64_t v = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
        v = std::min<std::int64_t>(v * 10 + (f[i++] - '0'), 0x7FFFFFFF);
    }
    return static_cast<std::int32_t>(neg ? -v : v);
}

std::size_t FindNoCase(const std::string& hay, const char* needle, std::size_t from = 0) {
    const std::size_t n = std::char_traits<char>::length(needle);
    for (std::size_t i = from; i + n <= hay.size(); ++i) {
        std::size_t k = 0;
        while (k < n && std::tolower(static_cast<unsigned char>(hay[i + k])) == std::tolower(static_cast<unsigned char>(needle[k]))) ++k;
        if (k == n) return i;
    }
    return std::string::npos;
}

// Whole seconds since midnight, the start mark of a wait.
int WholeSecondsNow(const platform::SystemClock& clock) { return app::StartMark(clock) % app::kSecondsPerDay; }

// Pumps until `done` holds (true) or more than `limitSeconds` have passed
// since `start()` (false). `start` is read again at every check, so a start
// that moves forward (the header wait's last activity) makes the wait an
// inactivity limit.
bool WaitUntil(platform::EventLoop& loop, const platform::SystemClock& clock, const std::function<bool()>& done,
               int limitSeconds, const std::function<int()>& start) {
    for (;;) {
        if (done()) return true;
        const int s = start();
        if (app::ElapsedSeconds(s, clock) > limitSeconds) return false;
        // Sleep at most until the elapsed value could pass the limit.
        const double exact = std::fmod(clock.secondsSinceMidnight() + 86400.0 - s, 86400.0);
        const double left = (limitSeconds + 0.5) - exact;
        auto ms = static_cast<long long>(std::ceil(std::max(left, 0.001) * 1000.0));
        ms = std::clamp<long long>(ms, 1, 250);
        loop.pump(platform::Milliseconds(ms));
    }
}

struct SessionError : std::exception {
    explicit SessionError(const char* d) : what_(d) {}
    const char* what() const noexcept override { return what_; }
    const char* what_;
};

}  // namespace

bool ParsePop3Host(const std::u16string& value, std::u16string& host, std::uint16_t& port) {
    host = value;
    port = 110;
    const auto colon = value.rfind(u':');
    if (colon == std::u16string::npos) return true;
    host = value.substr(0, colon);
    const std::u16string p = value.substr(colon + 1);
    if (p.empty() || p.size() > 5) return false;
    std::uint32_t v = 0;
    for (char16_t c : p) {
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
    }
    if (v < 1 || v > 65535) return false;
    port = static_cast<std::uint16_t>(v);
    return true;
}

void FilterWindow::touchActivity() { model_.LastActivity = app::StartMark(p_.clock) % app::kSecondsPerDay; }

// Hands one complete TOP reply to the header parser, which appends row n of
// the account's list and of the visible list; the new visible row goes to
// the view.
void FilterWindow::parseReply(int i, const std::string& reply, bool refused) {
    const std::size_t shown = model_.VisibleList.size();
    const std::size_t rows = list(i).size();
    const ParseServices services{p_.codePage, p_.clock, dateFormat_,
                                 ClassifyContext{senderLists_, m1_.OptionFlags, SizeLimitKB_}, *this};
    ParseMessageHeader(model_, services, i, reply);
    if (refused && list(i).size() > rows) {
        // No header was seen, so nothing is judged: the row is never junk.
        list(i).back().Checked = false;
        list(i).back().TextColor = RowColor::Default;
        if (model_.VisibleList.size() > shown) {
            model_.VisibleList.back().Checked = false;
            model_.VisibleList.back().TextColor = RowColor::Default;
        }
    }
    for (std::size_t k = shown; k < model_.VisibleList.size(); ++k) view_.addMessageRow(model_.VisibleList[k]);
}

bool FilterWindow::connected(int i) const {
    const auto& s = accounts_[static_cast<std::size_t>(i)].socket;
    return s && s->state() == platform::SocketState::Connected;
}

void FilterWindow::sendOn(int i, const std::string& bytes) {
    auto& s = accounts_[static_cast<std::size_t>(i)].socket;
    if (!s) throw SessionError("socket missing");
    s->send(bytes);
}

void FilterWindow::wireSocket(int i) {
    std::weak_ptr<bool> alive = alive_;
    platform::TcpSocketEvents ev;
    ev.dataArrival = [this, alive, i](std::size_t) {
        auto a = alive.lock();
        if (!a || !*a) return;
        try {
            Winsock1_DataArrival(i);
        } catch (...) {
            // The receive handler never lets an exception into the loop.
        }
    };
    ev.sendComplete = [this, alive, i] {
        auto a = alive.lock();
        if (a && *a) Winsock1_SendComplete(i);
    };
    // A TLS failure (a refused certificate or STLS, a failed handshake, a cut
    // connection) says what failed and ends the wait at once. Before the
    // login nothing was sent; after it, what was fetched is dropped as for
    // any broken listing, and the closed connection takes no DELE.
    ev.error = [this, alive, i](int code, const std::string&) {
        auto a = alive.lock();
        // Past the listing (deletions, logging out) a broken connection is
        // handled as any other: the rows stay, the missing replies time out.
        if (!a || !*a || i != dialogue_ || ReplyState_ > 5) return;
        Account& acc = accounts_[static_cast<std::size_t>(i)];
        const std::u16string text = platform::MailSocketFailureText(acc.socket.get(), code);
        if (text.empty()) return;
        if (LoggedIn_) failAccountData(i);
        model_.PhaseDone = true;
        acc.status = acc.section + text;
        tipSection(i, text);
        statusBar(acc.status);
    };
    accounts_[static_cast<std::size_t>(i)].socket->setEvents(std::move(ev));
}

void FilterWindow::Winsock1_SendComplete(int) { SendDone_ = true; }

void FilterWindow::WaitSendComplete() {
    SendDone_ = false;
    const int start = WholeSecondsNow(p_.clock);
    WaitUntil(p_.loop, p_.clock, [this] { return SendDone_ || closed_; }, 10, [start] { return start; });
}

bool FilterWindow::waitPhase(int limitSeconds) {
    const int start = WholeSecondsNow(p_.clock);
    // An unload (the system ending the session) ends the wait at once.
    return WaitUntil(p_.loop, p_.clock, [this] { return model_.PhaseDone || closed_; }, limitSeconds,
                     [start] { return start; });
}

void FilterWindow::reportRunError(const char16_t* tag, int number, const std::u16string& description) {
    view_.messageBox(Num(number) + tag + u"\r\n" + description);
}

void FilterWindow::Winsock1_DataArrival(int i) {
    if (i < 0 || i >= static_cast<int>(accounts_.size()) || !accounts_[static_cast<std::size_t>(i)].socket) return;
    std::string data = accounts_[static_cast<std::size_t>(i)].socket->receive();
    // Replies only count on the socket of the account in dialogue: late data
    // of another account (one whose wait has run out) is dropped rather than
    // read as the reply the shared state awaits.
    if (i != dialogue_ || data.empty()) return;
    if (ReplyState_ != 4 && ReplyState_ != 5) {
        // A one-line reply is judged once its line end has come, however the
        // network cut it.
        lineBuf_ += data;
        if (lineBuf_.find("\r\n") == std::string::npos && lineBuf_.size() <= maxReplyBytes_) return;
        data.swap(lineBuf_);
        lineBuf_.clear();
    }
    const bool accepted = data.compare(0, 3, "+OK") == 0;
    if (accepted || ReplyState_ == 4 || ReplyState_ == 5)
        stateAccepted(i, data);
    else
        stateRejected(i);
}

void FilterWindow::stateAccepted(int i, const std::string& data) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    switch (ReplyState_) {
        case 0: {
            LoggedIn_ = false;
            ReplyState_ = 1;
            sendOn(i, "USER " + Bytes(sessionUser_) + "\r\n");
            WaitSendComplete();
            const std::u16string t = u"傳送帳號(" + sessionUser_ + u")";
            statusBar(t);
            tipSection(i, t);
            break;
        }
        case 1: {
            ReplyState_ = 2;
            const std::u16string pw = profile_.unscramblePassword(sessionPassword_);
            sendOn(i, "PASS " + p_.codePage.fromUtf16(platform::kBig5, pw) + "\r\n");
            WaitSendComplete();
            statusBar(u"傳送密碼...");
            tipSection(i, u"傳送密碼...");
            break;
        }
        case 2:
            ListingDone_ = false;
            LoggedIn_ = true;
            model_.PhaseDone = true;
            ReplyState_ = 3;
            sendOn(i, "STAT\r\n");
            WaitSendComplete();
            tipSection(i, u"正在取得郵件數...");
            statusBar(a.section + u"正在取得郵件數...");
            break;
        case 3:
            statusReply(i, data);
            break;
        case 4:
            listingCollect(i, data);
            break;
        case 5:
            splitReplies(i, data);
            break;
        case 7:
            model_.PhaseDone = true;
            break;
        case 8:
            model_.PhaseDone = true;
            if (a.socket) a.socket->close();
            break;
        default:
            break;
    }
}

void FilterWindow::stateRejected(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    switch (ReplyState_) {
        case 1:
        case 2:
            model_.PhaseDone = true;
            a.status = u"使用者名稱或密碼錯誤!";
            tipSection(i, u"使用者名稱或密碼錯誤!");
            statusBar(a.status);
            break;
        case 3:
        case 7:
            model_.PhaseDone = true;
            break;
        default:
            break;
    }
}

void FilterWindow::statusReply(int i, const std::string& data) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    model_.clearListing();
    statusLineRemoved_ = false;
    std::vector<std::string> fields;
    std::size_t pos = 0;
    for (;;) {
        const auto sp = data.find(' ', pos);
        fields.push_back(data.substr(pos, sp == std::string::npos ? std::string::npos : sp - pos));
        if (sp == std::string::npos) break;
        pos = sp + 1;
    }
    a.count = fields.size() > 1 ? LeadingNumber(fields[1]) : 0;
    model_.MessageCounts[static_cast<std::size_t>(i)] = a.count;
    a.size = fields.size() > 2 ? LeadingNumber(fields[2]) : 0;
    if (a.count < 1) {
        tipSection(i, u"沒有新郵件...");
        a.status = u"信箱(" + a.section + u")沒有新郵件... ";
        ListingDone_ = true;
    } else {
        a.status = u"信箱(" + a.section + u")有" + Num(a.count) + u"封新郵件,共有" + KbText(a.size) + u"KB...";
        if (m1_.option(11) && a.count > 500) {
            a.status += u"先下載前" + Num(a.count / 2) + u"封";
            a.count /= 2;
        }
        ReplyState_ = 4;
        sendOn(i, "LIST\r\n");
        WaitSendComplete();
        tipSection(i, u"正在接收郵件資料...");
        statusBar(a.section + u"正在接收郵件資料...");
    }
    statusBar(a.status);
}

void FilterWindow::failAccountData(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    dataFailed_ = true;
    model_.clearListing();
    model_.ListingText.shrink_to_fit();
    TopText_.clear();
    TopText_.shrink_to_fit();
    PendingText_.clear();
    PendingText_.shrink_to_fit();
    ReplyState_ = 6;  // nothing more is awaited from this account
    model_.PhaseDone = true;
    a.status = a.section + u"接收郵件資料錯誤";
    tipSection(i, u"接收郵件資料錯誤");
    statusBar(a.status);
    if (a.socket) a.socket->close();
}

void FilterWindow::listingCollect(int i, const std::string& data) {
    model_.ListingText += data;
    if (!statusLineRemoved_) {
        const auto ok = FindNoCase(model_.ListingText, "+OK");
        if (ok != std::string::npos) {
            const auto eol = model_.ListingText.find("\r\n", ok);
            if (eol != std::string::npos) {
                model_.ListingText.erase(0, eol + 2);
                statusLineRemoved_ = true;
            }
        }
    }
    const std::size_t n = model_.ListingText.size();
    // The terminator is a line of its own: "." CR LF after a line end (or
    // alone once the status line is gone).
    if (statusLineRemoved_ && n >= 3 && model_.ListingText.compare(n - 3, 3, ".\r\n") == 0 &&
        (n == 3 || (n >= 5 && model_.ListingText.compare(n - 5, 2, "\r\n") == 0))) {
        model_.ListingText.resize(n - 3);
        ListingDone_ = true;
        return;
    }
    if (model_.ListingText.size() > maxReplyBytes_) failAccountData(i);
}

void FilterWindow::splitReplies(int i, const std::string& data) {
    PendingText_ += data;
    if (SplitterIdle_) {
        SplitterIdle_ = false;
        TopText_ += PendingText_;
        PendingText_.clear();
        for (;;) {
            if (!TopText_.empty() && TopText_[0] == '-') {
                // A one-line error reply to a TOP (the message went away
                // meanwhile, or the server refuses it) still stands for its
                // message number: it takes its row, unchecked, so the rows
                // after it keep their numbers and no DELE hits the wrong message.
                const auto eol = TopText_.find("\r\n");
                if (eol == std::string::npos) break;
                const std::string reply = TopText_.substr(0, eol + 2);
                TopText_.erase(0, eol + 2);
                topScanned_ = 0;
                ++replyNumber_;
                touchActivity();
                parseReply(i, reply, true);
                if (closed_ || dataFailed_) break;
                if (replyNumber_ >= accounts_[static_cast<std::size_t>(i)].count) model_.PhaseDone = true;
                continue;
            }
            const auto ok = FindNoCase(TopText_, "+OK");
            if (ok == std::string::npos) break;
            // Text already searched is not searched again, so a long reply
            // arriving in many pieces costs linear time.
            const auto end = TopText_.find("\r\n.\r\n", std::max(ok, topScanned_));
            if (end == std::string::npos) {
                topScanned_ = TopText_.size() >= 4 ? TopText_.size() - 4 : 0;
                break;
            }
            const std::string reply = TopText_.substr(0, end + 5);
            TopText_.erase(0, end + 5);
            topScanned_ = 0;
            ++replyNumber_;
            touchActivity();
            parseReply(i, reply);
            if (closed_ || dataFailed_) break;
            if (replyNumber_ >= accounts_[static_cast<std::size_t>(i)].count) model_.PhaseDone = true;
        }
        SplitterIdle_ = true;
        if (TopText_.size() + PendingText_.size() > maxReplyBytes_) {
            failAccountData(i);
            return;
        }
    }
    // Let the window breathe between pieces of the stream, but only from the
    // outermost arrival: the pump delivers the next piece, and pumping again
    // from inside it would nest one level per piece, so a server trickling
    // its replies a few bytes at a time would overflow the stack.
    if (!splitterPumping_) {
        splitterPumping_ = true;
        p_.loop.pump(platform::Milliseconds(0));
        splitterPumping_ = false;
    }
}

void FilterWindow::connectAccount(int i, const std::string& address, std::uint16_t port) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.socket->close();
    wireSocket(i);
    dialogue_ = i;
    // The login flags belong to this account alone, not to the one before.
    LoggedIn_ = false;
    ListingDone_ = false;
    dataFailed_ = false;
    lineBuf_.clear();
    ReplyState_ = 0;
    model_.PhaseDone = false;
    a.socket->connect(address, port);
}

void FilterWindow::fetchHeaders(int i, bool recheck) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (LoggedIn_ && !dataFailed_) {
        const int start = WholeSecondsNow(p_.clock);
        const bool done = WaitUntil(p_.loop, p_.clock, [this] { return ListingDone_ || dataFailed_ || closed_; }, 30,
                                    [start] { return start; });
        if (!done) {
            a.status = a.section + u"接收郵件資料錯誤";
            statusBar(a.status);
        }
    }
    if (closed_) return;
    if (recheck) {
        model_.PreviewLines = checked_[1];
        applyListLayout();
    }
    if (a.count > 0 && ListingDone_ && !dataFailed_) {
        PendingText_.clear();
        TopText_.clear();
        topScanned_ = 0;
        SplitterIdle_ = true;
        model_.PhaseDone = false;
        replyNumber_ = 0;
        ReplyState_ = 5;
        bool allSent = true;
        for (std::int32_t t = 1; t <= a.count; ++t) {
            if (dataFailed_ || closed_) {
                allSent = false;
                break;
            }
            if (!connected(i)) {
                tipSection(i, u"接收郵件資料錯誤");
                a.status = a.section + u"接收郵件資料錯誤";
                statusBar(a.status);
                allSent = false;
                break;
            }
            sendOn(i, "TOP " + std::to_string(t) + (model_.PreviewLines ? " 3\r\n" : " 0\r\n"));
            WaitSendComplete();
        }
        if (allSent) {
            model_.LastActivity = WholeSecondsNow(p_.clock);
            tipSection(i, u"接收郵件資料中...");
            const bool done = WaitUntil(p_.loop, p_.clock, [this] { return model_.PhaseDone || closed_; }, 35,
                                        [this] { return model_.LastActivity; });
            if (!done) {
                tipSection(i, u"接收郵件資料逾時");
                a.status = a.section + u"接收郵件資料逾時";
                statusBar(a.status);
            }
        }
    }
    statusBar(a.status);
}

void FilterWindow::runAccount(int i, bool recheck) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    std::u16string host;
    std::uint16_t port = 110;
    platform::ResolveResult r;
    const platform::MailSecurity security =
        platform::ParseMailSecurity(profile_.accountValue(a.section, u"Security"));
    const bool hostOk = ParsePop3Host(sessionHost_, host, port) && !host.empty();
    if (hostOk && sessionHost_.find(u':') == std::u16string::npos) port = platform::DefaultPop3Port(security);
    if (hostOk) r = p_.network.resolve(Bytes(host));
    if (closed_) return;
    if (!r.found || !r.ipv4 || r.address.empty()) {
        if (recheck) {
            a.status = u"無法查詢主機" + sessionHost_;
            view_.setTipLabel(a.status);
        } else {
            a.status = u"無法查詢主機IP位置";
            tip(a.status);
        }
        statusBar(a.status);
        return;
    }
    // The socket is made for this connection, so a changed security setting
    // or pin counts from the next session or re-check on.
    a.socket = platform::CreateMailSocket(p_.network.createTcp(), security, Bytes(host),
                                          Bytes(profile_.accountValue(a.section, u"CertSha256")));
    if (!a.socket) throw SessionError("no socket");
    connectAccount(i, r.address, port);
    a.count = 0;
    model_.MessageCounts[static_cast<std::size_t>(i)] = 0;
    const int start = WholeSecondsNow(p_.clock);
    tipSection(i, u"正在連線中...");
    statusBar(a.section + u"正在連線中...");
    const bool loggedIn = WaitUntil(p_.loop, p_.clock, [this] { return model_.PhaseDone || closed_; }, 45, [start] { return start; });
    if (closed_) return;
    if (!loggedIn) {
        a.status = a.section + u"未連上郵件主機(" + sessionHost_ + u")";
        tipSection(i, recheck ? u"未連上郵件主機" : u"未連上郵件主機...");
        statusBar(a.status);
    }
    fetchHeaders(i, recheck);
}

void FilterWindow::enableAfterRun() {
    setMenuEnabledState(MenuEntry::Recheck, true);
    setEnabledState(Control::Command1, true);
    setEnabledState(Control::Command2, true);
    setEnabledState(Control::Command3, true);
}

void FilterWindow::RunFilterSession() {
    int i = 0;
    try {
        accounts_.clear();
        m1_.CheckBusy = true;
        const std::vector<std::u16string> roster = profile_.roster();
        AccountCount_ = 0;
        if (!roster.empty()) {
            setEnabledState(Control::Command1, false);
            setEnabledState(Control::Command2, false);
            setEnabledState(Control::Command3, false);
            SessionStarted_ = true;
            if (UseProgressTip_) view_.showTip();
            if (checked_[3] && !m1_.AutoOpened) view_.minimize();
            accounts_.resize(roster.size());
            model_.resetAccounts(roster);
            for (std::size_t k = 0; k < roster.size(); ++k) {
                accounts_[k].section = roster[k];
                accounts_[k].socket = p_.network.createTcp();
                if (!accounts_[k].socket) throw SessionError("no socket");
            }
            p_.loop.pump(platform::Milliseconds(0));
            AccountCount_ = static_cast<int>(roster.size());
            for (i = 0; i < AccountCount_ && !closed_; ++i) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                sessionUser_ = profile_.accountValue(a.section, u"Account");
                sessionPassword_ = profile_.accountValue(a.section, u"PassWord");
                sessionHost_ = profile_.accountValue(a.section, u"PoP3");
                a.user = sessionUser_;
                accountRows_.push_back({sessionUser_, a.section, 1});
                view_.addAccountRow(sessionUser_, a.section, 1);
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
        reportRunError(u"Check", 5, std::u16string(d.begin(), d.end()));
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

void FilterWindow::Command1_Click() {
    if (closed_) return;
    stopTimer();
    setEnabledState(Control::Command1, false);
    if (AccountCount_ > 0) {
        view_.showTip();
        m1_.NewMailCount = 0;
        for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
            Account& a = accounts_[static_cast<std::size_t>(i)];
            dialogue_ = i;
            m1_.NewMailCount += a.count;
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            for (std::size_t p = 0; p < list(i).size(); ++p) {
                if (!connected(i)) break;
                if (!list(i)[p].Checked) continue;
                ReplyState_ = 7;
                lineBuf_.clear();
                m1_.NewMailCount -= 1;
                // Cleared before the send, so a reply that comes at once is not lost.
                model_.PhaseDone = false;
                const std::int32_t number = static_cast<std::int32_t>(p + 1);
                a.socket->send("DELE " + std::to_string(number) + "\r\n");
                waitPhase(8);
            }
        }
        if (SessionStarted_) logOutAll();
        dialogue_ = -1;
        view_.closeTip();
        p_.loop.pump(platform::Milliseconds(0));
    }
    // Unloaded meanwhile (the system ends the session): the connections are
    // gone without QUIT, so the server deletes nothing, and no mail program
    // is started.
    if (closed_) return;
    remainingAfterRun_ = m1_.NewMailCount;
    startMailProgram();
    main_.setTrayMenuEnabled(TrayMenuEntry::Exit, true);
    if (m1_.Online) main_.setTrayMenuEnabled(TrayMenuEntry::CheckNow, true);
    m1_.AutoOpened = false;
    m1_.CheckBusy = false;
    closed_ = true;
    view_.closeWindow();
    Form_Unload();
}

void FilterWindow::logOutAll() {
    for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
        if (!connected(i)) continue;
        Account& a = accounts_[static_cast<std::size_t>(i)];
        dialogue_ = i;
        statusBar(u"切斷信箱(" + a.section + u")的連線中....");
        view_.setTipLabel(a.section + u"\r\n\r\n結束連線中...");
        ReplyState_ = 8;
        lineBuf_.clear();
        // Cleared before the send, so a reply that comes during the send wait is not lost.
        model_.PhaseDone = false;
        a.socket->send("QUIT\r\n");
        WaitSendComplete();
        waitPhase(8);
        a.socket->close();
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
    if (!checked_[0] || kNumbers[comboPos_] > m1_.NewMailCount) return;
    const auto dot = value->find(u'.');
    const std::u16string command = dot == std::u16string::npos ? value->substr(0, 4) : value->substr(0, dot + 5);
    p_.shell.startCommandLine(command);  // a command that does not start is not reported
}

void FilterWindow::Timer1_Timer() {
    if (m1_.AutoOpened) {
        m1_.AutoOpened = false;
        stopTimer();
        RunFilterSession();
        return;
    }
    if (CountdownTicks_ < 31) {
        setLabel2(Num(30 - CountdownTicks_) + u" 秒後自動執行刪除");
        ++CountdownTicks_;
    } else {
        stopTimer();
        Command1_Click();
    }
}

void FilterWindow::Command2_Click() {
    if (model_.VisibleList.empty() || CopyBusy_) return;
    for (std::size_t p = 0; p < model_.VisibleList.size(); ++p) {
        model_.VisibleList[p].Checked = true;
        view_.setMessageChecked(static_cast<int>(p), true);
        if (model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size())) {
            auto& rows = list(model_.ShownList - 1);
            if (p < rows.size()) rows[p].Checked = true;
        }
    }
}

void FilterWindow::Command3_Click() {
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
        sessionUser_ = profile_.accountValue(a.section, u"Account");
        sessionPassword_ = profile_.accountValue(a.section, u"PassWord");
        sessionHost_ = profile_.accountValue(a.section, u"PoP3");
        model_.VisibleList.clear();
        view_.clearMessages();
        const bool savedTip = UseProgressTip_;
        UseProgressTip_ = true;
        view_.showTip();
        dialogue_ = ai;
        lineBuf_.clear();  // a piece of an earlier account's reply is no part of these
        if (connected(ai)) {
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            for (std::size_t p = 0; p < list(ai).size(); ++p) {
                if (!list(ai)[p].Checked) continue;
                ReplyState_ = 7;
                model_.PhaseDone = false;
                const std::int32_t number = static_cast<std::int32_t>(p + 1);
                a.socket->send("DELE " + std::to_string(number) + "\r\n");
                waitPhase(5);
            }
            ReplyState_ = 8;
            model_.PhaseDone = false;
            a.socket->send("QUIT\r\n");
            WaitSendComplete();
            waitPhase(10);
        }
        a.socket->close();
        {
            const int start = WholeSecondsNow(p_.clock);
            WaitUntil(p_.loop, p_.clock, [&a] { return a.socket->state() == platform::SocketState::Closed; }, 3,
                      [start] { return start; });
        }
        if (closed_) return;  // unloaded while logging out: do not connect again
        list(ai).clear();
        a.count = 0;
        model_.MessageCounts[static_cast<std::size_t>(ai)] = 0;
        ReplyState_ = 0;
        statusBar(u"查詢主機IP位置中...");
        view_.setTipLabel(u"查詢主機IP位置中...");
        runAccount(ai, true);
        UseProgressTip_ = savedTip || UseProgressTip_;
        dialogue_ = -1;
        if (closed_) return;
        model_.ShownList = ai + 1;
        view_.closeTip();
        statusBar(a.status);
        enableAfterRun();
    } catch (const std::exception& e) {
        const std::string d = e.what();
        reportRunError(u"Recheck", 5, std::u16string(d.begin(), d.end()));
        a.status = u"接收帳號(" + a.section + u")" + u"失敗!..";
        statusBar(a.status);
        model_.ShownList = ai + 1;
        dialogue_ = -1;
        view_.closeTip();
        enableAfterRun();
    }
}

}  // namespace iw::filter
