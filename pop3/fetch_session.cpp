// The filter's POP3 session; see fetch_session.h.
#include "pop3/fetch_session.h"

#include <algorithm>
#include <cmath>

#include "auth/oauth_client.h"
#include "platform/tls_socket.h"
#include "platform/waits.h"
#include "pop3/address.h"
#include "pop3/capabilities.h"
#include "pop3/server_memory.h"

namespace iw::pop3 {

namespace {

// What each command sent on an account's connection was, so its reply goes
// to the step that asked for it. The login's own commands carry the login
// step's tags (IsLoginTag).
enum Tag { kStat = 1, kList, kTop, kSync, kDele, kQuit };

// TOPs go out a few hundred to a write, DELEs a few more.
constexpr std::size_t kTopsPerWrite = 256;
constexpr std::size_t kDelesPerWrite = 512;

// Whole seconds since midnight on the wait clock.
int WholeSecondsNow(const platform::SystemClock& clock) { return platform::StartMark(clock) % platform::kSecondsPerDay; }

// Pumps until `done` holds (true) or more than `limitSeconds` have passed
// since `start()` (false). `start` is read again at every check, so a start
// that moves forward (the last reply's time) makes the wait an inactivity
// limit.
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

std::string TopCommand(std::int32_t number, bool previewLines) {
    return "TOP " + std::to_string(number) + (previewLines ? " 3" : " 0");
}

}  // namespace

FetchSession::FetchSession(platform::Platform& platform) : p_(platform) {}

FetchSession::~FetchSession() {
    // The connections go first: none of their handlers may outlive the rest.
    for (auto& a : accounts_) a.conn.reset();
}

bool FetchSession::usable(int i) const {
    const auto& c = at(i).conn;
    return c && c->usable();
}

bool FetchSession::connected(int i) const {
    const auto& c = at(i).conn;
    return c && c->connected();
}

platform::TcpSocket* FetchSession::socket(int i) const {
    const auto& c = at(i).conn;
    return c ? c->socket() : nullptr;
}

void FetchSession::cancel() {
    cancelled_ = true;
    for (auto& a : accounts_)
        if (a.conn) a.conn->close();
}

void FetchSession::close(int i) {
    if (auto& c = at(i).conn) c->close();
}

void FetchSession::waitClosed(int i, int seconds) {
    const int start = WholeSecondsNow(p_.clock);
    WaitUntil(p_.loop, p_.clock, [this, i] {
        const platform::TcpSocket* s = socket(i);
        return cancelled_ || !s || s->state() == platform::SocketState::Closed;
    }, seconds, [start] { return start; });
}

void FetchSession::send(int i, const std::string& line, int tag) {
    auto& c = at(i).conn;
    if (!c) throw FetchError("socket missing");
    c->send({line, Shape::Line, tag, 0});
}

void FetchSession::waitSendComplete() {
    sendDone_ = false;
    const int start = WholeSecondsNow(p_.clock);
    WaitUntil(p_.loop, p_.clock, [this] { return sendDone_ || cancelled_; }, 10, [start] { return start; });
}

bool FetchSession::waitPhase(int limitSeconds) {
    const int start = WholeSecondsNow(p_.clock);
    return WaitUntil(p_.loop, p_.clock, [this] { return phaseDone_ || cancelled_; }, limitSeconds,
                     [start] { return start; });
}

void FetchSession::endAccount(int i, FetchTrouble trouble, const std::u16string& detail) {
    ended_ = true;
    phaseDone_ = true;
    report_->trouble(i, trouble, detail);
}

// Every socket of account i comes from here: plain, or TLS checked against
// the account's host name and pin, as its settings say at that moment.
std::unique_ptr<platform::TcpSocket> FetchSession::makeSocket(int i) {
    const FetchAccount& s = at(i).settings;
    const platform::MailSecurity security = s.login.security;
    if (security == platform::MailSecurity::Plain) return p_.network.createTcp();
    const auto address = ParseServerAddress(s.server, security);
    return platform::CreateMailSocket(p_.network.createTcp(), security, address ? address->host : std::string(),
                                      s.certPin);
}

void FetchSession::makeConnection(int i) {
    Account& a = at(i);
    // The account's socket is made now, at the run's start, as the first
    // one the connection uses; every later connect makes a fresh one.
    auto first = std::make_shared<std::unique_ptr<platform::TcpSocket>>(makeSocket(i));
    if (!*first) throw FetchError("no socket");
    a.conn = std::make_unique<Connection>(
        [this, first, i]() -> std::unique_ptr<platform::TcpSocket> {
            if (*first) return std::move(*first);
            return makeSocket(i);
        },
        limits_);
    Connection::Handlers h;
    h.reply = [this, i](const Reply& r) {
        try {
            onReply(i, r);
        } catch (...) {
            // The receive handler never lets an exception into the loop.
        }
    };
    h.sendComplete = [this] { sendDone_ = true; };
    h.ended = [this, i](End why) {
        try {
            onEnded(i, why);
        } catch (...) {
        }
    };
    a.conn->setHandlers(std::move(h));
}

void FetchSession::begin(const std::u16string& profileFolder, std::vector<FetchAccount> accounts,
                         FetchReport& report) {
    for (auto& a : accounts_) a.conn.reset();
    accounts_.clear();
    if (profileFolder != profileFolder_) credentials_.reset();
    profileFolder_ = profileFolder;
    report_ = &report;
    dialogue_ = -1;
    accounts_.resize(accounts.size());
    for (std::size_t k = 0; k < accounts.size(); ++k) {
        accounts_[k].settings = std::move(accounts[k]);
        makeConnection(static_cast<int>(k));
    }
}

void FetchSession::setAccount(int i, FetchAccount settings) { at(i).settings = std::move(settings); }

// Every reply comes here matched to the command that asked for it.
void FetchSession::onReply(int i, const Reply& r) {
    // Replies only count for the account in hand: a late reply of another
    // account is no answer to what this one awaits.
    if (i != dialogue_ || cancelled_) return;
    Account& a = at(i);
    if (IsLoginTag(r.tag)) {
        loginReply(i, r);
        return;
    }
    switch (r.tag) {
        case kStat: {
            if (!r.ok) {
                listingFailed_ = true;
                report_->trouble(i, FetchTrouble::ListingFailed, {});
                break;
            }
            const StatReply stat = ParseStat(r.text);
            // The report says how many of them to fetch; the LIST that went
            // out with the STAT is read up to that number.
            statCount_ = std::max<std::int32_t>(0, report_->counted(i, stat.count, stat.size));
            a.count = statCount_;
            break;
        }
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
                hold(i);
                ended_ = true;
                report_->trouble(i, FetchTrouble::OutOfStep, {});
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
            phaseDone_ = true;
            fillWindow(i);
            break;
        case kQuit:
            quitOk_ = r.ok;
            phaseDone_ = true;
            a.conn->close();
            break;
        default:
            break;
    }
}

// A reply to the login step's commands: the greeting, CAPA, USER, PASS, AUTH.
void FetchSession::loginReply(int i, const Reply& r) {
    Account& a = at(i);
    if (!a.login) return;
    a.login->onReply(r);
    if (!a.login->done()) return;
    const LoginVerdict verdict = JudgeLogin(*a.login, a.prepared);
    ServerMemory& memory = ServerMemory::program();
    if (verdict != LoginVerdict::LoggedIn) memory.forgetCapabilities(a.serverKey);
    switch (verdict) {
    case LoginVerdict::TlsFailed:
        // STLS refused or bytes injected behind its "+OK": nothing was sent
        // in plain, and the account ends with what failed.
        a.conn->close();
        endAccount(i, FetchTrouble::Tls, platform::TlsStatusText(a.login->tlsFailure()));
        break;
    case LoginVerdict::GreetingRefused:
        // Not a server that lets us in: the account ends at once.
        a.conn->close();
        endAccount(i, FetchTrouble::NotConnected);
        break;
    case LoginVerdict::NoMechanism:
        a.conn->close();
        endAccount(i, FetchTrouble::NoMechanism, u"伺服器不提供OAuth2登入");
        break;
    case LoginVerdict::FalseSuccess:
        // A "+OK" that came after the server had refused the token.
        a.conn->close();
        endAccount(i, FetchTrouble::FalseSuccess, u"伺服器回應錯誤..");
        break;
    case LoginVerdict::TokenRefused:
        // The caller refreshes the token once and tries once more; this
        // trouble stands when that does not help.
        tokenRefused_ = true;
        phaseDone_ = true;
        report_->trouble(i, FetchTrouble::TokenRefused, auth::SignInAgainText());
        break;
    case LoginVerdict::UserRefused:
    case LoginVerdict::Refused:
        // A response code says what the user can do.
        phaseDone_ = true;
        report_->trouble(i, FetchTrouble::LoginRefused,
                         ResponseCodeText(ParseResponseCode(a.login->refusal())));
        break;
    case LoginVerdict::LoggedIn:
        memory.rememberCapabilities(a.serverKey, a.login->capabilities(), a.login->greeting());
        memory.loggedIn(a.serverKey, SecondsNow(p_.clock));
        a.pipelining = a.login->capabilities().pipelining && !forceWindow_;
        listingDone_ = false;
        loggedIn_ = true;
        phaseDone_ = true;
        // STAT and LIST together, after PASS was answered: never across the
        // end of the login. In one write where the server lists PIPELINING,
        // in the window (a write each) otherwise.
        statCount_ = 0;
        if (a.pipelining) {
            a.conn->sendAll({{"STAT", Shape::Line, kStat, 0}, {"LIST", Shape::MultiLine, kList, limits_.listing}});
        } else {
            a.window.push_back({"STAT", Shape::Line, kStat, 0});
            a.window.push_back({"LIST", Shape::MultiLine, kList, limits_.listing});
            fillWindow(i);
        }
        report_->step(i, FetchStep::Counting);
        break;
    case LoginVerdict::Ended: break;
    }
}

// The rows of an account whose replies went out of step are held: which
// message a row stands for is no longer known.
void FetchSession::hold(int i) {
    Account& a = at(i);
    a.held = true;
    a.window.clear();
    report_->held(i);
}

// The account's connection ended by itself: refused, reset or closed by the
// server, out of step, or a limit broken. Every wait for it ends at once.
void FetchSession::onEnded(int i, End why) {
    Account& a = at(i);
    if (a.login && !a.login->done()) {
        a.login->onEnded();
        ServerMemory::program().forgetCapabilities(a.serverKey);
    }
    if (cancelled_) return;
    if (why == End::OutOfStep) hold(i);
    if (i != dialogue_) {
        // An account at rest whose server spoke out of turn: its rows are
        // held, and its line says why nothing will be deleted there.
        if (why == End::OutOfStep) report_->trouble(i, FetchTrouble::OutOfStep, {});
        return;
    }
    phaseDone_ = true;
    if (deleting_) return;  // the deletion tells its own outcome
    ended_ = true;
    const platform::TcpSocket* sock = a.conn->socket();
    const std::u16string tls = platform::MailSocketFailureText(sock, sock ? sock->lastError() : 0);
    if (why == End::OutOfStep) {
        report_->trouble(i, FetchTrouble::OutOfStep, {});
    } else if (why == End::TooLarge) {
        report_->trouble(i, FetchTrouble::TooLarge, {});
    } else if (!tls.empty()) {
        // A refused certificate or STLS, a failed handshake: nothing was sent.
        // A cut TLS connection after the login: what was fetched is kept as
        // for any hang-up, and the closed connection takes no DELE.
        report_->trouble(i, FetchTrouble::Tls, tls);
    } else if (!loggedIn_) {
        report_->trouble(i, FetchTrouble::NotConnected, {});
    } else {
        report_->trouble(i, FetchTrouble::ReceiveError, {});
    }
}

// The LIST reply, read by message number: row n of the account will be the
// n-th message LIST names (in ascending order). Messages LIST does not name
// are not fetched; numbers above what STAT allowed are not fetched either
// (STAT is only an upper bound). A line that is not "number size", or a
// number named twice, means the listing cannot be trusted: the account goes
// out of step.
void FetchSession::listingReply(int i, const Reply& r) {
    Account& a = at(i);
    if (!r.ok) {
        listingFailed_ = true;
        report_->trouble(i, FetchTrouble::ListingFailed, {});
        return;
    }
    if (listingFailed_) return;  // STAT was refused: nothing to read by
    const Listing listing = ParseListing(r.text, statCount_);
    if (!listing.trusted) {
        a.conn->distrust();
        hold(i);
        ended_ = true;
        listingFailed_ = true;
        report_->trouble(i, FetchTrouble::OutOfStep, {});
        return;
    }
    a.numbers.clear();
    for (const auto& e : listing.entries) a.numbers.push_back(static_cast<std::int32_t>(e.first));
    a.count = static_cast<std::int32_t>(a.numbers.size());
    report_->listed(i, listing);
    listingDone_ = true;
}

void FetchSession::topReply(int i, const Reply& r) {
    Account& a = at(i);
    if (a.held) return;
    if (replyNumber_ >= a.count) {
        // A TOP reply more than TOPs sent came where the NOOP's is due.
        a.conn->distrust();
        hold(i);
        ended_ = true;
        report_->trouble(i, FetchTrouble::OutOfStep, {});
        return;
    }
    const int row = replyNumber_++;
    lastActivity_ = WholeSecondsNow(p_.clock);
    // A one-line error reply to a TOP (the message went away meanwhile, or
    // the server refuses it) still stands for its message: it takes its row.
    const bool keep = report_->received(i, row, a.numbers[static_cast<std::size_t>(row)], r.text, !r.ok);
    if (cancelled_) return;
    fillWindow(i);
    if (!keep) {
        a.conn->close();
        endAccount(i, FetchTrouble::TooLarge);
    }
}

// A server that does not list PIPELINING gets its commands a few at a
// time: at most kWindowWithoutPipelining unanswered, each in a write of its
// own, the next one sent as a reply comes in. The NOOP at the end of the
// TOPs still proves that every reply came in step.
void FetchSession::fillWindow(int i) {
    Account& a = at(i);
    while (!a.window.empty() && a.conn && a.conn->usable() && !a.held &&
           a.conn->outstanding() < kWindowWithoutPipelining) {
        const Command c = a.window.front();
        a.window.pop_front();
        a.conn->send(c);
    }
}

// Makes the account's login ready and connects. False when there is no
// login to make (an OAuth2 account without TLS or without a usable token):
// the trouble says why, and nothing was sent.
bool FetchSession::connectAccount(int i, const std::string& address, std::uint16_t port, const ServerAddress& server,
                                  bool refreshToken) {
    Account& a = at(i);
    dialogue_ = i;
    // The login flags belong to this account alone, not to the one before.
    loggedIn_ = false;
    listingDone_ = false;
    ended_ = false;
    listingFailed_ = false;
    tokenRefused_ = false;
    a.held = false;
    a.pipelines = false;
    a.pipelining = false;
    a.window.clear();
    a.numbers.clear();
    phaseDone_ = false;
    a.conn->setLimits(limits_);
    a.login.reset();
    // The password, or the account's stored OAuth2 token; what the server
    // listed last time spares the CAPA round trip unless the greeting changed.
    if (!credentials_) credentials_ = std::make_unique<AccountCredentials>(p_, profileFolder_);
    a.prepared = credentials_->prepare(a.settings.login, server, a.serverKey, refreshToken);
    if (!a.prepared.ok) {
        endAccount(i, FetchTrouble::NoLogin, a.prepared.status);
        return false;
    }
    a.login = std::make_unique<Login>(*a.conn, a.prepared.request);
    a.login->setSentHandler([this, i](int tag) {
        if (tag == kTagUser || tag == kTagAuth)
            report_->step(i, FetchStep::SendingUser);
        else if (tag == kTagPass)
            report_->step(i, FetchStep::SendingPassword);
    });
    a.conn->connect(address, port, kTagGreeting);
    if (!a.conn->socket()) throw FetchError("no socket");
    a.login->start();  // over TLS the login may go out before the greeting
    return true;
}

void FetchSession::fetch(int i, bool previewLines) {
    dialogue_ = i;
    struct Done {
        int& dialogue;
        ~Done() { dialogue = -1; }
    } done{dialogue_};
    Account& a = at(i);
    if (!a.conn) throw FetchError("socket missing");
    a.count = 0;
    a.numbers.clear();
    a.held = false;
    const FetchAccount& s = a.settings;
    const auto address = ParseServerAddress(s.server, s.login.security);
    platform::ResolveResult r;
    if (address) r = p_.network.resolve(address->host);
    if (cancelled_) return;
    if (!r.found || r.address.empty()) {
        report_->trouble(i, FetchTrouble::NoHost, {});
        return;
    }
    const std::uint16_t port = address->port;
    a.serverKey = ServerMemory::key(address->host, port, p_.codePage.fromUtf16(platform::kBig5, s.login.user));
    // A server's LOGIN-DELAY: never log in again before it has passed.
    if (const std::int64_t left = ServerMemory::program().loginDelayLeft(a.serverKey, SecondsNow(p_.clock))) {
        report_->trouble(i, FetchTrouble::LoginDelay, LoginDelayText(left));
        return;
    }
    // An OAuth2 account whose token the server refused: the token is
    // refreshed once and the login tried once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connectAccount(i, r.address, port, *address, attempt > 0)) break;
        const int start = WholeSecondsNow(p_.clock);
        report_->step(i, FetchStep::Connecting);
        const bool answered = WaitUntil(p_.loop, p_.clock, [this] { return phaseDone_ || cancelled_; }, 45,
                                        [start] { return start; });
        if (cancelled_) return;
        if (!answered) {
            a.conn->close();  // a greeting that comes later is no part of anything
            report_->trouble(i, FetchTrouble::ConnectTimedOut, {});
        }
        if (!tokenRefused_) break;
        a.conn->close();
    }
    fetchHeaders(i, previewLines);
}

