// The POP3 filter session over every account, its receive handler and waits,
// the deletion run with the countdown, and the re-check of one account.
#include <algorithm>
#include <cmath>
#include <exception>

#include "filter/filter_window.h"
#include "platform/waits.h"
#include "platform/tls_socket.h"
#include "filter/header_parser.h"
#include "auth/oauth_client.h"
#include "pop3/address.h"
#include "pop3/mailbox.h"
#include "pop3/server_memory.h"

namespace iw::filter {

namespace {

// The error number the message box shows, before its tag ("Check",
// "Recheck"), when an unexpected error ends the session or the re-check.
constexpr int kUnexpectedErrorNumber = 5;

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

// The start mark of a wait, in whole seconds on the wait clock.
int WholeSecondsNow(const platform::SystemClock& clock) { return platform::StartMark(clock) % platform::kSecondsPerDay; }

// Pumps until `done` holds (true) or more than `limitSeconds` have passed
// since `start()` (false). `start` is read again at every check, so a start
// that moves forward (the header wait's last activity) makes the wait an
// inactivity limit.
bool WaitUntil(platform::EventLoop& loop, const platform::SystemClock& clock, const std::function<bool()>& done,
               int limitSeconds, const std::function<int()>& start) {
    for (;;) {
        if (done()) return true;
        const int s = start();
        if (platform::ElapsedSeconds(s, clock) > limitSeconds) return false;
        // Sleep at most until the elapsed value could pass the limit.
        const double exact = std::fmod(platform::WaitSecondsNow(clock) + 86400.0 - s, 86400.0);
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

void FilterWindow::touchActivity() { model_.LastActivity = platform::StartMark(p_.clock) % platform::kSecondsPerDay; }

namespace {

// What each command sent on an account's connection was, so its reply goes
// to the step that asked for it.
// The login's own commands carry the login step's tags (pop3::IsLoginTag).
enum Tag { kStat = 1, kList, kTop, kSync, kDele, kQuit };

// The texts of a connection that ended by itself.
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

bool FilterWindow::connected(int i) const {
    const auto& c = accounts_[static_cast<std::size_t>(i)].conn;
    return c && c->connected();
}

void FilterWindow::sendOn(int i, const std::string& line, int tag, pop3::Shape shape) {
    auto& c = accounts_[static_cast<std::size_t>(i)].conn;
    if (!c) throw SessionError("socket missing");
    c->send({line, shape, tag, 0});
}

// Every socket of account i comes from here: plain, or TLS checked against
// the account's host name and pin, as its settings say at that moment.
std::unique_ptr<platform::TcpSocket> FilterWindow::makeSocket(int i) {
    const std::u16string& section = accounts_[static_cast<std::size_t>(i)].section;
    const platform::MailSecurity security = platform::ParseMailSecurity(profile_.accountValue(section, u"Security"));
    if (security == platform::MailSecurity::Plain) return p_.network.createTcp();
    const auto address = pop3::ParseServerAddress(profile_.accountValue(section, u"PoP3"), security);
    return platform::CreateMailSocket(p_.network.createTcp(), security, address ? address->host : std::string(),
                                      Bytes(profile_.accountValue(section, u"CertSha256")));
}

void FilterWindow::makeConnection(int i) {
    std::weak_ptr<bool> alive = alive_;
    Account& a = accounts_[static_cast<std::size_t>(i)];
    // The account's socket is made now, at the session's start, as the
    // first one the connection uses; every later connect makes a fresh one.
    auto first = std::make_shared<std::unique_ptr<platform::TcpSocket>>(makeSocket(i));
    if (!*first) throw SessionError("no socket");
    a.conn = std::make_unique<pop3::Connection>(
        [this, first, i]() -> std::unique_ptr<platform::TcpSocket> {
            if (*first) return std::move(*first);
            return makeSocket(i);
        },
        limits_);
    pop3::Connection::Handlers h;
    h.reply = [this, alive, i](const pop3::Reply& r) {
        auto live = alive.lock();
        if (!live || !*live) return;
        try {
            onReply(i, r);
        } catch (...) {
            // The receive handler never lets an exception into the loop.
        }
    };
    h.sendComplete = [this, alive, i] {
        auto live = alive.lock();
        if (live && *live) sendComplete(i);
    };
    h.ended = [this, alive, i](pop3::End why) {
        auto live = alive.lock();
        if (!live || !*live) return;
        try {
            onEnded(i, why);
        } catch (...) {
        }
    };
    a.conn->setHandlers(std::move(h));
}

void FilterWindow::sendComplete(int) { SendDone_ = true; }

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

// Every reply comes here matched to the command that asked for it.
void FilterWindow::onReply(int i, const pop3::Reply& r) {
    // Replies only count for the account in dialogue: a late reply of
    // another account is no answer to what this one awaits.
    if (i != dialogue_) return;
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (pop3::IsLoginTag(r.tag)) {
        loginReply(i, r);
        return;
    }
    switch (r.tag) {
        case kStat:
            if (!r.ok) {
                listingFailed_ = true;
                a.status = a.section + u"接收郵件資料錯誤";
                statusBar(a.status);
                break;
            }
            statusReply(i, r.text);
            break;
        case kList:
            listingReply(i, r);
            break;
        case kTop:
            topReply(i, r);
            break;
        case kSync:
            // The NOOP after the last TOP: its "+OK" must come right after
            // exactly one reply per TOP. Anything else (a reply too many
            // shifted everything by one) means the rows cannot be trusted.
            if (!r.ok || replyNumber_ != a.count) {
                a.conn->distrust();
                holdRows(i);
                ended_ = true;
                a.status = a.section + kOutOfStepText;
                tipSection(i, kOutOfStepText);
                statusBar(a.status);
            } else {
                // Every TOP, sent back to back, was answered in step: the
                // DELEs may go the same way.
                a.pipelines = true;
            }
            synced_ = true;
            break;
        case kDele:
            if (r.ok) ++deleOks_;
            ++deleReplies_;
            lastDeleReply_ = WholeSecondsNow(p_.clock);
            model_.PhaseDone = true;
            fillWindow(i);
            break;
        case kQuit:
            quitOk_ = r.ok;
            model_.PhaseDone = true;
            a.conn->close();
            break;
        default:
            break;
    }
}

void FilterWindow::loginRejected(int i, const std::string& refusal) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    model_.PhaseDone = true;
    // A response code says what the user can do; without one, the old text.
    const std::u16string coded = pop3::ResponseCodeText(pop3::ParseResponseCode(refusal));
    a.status = coded.empty() ? u"使用者名稱或密碼錯誤!" : a.section + coded;
    tipSection(i, coded.empty() ? a.status : coded);
    statusBar(a.status);
}

// A reply to the login step's commands: the greeting, CAPA, USER, PASS, AUTH.
void FilterWindow::loginReply(int i, const pop3::Reply& r) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (!a.login) return;
    a.login->onReply(r);
    if (!a.login->done()) return;
    const pop3::LoginVerdict verdict = pop3::JudgeLogin(*a.login, a.prepared);
    pop3::ServerMemory& memory = pop3::ServerMemory::program();
    if (verdict != pop3::LoginVerdict::LoggedIn) memory.forgetCapabilities(a.serverKey);
    switch (verdict) {
    case pop3::LoginVerdict::TlsFailed: {
        // STLS refused or bytes injected behind its "+OK": nothing was sent
        // in plain, and the account ends with what failed.
        a.conn->close();
        ended_ = true;
        model_.PhaseDone = true;
        const std::u16string tls = platform::TlsStatusText(a.login->tlsFailure());
        a.status = a.section + tls;
        tipSection(i, tls);
        statusBar(a.status);
        break;
    }
    case pop3::LoginVerdict::GreetingRefused:
        // Not a server that lets us in: the account ends at once with the
        // text of a server that cannot be reached.
        a.conn->close();
        ended_ = true;
        model_.PhaseDone = true;
        a.status = a.section + u"未連上郵件主機(" + sessionHost_ + u")";
        tipSection(i, u"未連上郵件主機...");
        statusBar(a.status);
        break;
    case pop3::LoginVerdict::NoMechanism:
    case pop3::LoginVerdict::FalseSuccess: {
        // No login: an OAuth2 account whose server offers no token login, or
        // a "+OK" that came after the server had refused the token.
        a.conn->close();
        ended_ = true;
        model_.PhaseDone = true;
        const std::u16string why =
            verdict == pop3::LoginVerdict::NoMechanism ? u"伺服器不提供OAuth2登入" : u"伺服器回應錯誤..";
        a.status = a.section + why;
        tipSection(i, why);
        statusBar(a.status);
        break;
    }
    case pop3::LoginVerdict::TokenRefused:
        // The caller refreshes the token once and tries once more; this
        // text stays when that does not help.
        tokenRefused_ = true;
        model_.PhaseDone = true;
        a.status = a.section + auth::SignInAgainText();
        tipSection(i, auth::SignInAgainText());
        statusBar(a.status);
        break;
    case pop3::LoginVerdict::UserRefused:
    case pop3::LoginVerdict::Refused:
        loginRejected(i, a.login->refusal());
        break;
    case pop3::LoginVerdict::LoggedIn:
        memory.rememberCapabilities(a.serverKey, a.login->capabilities(), a.login->greeting());
        memory.loggedIn(a.serverKey, pop3::SecondsNow(p_.clock));
        a.pipelining = a.login->capabilities().pipelining && !forceWindow_;
        ListingDone_ = false;
        LoggedIn_ = true;
        model_.PhaseDone = true;
        ReplyState_ = 3;
        // STAT and LIST together, after PASS was answered: never across the
        // end of the login. In one write where the server lists PIPELINING,
        // in the window (a write each) otherwise.
        statCount_ = 0;
        if (a.pipelining) {
            a.conn->sendAll({{"STAT", pop3::Shape::Line, kStat, 0},
                             {"LIST", pop3::Shape::MultiLine, kList, limits_.listing}});
        } else {
            a.window.push_back({"STAT", pop3::Shape::Line, kStat, 0});
            a.window.push_back({"LIST", pop3::Shape::MultiLine, kList, limits_.listing});
            fillWindow(i);
        }
        tipSection(i, u"正在取得郵件數...");
        statusBar(a.section + u"正在取得郵件數...");
        break;
    case pop3::LoginVerdict::Ended: break;
    }
}

// The rows of an account whose replies went out of step stay visible, but
// none is checked and none can be: which message a row stands for is no
// longer known.
void FilterWindow::holdRows(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    a.held = true;
    a.window.clear();
    for (MessageEntry& e : list(i)) e.Checked = false;
    if (model_.ShownList == i + 1 || dialogue_ == i) {
        for (std::size_t k = 0; k < model_.VisibleList.size(); ++k) {
            if (!model_.VisibleList[k].Checked) continue;
            model_.VisibleList[k].Checked = false;
            view_.setMessageChecked(static_cast<int>(k), false);
        }
    }
}

// The account's connection ended by itself: refused, reset or closed by the
// server, out of step, or a limit broken. Every wait for it ends at once.
void FilterWindow::onEnded(int i, pop3::End why) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (a.login && !a.login->done()) {
        a.login->onEnded();
        pop3::ServerMemory::program().forgetCapabilities(a.serverKey);
    }
    if (why == pop3::End::OutOfStep) holdRows(i);
    if (i != dialogue_) return;
    model_.PhaseDone = true;
    if (deletionRunning_) return;  // the deletion run tells its own outcome
    ended_ = true;
    if (why == pop3::End::OutOfStep) {
        a.status = a.section + kOutOfStepText;
        tipSection(i, kOutOfStepText);
    } else if (why == pop3::End::TooLarge) {
        a.status = a.section + kTooLargeText;
        tipSection(i, kTooLargeText);
    } else if (const std::u16string tls = platform::MailSocketFailureText(
                   a.conn->socket(), a.conn->socket() ? a.conn->socket()->lastError() : 0);
               !tls.empty()) {
        // A refused certificate or STLS, a failed handshake: nothing was sent.
        // A cut TLS connection after the login: what was fetched is kept as
        // for any hang-up, and the closed connection takes no DELE.
        a.status = a.section + tls;
        tipSection(i, tls);
    } else if (!LoggedIn_) {
        a.status = a.section + u"未連上郵件主機(" + sessionHost_ + u")";
        tipSection(i, u"未連上郵件主機...");
    } else {
        a.status = a.section + u"接收郵件資料錯誤";
        tipSection(i, u"接收郵件資料錯誤");
    }
    statusBar(a.status);
}

void FilterWindow::statusReply(int i, const std::string& data) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    model_.clearListing();
    const pop3::StatReply stat = pop3::ParseStat(data);
    // A count below zero is no count: nothing waits.
    a.count = stat.count;
    model_.MessageCounts[static_cast<std::size_t>(i)] = a.count;
    a.size = stat.size;
    if (a.count < 1) {
        tipSection(i, u"沒有新郵件...");
        a.status = u"信箱(" + a.section + u")沒有新郵件... ";
        statCount_ = 0;
    } else {
        a.status = u"信箱(" + a.section + u")有" + Num(a.count) + u"封新郵件,共有" + KbText(a.size) + u"KB...";
        if (m1_.prefs.options.fetchInBatches && a.count > 500) {
            a.status += u"先下載前" + Num(a.count / 2) + u"封";
            a.count /= 2;
        }
        statCount_ = a.count;
        ReplyState_ = 4;
        // The LIST went out with the STAT; its reply follows.
        tipSection(i, u"正在接收郵件資料...");
        statusBar(a.section + u"正在接收郵件資料...");
    }
    statusBar(a.status);
}

// The LIST reply, read by message number: row n of the account's list will be
// the n-th message LIST names (in ascending order), with the size LIST gives
// for that number. Messages LIST does not name are not fetched; numbers above
// what STAT announced are not fetched either (STAT is only an upper bound).
// A line that is not "number size", or a number named twice, means the
// listing cannot be trusted: the account goes out of step.
void FilterWindow::listingReply(int i, const pop3::Reply& r) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (!r.ok) {
        listingFailed_ = true;
        a.status = a.section + u"接收郵件資料錯誤";
        statusBar(a.status);
        return;
    }
    if (listingFailed_) return;  // STAT was refused: nothing to read by
    const pop3::Listing listing_ = pop3::ParseListing(r.text, statCount_);
    const auto& entries = listing_.entries;
    const bool wrong = !listing_.trusted;
    if (wrong) {
        a.conn->distrust();
        holdRows(i);
        ended_ = true;
        listingFailed_ = true;
        a.status = a.section + kOutOfStepText;
        tipSection(i, kOutOfStepText);
        statusBar(a.status);
        return;
    }
    a.numbers.clear();
    std::string listing;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        a.numbers.push_back(static_cast<std::int32_t>(entries[k].first));
        // The parser reads the size of row n from a line "n size".
        listing += std::to_string(k + 1) + " " + entries[k].second + "\r\n";
    }
    a.count = static_cast<std::int32_t>(a.numbers.size());
    model_.MessageCounts[static_cast<std::size_t>(i)] = a.count;
    model_.setListing(std::move(listing));
    ListingDone_ = true;
}

