// Fakes for the filter window presenter; see filter_fakes.h.
#include "tests/support/filter_fakes.h"

namespace iw::test {

namespace {
std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
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

}  // namespace iw::test