void FetchSession::fetchHeaders(int i, bool previewLines) {
    Account& a = at(i);
    if (loggedIn_ && !ended_ && !listingFailed_) {
        const int start = WholeSecondsNow(p_.clock);
        const bool done = WaitUntil(p_.loop, p_.clock,
                                    [this] { return listingDone_ || ended_ || listingFailed_ || cancelled_; }, 30,
                                    [start] { return start; });
        if (!done) {
            // The listing still missing: nothing later on this connection
            // can be matched to its command.
            a.conn->replyMissing();
            hold(i);
            report_->trouble(i, FetchTrouble::ListingFailed, {});
        }
    }
    if (cancelled_) return;
    if (a.count <= 0 || !listingDone_ || ended_ || !a.conn->usable()) return;
    phaseDone_ = false;
    synced_ = false;
    replyNumber_ = 0;
    bool allSent = true;
    // Every TOP goes out back to back, a few hundred to a write, where the
    // server lists PIPELINING; a window of them otherwise.
    if (!a.pipelining) {
        for (std::int32_t n : a.numbers) a.window.push_back({TopCommand(n, previewLines), Shape::MultiLine, kTop, 0});
        a.window.push_back({"NOOP", Shape::Line, kSync, 0});
        fillWindow(i);
    }
    for (std::size_t t = 0; a.pipelining && t < a.numbers.size(); t += kTopsPerWrite) {
        if (ended_ || cancelled_) {
            allSent = false;
            break;
        }
        if (!connected(i)) {
            report_->trouble(i, FetchTrouble::ReceiveError, {});
            allSent = false;
            break;
        }
        std::vector<Command> batch;
        for (std::size_t k = t; k < std::min(a.numbers.size(), t + kTopsPerWrite); ++k)
            batch.push_back({TopCommand(a.numbers[k], previewLines), Shape::MultiLine, kTop, 0});
        if (t + kTopsPerWrite >= a.numbers.size()) batch.push_back({"NOOP", Shape::Line, kSync, 0});
        a.conn->sendAll(batch);
        waitSendComplete();
    }
    if (!allSent || ended_) return;
    lastActivity_ = WholeSecondsNow(p_.clock);
    report_->step(i, FetchStep::Fetching);
    // An inactivity limit, and an overall one: a server trickling its
    // replies cannot hold the run for long.
    const int overall = kHeaderPhaseSeconds + static_cast<int>(kHeaderPhaseSecondsPerMessage * a.count);
    const int phaseStart = WholeSecondsNow(p_.clock);
    const bool done = WaitUntil(
        p_.loop, p_.clock,
        [&] { return synced_ || cancelled_ || ended_ || platform::ElapsedSeconds(phaseStart, p_.clock) > overall; },
        35, [this] { return lastActivity_; });
    const bool complete = synced_ && replyNumber_ >= a.count && !ended_;
    if (!cancelled_ && !ended_ && (!done || !complete)) {
        // Replies still missing: a server that skipped one cannot be told
        // from one that answers late, so no row is trusted.
        a.conn->replyMissing();
        hold(i);
        report_->trouble(i, FetchTrouble::TimedOut, {});
    }
}