void FilterWindow::topReply(int i, const pop3::Reply& r) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (a.held) return;
    if (replyNumber_ >= a.count) {
        // A TOP reply more than TOPs sent came where the NOOP's is due.
        a.conn->distrust();
        holdRows(i);
        ended_ = true;
        a.status = a.section + kOutOfStepText;
        statusBar(a.status);
        return;
    }
    ++replyNumber_;
    touchActivity();
    // A one-line error reply to a TOP (the message went away meanwhile, or
    // the server refuses it) still stands for its message: it takes its row,
    // unchecked.
    parseReply(i, r.text, !r.ok);
    if (closed_) return;
    fillWindow(i);
    if (rowBytes_ > maxRowBytes_) {
        a.conn->close();
        ended_ = true;
        model_.PhaseDone = true;
        a.status = a.section + kTooLargeText;
        tipSection(i, kTooLargeText);
        statusBar(a.status);
        return;
    }
}

// A server that does not list PIPELINING gets its commands a few at a
// time: at most pop3::kWindowWithoutPipelining unanswered, each in a write
// of its own, the next one sent as a reply comes in. The NOOP at the end of
// the TOPs still proves that every reply came in step.
void FilterWindow::fillWindow(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    while (!a.window.empty() && a.conn && a.conn->usable() && !a.held &&
           a.conn->outstanding() < pop3::kWindowWithoutPipelining) {
        const pop3::Command c = a.window.front();
        a.window.pop_front();
        a.conn->send(c);
    }
}

