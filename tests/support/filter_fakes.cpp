// Fakes for the filter window presenter; see filter_fakes.h.
#include "tests/support/filter_fakes.h"

#include <cctype>

namespace iw::test {

namespace {
std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
}
std::u16string Wide(const std::string& s) {
    std::u16string w;
    for (unsigned char c : s) w.push_back(c);
    return w;
}
std::string HeaderLine(const std::string& reply, const std::string& name) {
    std::string lower = reply;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string key = "\r\n" + name;
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto p = lower.find(key);
    if (p == std::string::npos) return {};
    p += key.size();
    while (p < reply.size() && reply[p] == ' ') ++p;
    auto e = reply.find("\r\n", p);
    return reply.substr(p, e - p);
}
}  // namespace

std::u16string FakeFilterProfile::accountValue(const std::u16string& s, const std::u16string& k) {
    auto it = sections.find(s);
    if (it == sections.end()) return {};
    auto v = it->second.find(k);
    return v == it->second.end() ? std::u16string() : v->second;
}
std::u16string FakeFilterProfile::readOption(const std::u16string& k, const std::u16string& d) {
    auto it = options.find(k);
    return it == options.end() ? d : it->second;
}
std::int32_t FakeFilterProfile::readOptionNumber(const std::u16string& k, std::int32_t d) {
    auto it = options.find(k);
    if (it == options.end()) return d;
    std::string s(it->second.begin(), it->second.end());
    try {
        return std::stoi(s);
    } catch (...) {
        return 0;
    }
}
void FakeFilterProfile::writeOption(const std::u16string& k, const std::u16string& v) {
    options[k] = v;
    writes.push_back(k + u"=" + v);
}
std::int32_t FakeFilterProfile::listNumber(filter::SenderList l, const std::u16string& k, std::int32_t d) {
    auto& m = lists[l];
    auto it = m.find(Lower(k));
    return it == m.end() ? d : it->second;
}
void FakeFilterProfile::listAdd(filter::SenderList l, const std::u16string& k) { lists[l][Lower(k)] = 0; }
void FakeFilterProfile::listRemove(filter::SenderList l, const std::u16string& k) { lists[l].erase(Lower(k)); }
bool FakeFilterProfile::listed(filter::SenderList l, const std::u16string& k) const {
    auto it = lists.find(l);
    return it != lists.end() && it->second.count(Lower(k)) > 0;
}

void SimpleParseHeader(filter::ParserHost& host, int account, const std::string& reply) {
    const std::string subject = HeaderLine(reply, "Subject:");
    if (subject.find("[fail]") != std::string::npos) {
        host.messageBox(u"13LIST\r\nType mismatch");
        return;
    }
    auto& list = host.accountList(account);
    filter::MessageRow row;
    row.SenderText = Wide(HeaderLine(reply, "From:"));
    row.Subject = Wide(subject);
    row.Number = host.replyNumber();
    std::string& listing = host.listingText();
    auto eol = listing.find("\r\n");
    if (eol != std::string::npos) {
        std::string line = listing.substr(0, eol);
        listing.erase(0, eol + 2);
        auto sp = line.find(' ');
        row.SizeText = Wide(sp == std::string::npos ? "0" : line.substr(sp + 1));
    } else {
        row.SizeText = u"0";
    }
    if (host.previewLines()) {
        auto blank = reply.find("\r\n\r\n");
        if (blank != std::string::npos) row.PreviewText = Wide(reply.substr(blank + 4, reply.size() - blank - 7));
    }
    if (subject.find("[junk]") != std::string::npos) {
        row.Checked = true;
        row.TextColor = 0xFF0000;
    }
    list.push_back(row);
    const auto n = static_cast<std::int32_t>(list.size());
    host.statusBar(u"信箱(" + host.accountSection(account) + u")有" + Wide(std::to_string(host.messageCount(account))) +
                   u"封,接收郵件第" + Wide(std::to_string(n)) + u"封...");
    host.copyLastRowToVisible(account);
    host.touchActivity();
    if (n == host.messageCount(account)) host.setPhaseDone();
}

}  // namespace iw::test