FetchSession::Deletions FetchSession::deleteRows(int i, const std::vector<int>& rows, int limitSeconds,
                                                 bool testEach) {
    Account& a = at(i);
    dialogue_ = i;
    deleting_ = true;
    struct Done {
        FetchSession& s;
        ~Done() {
            s.deleting_ = false;
            s.dialogue_ = -1;
        }
    } done{*this};
    deleOks_ = 0;
    deleAsked_ = 0;
    deleReplies_ = 0;
    // Whatever the server sent meanwhile is framed first: a reply nobody
    // asked for puts the account out of step before any DELE goes out.
    p_.loop.pump(platform::Milliseconds(0));
    if (a.held || !a.conn || !a.conn->usable() || cancelled_) return {};
    // Rows name messages LIST named, each once, in the order of the list.
    std::vector<bool> wanted(a.numbers.size(), false);
    for (int row : rows)
        if (row >= 0 && static_cast<std::size_t>(row) < a.numbers.size()) wanted[static_cast<std::size_t>(row)] = true;
    std::vector<std::int32_t> numbers;
    for (std::size_t r = 0; r < wanted.size(); ++r)
        if (wanted[r]) numbers.push_back(a.numbers[r]);
    if (numbers.empty()) return {};
    const auto waitReplies = [&] {
        lastDeleReply_ = WholeSecondsNow(p_.clock);
        const bool all = WaitUntil(
            p_.loop, p_.clock, [&] { return deleReplies_ >= deleAsked_ || !a.conn->usable() || cancelled_; },
            limitSeconds, [this] { return lastDeleReply_; });
        if (!all && !cancelled_) a.conn->replyMissing();
    };
    if (a.pipelines && pipelineDeletions_ && !a.pipelining) {
        // A window of DELEs for a server that does not list PIPELINING.
        for (std::int32_t n : numbers) a.window.push_back({"DELE " + std::to_string(n), Shape::Line, kDele, 0});
        deleAsked_ = static_cast<int>(numbers.size());
        fillWindow(i);
        waitReplies();
        // DELEs never sent (the connection went out of step) are no DELEs asked.
        deleAsked_ -= static_cast<int>(a.window.size());
        a.window.clear();
        return {deleOks_, deleAsked_};
    }
    if (a.pipelines && pipelineDeletions_) {
        for (std::size_t t = 0; t < numbers.size(); t += kDelesPerWrite) {
            std::vector<Command> batch;
            for (std::size_t k = t; k < std::min(numbers.size(), t + kDelesPerWrite); ++k)
                batch.push_back({"DELE " + std::to_string(numbers[k]), Shape::Line, kDele, 0});
            deleAsked_ += static_cast<int>(batch.size());
            a.conn->sendAll(batch);
        }
        waitReplies();
        return {deleOks_, deleAsked_};
    }
    for (std::int32_t n : numbers) {
        if (!a.conn->usable() || cancelled_) break;
        if (testEach && !connected(i)) break;
        // Cleared before the send, so a reply that comes at once is not lost.
        phaseDone_ = false;
        ++deleAsked_;
        send(i, "DELE " + std::to_string(n), kDele);
        if (!waitPhase(limitSeconds) && !cancelled_) a.conn->replyMissing();
    }
    return {deleOks_, deleAsked_};
}

