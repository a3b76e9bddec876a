// The console's filter; see console_filter.h.
#include "filter/console_filter.h"

#include <algorithm>
#include <cstdio>

#include "filter/fetch_report.h"
#include "filter/header_parser.h"
#include "pop3/fetch_session.h"

namespace iw::filter {

namespace {

std::u16string Num(long long n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// One line per text: CR LF inside a tip becomes " | ".
std::u16string OneLine(const std::u16string& t) {
    std::u16string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == u'\r') continue;
        if (t[i] == u'\n') {
            if (!out.empty() && out.back() != u' ') out += u" | ";
            continue;
        }
        out += t[i];
    }
    return out;
}

// The console's side of the POP3 session: the rows go to the model through
// the header parser, the texts to `progress` as they change.
class ConsoleFilter : private pop3::FetchReport, private ParseReporter {
public:
    struct Account {
        std::u16string section, user, status;
        bool deleteFailed = false;
        std::int32_t deleted = 0;
    };

    ConsoleFilter(platform::Platform& p, FilterProfile& profile, settings::ProgramState& state, SenderLists& lists,
                  const platform::DateFormat& dates, const LineSink& progress)
        : p_(p), profile_(profile), state_(state), lists_(lists), dates_(dates), progress_(progress), session_(p) {
        const std::int32_t size = profile_.readOptionNumber(u"Size", 50);
        sizeLimitKB_ = std::clamp<std::int32_t>(size, -32768, 32767);
        model_.PreviewLines = profile_.readOptionNumber(u"View", 0) > 0;
    }

    void setWindowOnly(bool on) { session_.setWindowOnly(on); }

    // Every account of the roster in turn, as the filter window fetches them.
    void fetch() {
        const std::vector<std::u16string> roster = profile_.roster();
        model_.resetAccounts(roster);
        std::vector<pop3::FetchAccount> settings;
        for (const std::u16string& section : roster) {
            accounts_.push_back({section, profile_.accountValue(section, u"Account"), u""});
            settings.push_back(FetchAccountOf(profile_, p_.codePage, section));
        }
        if (roster.empty()) return;
        int i = 0;
        try {
            session_.begin(state_.identity.AppPath, std::move(settings), *this);
            for (; i < static_cast<int>(roster.size()); ++i) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                status(u"查詢主機IP位置中...");
                tip(u"查詢主機IP位置中...");
                p_.loop.pump(platform::Milliseconds(0));
                pop3::FetchAccount account = FetchAccountOf(profile_, p_.codePage, a.section);
                user_ = account.login.user;
                server_ = account.server;
                session_.setAccount(i, std::move(account));
                session_.fetch(i, model_.PreviewLines);
                status(a.status);
            }
        } catch (const std::exception& e) {
            // No socket could be made: the run stops where it was, and says so.
            errorBox(u"5Check\r\n" + Ascii(e.what()));
            if (i < static_cast<int>(accounts_.size())) {
                Account& a = accounts_[static_cast<std::size_t>(i)];
                a.status = u"接收帳號(" + a.section + u")" + u"失敗!..";
                status(a.status);
            }
        }
    }

    // The deletion run over every account; what the servers did not confirm
    // is on the account's line.
    void deleteChecked() {
        if (accounts_.empty() || session_.accountCount() == 0) return;
        std::vector<std::vector<int>> rows(accounts_.size());
        for (std::size_t i = 0; i < accounts_.size(); ++i) {
            const MessageList& l = model_.AccountLists[i];
            for (std::size_t r = 0; r < l.size(); ++r)
                if (l[r].Checked) rows[i].push_back(static_cast<int>(r));
        }
        const auto outcome = session_.deleteEverywhere(rows, 8);
        for (std::size_t i = 0; i < accounts_.size() && i < outcome.size(); ++i) {
            Account& a = accounts_[i];
            a.deleted = outcome[i].deleted();
            a.deleteFailed = a.deleted < static_cast<int>(rows[i].size()) || a.deleted < outcome[i].dele.asked;
            if (!a.deleteFailed) continue;
            a.status = DeleteFailedText(a.section);
            status(a.status);
        }
    }

    void logOut() {
        if (session_.accountCount() > 0) session_.logOutAll(8);
    }