// Makes the account's login ready and connects. False when there is no
// login to make (an OAuth2 account without TLS or without a usable token):
// the account's status then says why, and nothing was sent.
bool FilterWindow::connectAccount(int i, const std::string& address, std::uint16_t port,
                                  const pop3::ServerAddress& server, bool refreshToken) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    dialogue_ = i;
    // The login flags belong to this account alone, not to the one before.
    LoggedIn_ = false;
    ListingDone_ = false;
    ended_ = false;
    listingFailed_ = false;
    tokenRefused_ = false;
    a.held = false;
    a.pipelines = false;
    a.pipelining = false;
    a.window.clear();
    a.numbers.clear();
    ReplyState_ = 0;
    model_.PhaseDone = false;
    a.conn->setLimits(limits_);
    a.login.reset();
    // The password, or the account's stored OAuth2 token; what the server
    // listed last time spares the CAPA round trip unless the greeting changed.
    pop3::LoginAccount account;
    account.address = a.section;
    account.user = sessionUser_;
    account.password = profile_.unscramblePassword(sessionPassword_);
    account.security = platform::ParseMailSecurity(profile_.accountValue(a.section, u"Security"));
    const auto u8 = [&](const char16_t* key) {
        return p_.codePage.fromUtf16(platform::kUtf8, profile_.accountValue(a.section, key));
    };
    account.oauth = {u8(u"Auth"),          u8(u"OAuthProvider"),     u8(u"OAuthTenant"),
                     u8(u"OAuthClientId"), u8(u"OAuthClientSecret"), u8(u"OAuthAuthorizeUrl"),
                     u8(u"OAuthTokenUrl"), u8(u"OAuthDeviceUrl"),    u8(u"OAuthScope")};
    if (!credentials_) credentials_ = std::make_unique<pop3::AccountCredentials>(p_, m1_.identity.AppPath);
    a.prepared = credentials_->prepare(account, server, a.serverKey, refreshToken);
    if (!a.prepared.ok) {
        ended_ = true;
        model_.PhaseDone = true;
        a.status = a.section + a.prepared.status;
        tipSection(i, a.prepared.status);
        statusBar(a.status);
        return false;
    }
    a.login = std::make_unique<pop3::Login>(*a.conn, a.prepared.request);
    a.login->setSentHandler([this, i](int tag) {
        if (tag == pop3::kTagUser || tag == pop3::kTagAuth) {
            ReplyState_ = 1;
            const std::u16string t = u"傳送帳號(" + sessionUser_ + u")";
            statusBar(t);
            tipSection(i, t);
        } else if (tag == pop3::kTagPass) {
            ReplyState_ = 2;
            statusBar(u"傳送密碼...");
            tipSection(i, u"傳送密碼...");
        }
    });
    a.conn->connect(address, port, pop3::kTagGreeting);
    if (!a.conn->socket()) throw SessionError("no socket");
    a.login->start();  // over TLS the login may go out before the greeting
    return true;
}

