// The filter session without a window; see headless_run.h.
#include "filter/headless_run.h"

#include <algorithm>
#include <cstdio>

#include "filter/filter_window.h"

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

class ConsoleView : public FilterWindowView {
public:
    explicit ConsoleView(const LineSink& progress) : progress_(progress) {}
    void setEnabled(Control, bool) override {}
    void setVisible(Control, bool) override {}
    void setChecked(Control, bool) override {}
    void setText(Control, const std::u16string&) override {}
    void setComboItems(const std::vector<std::u16string>&, int) override {}
    void setStatus(const std::u16string& t) override {
        if (t != status_) progress_(u"status: " + OneLine(t));
        status_ = t;
    }
    void addAccountRow(const std::u16string&, const std::u16string&, int) override {}
    void setAccountIcon(int, int) override {}
    void setAccountAddress(int, const std::u16string&) override {}
    void selectAccountRow(int) override {}
    void clearMessages() override {}
    void addMessageRow(const MessageEntry&) override {}
    void setMessageChecked(int, bool) override {}
    void setColumnWidths(const std::vector<double>& w) override { widths_ = w; }
    std::vector<double> columnWidths() const override { return widths_; }
    void setMenuEnabled(MenuEntry, bool) override {}
    void setMenuChecked(MenuEntry, bool) override {}
    void showPopupMenu(PopupMenu) override {}
    void messageBox(const std::u16string& t) override { progress_(u"error: " + OneLine(t)); }
    void showTip() override {}
    void closeTip() override {}
    void setTipLabel(const std::u16string& t) override {
        if (t != tip_) progress_(u"tip: " + OneLine(t));
        tip_ = t;
    }
    void applyLayout(const FilterLayout&) override {}
    void setOuterSize(int, int) override {}
    void minimize() override {}
    void restoreNormal() override {}
    void setTopmost(bool) override {}
    void centreOnScreen() override {}
    void closeWindow() override {}

private:
    const LineSink& progress_;
    std::u16string status_, tip_;
    std::vector<double> widths_{2440, 3080, 1440, 1950, 1440};
};

class NoMainWindow : public MainWindowLink {
public:
    void setTrayMenuEnabled(TrayMenuEntry, bool) override {}
};

// The console never starts the mail program: the check box reads as off.
class ConsoleProfile : public FilterProfile {
public:
    explicit ConsoleProfile(FilterProfile& inner) : in_(inner) {}
    std::vector<std::u16string> roster() override { return in_.roster(); }
    std::u16string accountValue(const std::u16string& s, const std::u16string& k) override { return in_.accountValue(s, k); }
    std::u16string unscramblePassword(const std::u16string& t) override { return in_.unscramblePassword(t); }
    std::u16string readOption(const std::u16string& k, const std::u16string& d) override { return in_.readOption(k, d); }
    std::int32_t readOptionNumber(const std::u16string& k, std::int32_t d) override {
        // No countdown and no mail program without a window; minimising means nothing.
        if (k == u"Open" || k == u"AutoMail" || k == u"AutoMin") return 0;
        return in_.readOptionNumber(k, d);
    }
    void writeOption(const std::u16string&, const std::u16string&) override {}  // the console changes no option
    std::int32_t listNumber(SenderList l, const std::u16string& k, std::int32_t d) override { return in_.listNumber(l, k, d); }
    void listAdd(SenderList l, const std::u16string& k) override { in_.listAdd(l, k); }
    void listRemove(SenderList l, const std::u16string& k) override { in_.listRemove(l, k); }

private:
    FilterProfile& in_;
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

int RunFilterHeadless(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                      SenderLists& senderLists, const platform::DateFormat& dateFormat, const FilterRunOptions& options, const LineSink& out,
                      const LineSink& progress) {
    ConsoleView view(progress);
    NoMainWindow main;
    ConsoleProfile consoleProfile(profile);
    module1.run.AutoOpened = false;
    FilterWindow w(platform, consoleProfile, module1, main, view, senderLists, dateFormat);
    w.setWindowOnly(options.windowOnly);
    w.load();
    w.activated();

    for (int i = 0; i < w.accountCount(); ++i) {
        const auto& a = w.account(i);
        if (options.json) {
            out(u"{\"type\":\"account\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) + u",\"user\":" +
                JsonString(a.user) + u",\"status\":" + JsonString(a.status) + u"}");
        } else {
            out(u"[" + TableText(a.section) + u"] " + TableText(a.user) + u": " + TableText(a.status));
        }
        const MessageList& list = w.accountList(i);
        for (std::size_t p = 0; p < list.size(); ++p) {
            const MessageEntry& r = list[p];
            // The message number on the server: the n-th one LIST named.
            const long long number = p < a.numbers.size() ? a.numbers[p] : static_cast<long long>(p + 1);
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
    for (int i = 0; i < w.accountCount(); ++i) {
        const auto& a = w.account(i);
        const std::size_t rows = w.accountList(i).size();
        if (a.numbers.size() <= rows) continue;
        if (options.json)
            out(u"{\"type\":\"cut\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) +
                u",\"fetched\":" + Num(static_cast<long long>(rows)) + u",\"listed\":" +
                Num(static_cast<long long>(a.numbers.size())) + u"}");
        else
            out(u"[" + TableText(a.section) + u"] cut: " + Num(static_cast<long long>(rows)) + u" of " +
                Num(static_cast<long long>(a.numbers.size())) + u" fetched");
    }

    // `remaining`: the fetched messages (rows) less those whose deletion the
    // server confirmed; an account cut short counts only what it fetched.
    std::int64_t remaining = 0;
    if (options.deleteChecked) {
        w.runDeletion();
        // What the servers did not confirm is said, account by account.
        for (int i = 0; i < w.accountCount(); ++i) {
            const auto& a = w.account(i);
            remaining += std::max<std::int64_t>(0, static_cast<std::int64_t>(w.accountList(i).size()) - a.deleted);
            if (!a.deleteFailed) continue;
            if (options.json)
                out(u"{\"type\":\"deletion\",\"index\":" + Num(i) + u",\"section\":" + JsonString(a.section) +
                    u",\"deleted\":" + Num(a.deleted) + u",\"status\":" + JsonString(a.status) + u"}");
            else
                out(u"[" + a.section + u"] " + a.status);
        }
    } else {
        w.LogOutWithoutDeleting();
        for (int i = 0; i < w.accountCount(); ++i) remaining += static_cast<std::int64_t>(w.accountList(i).size());
        w.unload();
    }
    if (options.json)
        out(u"{\"type\":\"summary\",\"remaining\":" + Num(remaining) + u"}");
    else
        out(u"remaining: " + Num(remaining));
    return 0;
}

}  // namespace iw::filter