    const std::vector<Account>& accounts() const { return accounts_; }
    const MessageList& rows(int i) const { return model_.AccountLists.at(static_cast<std::size_t>(i)); }
    // The message numbers LIST named for account i (row r is numbers[r]).
    std::vector<std::int32_t> numbers(int i) const {
        return i < session_.accountCount() ? session_.numbers(i) : std::vector<std::int32_t>{};
    }

private:
    static std::u16string Ascii(const char* text) {
        std::u16string out;
        for (const char* c = text; *c; ++c) out.push_back(static_cast<unsigned char>(*c));
        return out;
    }
    void status(const std::u16string& t) {
        if (t != status_) progress_(u"status: " + OneLine(t));
        status_ = t;
    }
    void tip(const std::u16string& t) {
        if (t != tip_) progress_(u"tip: " + OneLine(t));
        tip_ = t;
    }
    void show(int i, const FetchTexts& t, bool accountLine) {
        Account& a = accounts_[static_cast<std::size_t>(i)];
        if (!t.tip.empty()) tip(t.tipAlone ? t.tip : a.section + u"\r\n\r\n" + t.tip);
        if (t.status.empty()) return;
        if (accountLine) a.status = t.status;
        status(t.status);
    }

    // ParseReporter
    void statusText(const std::u16string& t) override { status(t); }
    void tipLabel(const std::u16string& t) override { tip(t); }
    void errorBox(const std::u16string& t) override { progress_(u"error: " + OneLine(t)); }

    // pop3::FetchReport
    void step(int i, pop3::FetchStep step) override {
        show(i, StepTexts(accounts_[static_cast<std::size_t>(i)].section, user_, step), false);
    }
    std::int32_t counted(int i, std::int32_t count, std::int32_t size) override {
        const CountedTexts c = CountInModel(model_, i, accounts_[static_cast<std::size_t>(i)].section, count, size,
                                            state_.prefs.options.fetchInBatches);
        show(i, c.texts, true);
        return c.toFetch;
    }
    void listed(int i, const pop3::Listing& listing) override { ListInModel(model_, i, listing); }
    bool received(int i, int, std::int32_t, const std::string& reply, bool refused) override {
        const ParseServices services{p_.codePage, p_.clock, dates_,
                                     ClassifyContext{lists_, state_.prefs.options, sizeLimitKB_}, *this};
        rowBytes_ += AddFetchedRow(model_, services, i, reply, refused);
        return rowBytes_ <= kMaxRowBytes;
    }
    void held(int i) override {
        // Which message a row stands for is no longer known: none is checked.
        for (MessageEntry& e : model_.AccountLists[static_cast<std::size_t>(i)]) e.Checked = false;
        for (MessageEntry& e : model_.VisibleList) e.Checked = false;
    }
    void trouble(int i, pop3::FetchTrouble trouble, const std::u16string& detail) override {
        show(i, TroubleTexts(accounts_[static_cast<std::size_t>(i)].section, server_, false, trouble, detail), true);
    }

    platform::Platform& p_;
    FilterProfile& profile_;
    settings::ProgramState& state_;
    SenderLists& lists_;
    const platform::DateFormat& dates_;
    const LineSink& progress_;
    FilterModel model_;
    std::vector<Account> accounts_;
    std::int32_t sizeLimitKB_ = 50;
    std::size_t rowBytes_ = 0;
    std::u16string user_, server_;  // of the account in hand
    std::u16string status_, tip_;
    pop3::FetchSession session_;
};

std::u16string ColorText(const MessageEntry& r) {
    // A row the user checked keeps the list's own colour, black text; only an
    // unchecked row in that colour has none to report.
    const std::optional<std::uint32_t> rgb = rowColorRgb(r.TextColor);
    if (!rgb && !r.Checked) return u"null";
    char buf[16];
    std::snprintf(buf, sizeof buf, "\"#%06X\"", static_cast<unsigned>(rgb.value_or(0x000000u)));
    return std::u16string(buf, buf + std::char_traits<char>::length(buf));
}

}  // namespace

std::string ParseFilterArgs(const std::vector<std::u16string>& args, FilterRunOptions& out) {
    out = FilterRunOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--delete") {
            if (out.deleteChecked) return "--delete is given twice";
            out.deleteChecked = true;
        } else if (a == u"--json") {
            if (out.json) return "--json is given twice";
            out.json = true;
        } else if (a == u"--profile" || a == u"--user") {
            auto& target = a == u"--profile" ? out.profileDir : out.user;
            if (i + 1 >= args.size() || args[i + 1].empty()) return (a == u"--profile" ? "--profile" : "--user") + std::string(" needs a value");
            if (target) return (a == u"--profile" ? "--profile" : "--user") + std::string(" is given twice");
            target = args[++i];
        } else {
            std::string word;  // named in the message; anything but ASCII shows as "?"
            for (char16_t c : a) word.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
            return "unknown argument " + word;
        }
    }
    return "";
}

std::u16string JsonString(const std::u16string& t) {
    std::u16string out = u"\"";
    for (char16_t c : t) {
        switch (c) {
            case u'"': out += u"\\\""; break;
            case u'\\': out += u"\\\\"; break;
            case u'\n': out += u"\\n"; break;
            case u'\r': out += u"\\r"; break;
            case u'\t': out += u"\\t"; break;
            default:
                if (c < 0x20 || c == 0x2028 || c == 0x2029) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                    out += std::u16string(buf, buf + 6);
                } else {
                    out += c;
                }
        }
    }
    return out + u"\"";
}