std::vector<FetchSession::AccountDeletion> FetchSession::deleteEverywhere(const std::vector<std::vector<int>>& rows,
                                                                          int limitSeconds) {
    std::vector<AccountDeletion> out(accounts_.size());
    for (int i = 0; i < accountCount(); ++i) {
        report_->step(i, FetchStep::Deleting);
        const std::size_t k = static_cast<std::size_t>(i);
        out[k].dele = deleteRows(i, k < rows.size() ? rows[k] : std::vector<int>{}, limitSeconds, true);
    }
    for (int i = 0; i < accountCount(); ++i) {
        if (usable(i)) report_->step(i, FetchStep::LoggingOut);
        out[static_cast<std::size_t>(i)].committed = quit(i, limitSeconds);
    }
    return out;
}

void FetchSession::logOutAll(int limitSeconds) {
    for (int i = 0; i < accountCount(); ++i) {
        if (!usable(i)) {
            close(i);
            continue;
        }
        report_->step(i, FetchStep::LoggingOut);
        quit(i, limitSeconds);
    }
}

bool FetchSession::quit(int i, int limitSeconds) {
    Account& a = at(i);
    quitOk_ = false;
    if (a.conn && a.conn->usable() && !a.held && !cancelled_) {
        dialogue_ = i;
        deleting_ = true;
        // Cleared before the send, so a reply that comes during the send wait is not lost.
        phaseDone_ = false;
        send(i, "QUIT", kQuit);
        waitSendComplete();
        waitPhase(limitSeconds);
        deleting_ = false;
        dialogue_ = -1;
    }
    if (a.conn) a.conn->close();
    return quitOk_;
}

}  // namespace iw::pop3