void FilterWindow::fetchHeaders(int i, bool recheck) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (LoggedIn_ && !ended_ && !listingFailed_) {
        const int start = WholeSecondsNow(p_.clock);
        const bool done = WaitUntil(p_.loop, p_.clock,
                                    [this] { return ListingDone_ || ended_ || listingFailed_ || closed_; }, 30,
                                    [start] { return start; });
        if (!done) {
            // The listing still missing: nothing later on this connection
            // can be matched to its command.
            a.conn->replyMissing();
            holdRows(i);
            a.status = a.section + u"接收郵件資料錯誤";
            statusBar(a.status);
        }
    }
    if (closed_) return;
    if (recheck) {
        model_.PreviewLines = checked_[1];
        applyListLayout();
    }
    if (a.count > 0 && ListingDone_ && !ended_ && a.conn->usable()) {
        model_.PhaseDone = false;
        synced_ = false;
        replyNumber_ = 0;
        ReplyState_ = 5;
        bool allSent = true;
        // Every TOP goes out back to back, a few hundred to a write, where
        // the server lists PIPELINING; a window of them otherwise.
        constexpr std::size_t kPerWrite = 256;
        if (!a.pipelining) {
            for (std::int32_t n : a.numbers)
                a.window.push_back({"TOP " + std::to_string(n) + (model_.PreviewLines ? " 3" : " 0"),
                                    pop3::Shape::MultiLine, kTop, 0});
            a.window.push_back({"NOOP", pop3::Shape::Line, kSync, 0});
            fillWindow(i);
        }
        for (std::size_t t = 0; a.pipelining && t < a.numbers.size(); t += kPerWrite) {
            if (ended_ || closed_) {
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
            std::vector<pop3::Command> batch;
            for (std::size_t k = t; k < std::min(a.numbers.size(), t + kPerWrite); ++k)
                batch.push_back({"TOP " + std::to_string(a.numbers[k]) + (model_.PreviewLines ? " 3" : " 0"),
                                 pop3::Shape::MultiLine, kTop, 0});
            if (t + kPerWrite >= a.numbers.size()) batch.push_back({"NOOP", pop3::Shape::Line, kSync, 0});
            a.conn->sendAll(batch);
            WaitSendComplete();
        }
        if (allSent && !ended_) {
            model_.LastActivity = WholeSecondsNow(p_.clock);
            tipSection(i, u"接收郵件資料中...");
            // An inactivity limit, and an overall one: a server trickling its
            // replies cannot hold the window for long.
            const int overall = kHeaderPhaseSeconds + static_cast<int>(kHeaderPhaseSecondsPerMessage * a.count);
            const int phaseStart = WholeSecondsNow(p_.clock);
            const bool done = WaitUntil(
                p_.loop, p_.clock,
                [&] {
                    return synced_ || closed_ || ended_ || platform::ElapsedSeconds(phaseStart, p_.clock) > overall;
                },
                35, [this] { return model_.LastActivity; });
            const bool complete = synced_ && replyNumber_ >= a.count && !ended_;
            if (!closed_ && !ended_ && (!done || !complete)) {
                // Replies still missing: a server that skipped one cannot
                // be told from one that answers late, so no row is trusted.
                a.conn->replyMissing();
                holdRows(i);
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
    platform::ResolveResult r;
    const auto address = pop3::ParseServerAddress(
        sessionHost_, platform::ParseMailSecurity(profile_.accountValue(a.section, u"Security")));
    if (address) r = p_.network.resolve(address->host);
    if (closed_) return;
    if (!r.found || r.address.empty()) {
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
    const std::uint16_t port = address->port;
    a.serverKey = pop3::ServerMemory::key(address->host, port, p_.codePage.fromUtf16(platform::kBig5, sessionUser_));
    // A server's LOGIN-DELAY: never log in again before it has passed.
    if (const std::int64_t left =
            pop3::ServerMemory::program().loginDelayLeft(a.serverKey, pop3::SecondsNow(p_.clock))) {
        a.count = 0;
        model_.MessageCounts[static_cast<std::size_t>(i)] = 0;
        a.status = a.section + pop3::LoginDelayText(left);
        tipSection(i, pop3::LoginDelayText(left));
        statusBar(a.status);
        return;
    }
    a.count = 0;
    model_.MessageCounts[static_cast<std::size_t>(i)] = 0;
    // An OAuth2 account whose token the server refused: the token is
    // refreshed once and the login tried once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connectAccount(i, r.address, port, *address, attempt > 0)) break;
        const int start = WholeSecondsNow(p_.clock);
        tipSection(i, u"正在連線中...");
        statusBar(a.section + u"正在連線中...");
        const bool loggedIn =
            WaitUntil(p_.loop, p_.clock, [this] { return model_.PhaseDone || closed_; }, 45, [start] { return start; });
        if (closed_) return;
        if (!loggedIn) {
            a.conn->close();  // a greeting that comes later is no part of anything
            a.status = a.section + u"未連上郵件主機(" + sessionHost_ + u")";
            tipSection(i, recheck ? u"未連上郵件主機" : u"未連上郵件主機...");
            statusBar(a.status);
        }
        if (!tokenRefused_) break;
        a.conn->close();
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
            for (std::size_t k = 0; k < roster.size(); ++k) {
                accounts_[k].section = roster[k];
                makeConnection(static_cast<int>(k));
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
                view_.addAccountRow(sessionUser_, a.section, kAccountIconInSession);
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

// DELE for every checked row of account i. On a connection whose TOP replies
// all came back in step, every DELE goes out back to back and the replies are
// awaited together: `limitSeconds` is then the longest silence allowed
// between two replies, so a silent server costs that once, not once per
// message. Elsewhere one DELE at a time, each awaited up to `limitSeconds`.
// Nothing is sent on a connection that went out of step or is gone. A DELE
// still unanswered when its wait ends leaves the connection out of step, so
// no QUIT follows and the server deletes nothing.
void FilterWindow::sendDeletions(int i, int limitSeconds, bool testEach) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    deleOks_ = 0;
    deleAsked_ = 0;
    deleReplies_ = 0;
    quitOk_ = false;
    // Whatever the server sent meanwhile is framed first: a reply nobody
    // asked for puts the account out of step before any DELE goes out.
    p_.loop.pump(platform::Milliseconds(0));
    if (a.held || !a.conn || !a.conn->usable() || closed_) return;
    std::vector<std::int32_t> numbers;
    for (std::size_t p = 0; p < list(i).size() && p < a.numbers.size(); ++p)
        if (list(i)[p].Checked) numbers.push_back(a.numbers[p]);
    if (numbers.empty()) return;
    ReplyState_ = 7;
    if (a.pipelines && pipelineDeletions_ && !a.pipelining) {
        // A window of DELEs for a server that does not list PIPELINING.
        for (std::int32_t n : numbers) a.window.push_back({"DELE " + std::to_string(n), pop3::Shape::Line, kDele, 0});
        deleAsked_ = static_cast<int>(numbers.size());
        fillWindow(i);
        lastDeleReply_ = WholeSecondsNow(p_.clock);
        const bool all = WaitUntil(
            p_.loop, p_.clock,
            [&] { return deleReplies_ >= deleAsked_ || !a.conn->usable() || closed_; }, limitSeconds,
            [this] { return lastDeleReply_; });
        if (!all && !closed_) a.conn->replyMissing();
        // DELEs never sent (the connection went out of step) are no DELEs asked.
        deleAsked_ -= static_cast<int>(a.window.size());
        a.window.clear();
        return;
    }
    if (a.pipelines && pipelineDeletions_) {
        constexpr std::size_t kPerWrite = 512;
        for (std::size_t t = 0; t < numbers.size(); t += kPerWrite) {
            std::vector<pop3::Command> batch;
            for (std::size_t k = t; k < std::min(numbers.size(), t + kPerWrite); ++k)
                batch.push_back({"DELE " + std::to_string(numbers[k]), pop3::Shape::Line, kDele, 0});
            deleAsked_ += static_cast<int>(batch.size());
            a.conn->sendAll(batch);
        }
        lastDeleReply_ = WholeSecondsNow(p_.clock);
        const bool all = WaitUntil(
            p_.loop, p_.clock,
            [&] { return deleReplies_ >= deleAsked_ || !a.conn->usable() || closed_; }, limitSeconds,
            [this] { return lastDeleReply_; });
        if (!all && !closed_) a.conn->replyMissing();
        return;
    }
    for (std::int32_t n : numbers) {
        if (!a.conn->usable() || closed_) break;
        if (testEach && !connected(i)) break;
        // Cleared before the send, so a reply that comes at once is not lost.
        model_.PhaseDone = false;
        ++deleAsked_;
        sendOn(i, "DELE " + std::to_string(n), kDele);
        if (!waitPhase(limitSeconds) && !closed_) a.conn->replyMissing();
    }
}

// QUIT on account i when its connection is still usable, then closes it.
// The messages count as deleted only when the server answered every DELE
// and the QUIT that commits them with "+OK".
void FilterWindow::quitAccount(int i, int limitSeconds) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    if (a.conn && a.conn->usable() && !a.held) {
        ReplyState_ = 8;
        model_.PhaseDone = false;
        quitOk_ = false;
        sendOn(i, "QUIT", kQuit);
        WaitSendComplete();
        waitPhase(limitSeconds);
    }
    if (a.conn) a.conn->close();
    a.deleted = quitOk_ ? deleOks_ : 0;
    reportDeletion(i);
}

// A deletion that the server did not confirm is said so, on the status bar
// and on the tray tip, for that account.
void FilterWindow::reportDeletion(int i) {
    Account& a = accounts_[static_cast<std::size_t>(i)];
    const int wanted = static_cast<int>(std::count_if(list(i).begin(), list(i).end(),
                                                      [](const MessageEntry& e) { return e.Checked; }));
    a.deleteFailed = a.deleted < wanted || a.deleted < deleAsked_;
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
        std::vector<std::pair<int, int>> asked(accounts_.size());  // DELE +OK, DELEs sent
        for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
            Account& a = accounts_[static_cast<std::size_t>(i)];
            dialogue_ = i;
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            sendDeletions(i, 8, true);
            asked[static_cast<std::size_t>(i)] = {deleOks_, deleAsked_};
        }
        if (SessionStarted_) {
            for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                dialogue_ = i;
                deleOks_ = asked[static_cast<std::size_t>(i)].first;
                deleAsked_ = asked[static_cast<std::size_t>(i)].second;
                quitOk_ = false;
                if (a.conn && a.conn->usable()) {
                    statusBar(u"切斷信箱(" + a.section + u")的連線中....");
                    view_.setTipLabel(a.section + u"\r\n\r\n結束連線中...");
                }
                quitAccount(i, 8);
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
    for (auto& a : accounts_)
        if (a.conn) a.conn->close();
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
    for (int i = 0; i < AccountCount_ && i < static_cast<int>(accounts_.size()); ++i) {
        Account& a = accounts_[static_cast<std::size_t>(i)];
        if (!a.conn || !a.conn->usable()) {
            if (a.conn) a.conn->close();
            continue;
        }
        dialogue_ = i;
        statusBar(u"切斷信箱(" + a.section + u")的連線中....");
        view_.setTipLabel(a.section + u"\r\n\r\n結束連線中...");
        ReplyState_ = 8;
        // Cleared before the send, so a reply that comes during the send wait is not lost.
        model_.PhaseDone = false;
        sendOn(i, "QUIT", kQuit);
        WaitSendComplete();
        waitPhase(8);
        a.conn->close();
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
        sessionUser_ = profile_.accountValue(a.section, u"Account");
        sessionPassword_ = profile_.accountValue(a.section, u"PassWord");
        sessionHost_ = profile_.accountValue(a.section, u"PoP3");
        model_.VisibleList.clear();
        view_.clearMessages();
        const bool savedTip = UseProgressTip_;
        UseProgressTip_ = true;
        view_.showTip();
        dialogue_ = ai;
        sessionRunning_ = true;
        if (a.conn && a.conn->usable() && !a.held) {
            statusBar(a.section + u"執行過濾中...");
            view_.setTipLabel(a.section + u"\r\n\r\n執行過濾中...");
            deletionRunning_ = true;
            sendDeletions(ai, 5, false);
            quitAccount(ai, 10);
            deletionRunning_ = false;
        } else {
            if (a.conn) a.conn->close();
            a.deleted = 0;
        }
        {
            const int start = WholeSecondsNow(p_.clock);
            WaitUntil(p_.loop, p_.clock, [&a] { return !a.socket() || a.socket()->state() == platform::SocketState::Closed; }, 3,
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