std::u16string TableText(const std::u16string& t) {
    std::u16string out;
    out.reserve(t.size());
    for (const char16_t c : t) {
        char buf[8];
        if (c == u'\\') {
            out += u"\\\\";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
            out += std::u16string(buf, buf + 4);
        } else if (c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
                   c == 0x200E || c == 0x200F || c == 0x061C) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += std::u16string(buf, buf + 6);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

int RunConsoleFilter(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                     SenderLists& senderLists, const platform::DateFormat& dateFormat, const FilterRunOptions& options,
                     const LineSink& out, const LineSink& progress) {
    ConsoleFilter w(platform, profile, module1, senderLists, dateFormat, progress);
    w.setWindowOnly(options.windowOnly);
    w.fetch();
    const int accountCount = static_cast<int>(w.accounts().size());

    for (int i = 0; i < accountCount; ++i) {
        const auto& a = w.accounts()[static_cast<std::size_t>(i)];
        const std::vector<std::int32_t> numbers = w.numbers(i);
        if (options.json) {
            out(u"{\"type\":\"account\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) + u",\"user\":" +
                JsonString(a.user) + u",\"status\":" + JsonString(a.status) + u"}");
        } else {
            out(u"[" + TableText(a.section) + u"] " + TableText(a.user) + u": " + TableText(a.status));
        }
        const MessageList& list = w.rows(i);
        for (std::size_t p = 0; p < list.size(); ++p) {
            const MessageEntry& r = list[p];
            // The message number on the server: the n-th one LIST named.
            const long long number = p < numbers.size() ? numbers[p] : static_cast<long long>(p + 1);
            if (options.json) {
                out(u"{\"type\":\"message\",\"account\":" + JsonString(a.section) + u",\"number\":" + Num(number) +
                    u",\"sender\":" + JsonString(r.SenderText) + u",\"subject\":" + JsonString(r.Subject) +
                    u",\"size\":" + JsonString(r.SizeText) + u",\"received\":" + JsonString(r.ReceivedText) +
                    u",\"preview\":" + JsonString(r.PreviewText) + u",\"checked\":" + (r.Checked ? u"true" : u"false") +
                    u",\"color\":" + ColorText(r) + u",\"reason\":" + JsonString(MarkReasonText(r)) + u"}");
            } else {
                out(std::u16string(r.Checked ? u"  [x] " : u"  [ ] ") + Num(number) + u"  " + TableText(r.SizeText) +
                    u"  " + TableText(r.SenderText) + u"  " + TableText(r.Subject) + u"  原因:" +
                    TableText(MarkReasonText(r)));
            }
        }
    }

    // An account whose connection was cut before every message LIST named
    // was fetched is said so: its rows are only part of the mailbox.
    for (int i = 0; i < accountCount; ++i) {
        const auto& a = w.accounts()[static_cast<std::size_t>(i)];
        const std::size_t rows = w.rows(i).size();
        const std::size_t listed = w.numbers(i).size();
        if (listed <= rows) continue;
        if (options.json)
            out(u"{\"type\":\"cut\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) +
                u",\"fetched\":" + Num(static_cast<long long>(rows)) + u",\"listed\":" +
                Num(static_cast<long long>(listed)) + u"}");
        else
            out(u"[" + TableText(a.section) + u"] cut: " + Num(static_cast<long long>(rows)) + u" of " +
                Num(static_cast<long long>(listed)) + u" fetched");
    }

    // `remaining`: the fetched messages (rows) less those whose deletion the
    // server confirmed; an account cut short counts only what it fetched.
    std::int64_t remaining = 0;
    if (options.deleteChecked) {
        w.deleteChecked();
        // What the servers did not confirm is said, account by account.
        for (int i = 0; i < accountCount; ++i) {
            const auto& a = w.accounts()[static_cast<std::size_t>(i)];
            remaining += std::max<std::int64_t>(0, static_cast<std::int64_t>(w.rows(i).size()) - a.deleted);
            if (!a.deleteFailed) continue;
            if (options.json)
                out(u"{\"type\":\"deletion\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) +
                    u",\"deleted\":" + Num(a.deleted) + u",\"status\":" + JsonString(a.status) + u"}");
            else
                out(u"[" + a.section + u"] " + a.status);
        }
    } else {
        w.logOut();
        for (int i = 0; i < accountCount; ++i) remaining += static_cast<std::int64_t>(w.rows(i).size());
    }
    if (options.json)
        out(u"{\"type\":\"summary\",\"remaining\":" + Num(remaining) + u"}");
    else
        out(u"remaining: " + Num(remaining));
    return 0;
}

}  // namespace iw::filter
