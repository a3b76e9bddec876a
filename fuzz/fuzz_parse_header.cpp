// Fuzzes ParseMessageHeader with whole replies: the first byte sets the
// preview switch and the option switches; the rest is the reply. Every
// call must add exactly one row to the account's list and to the visible list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "filter/header_parser.h"
#include "platform/native.h"

namespace {

class Clock : public iw::platform::SystemClock {
public:
    iw::platform::LocalDateTime now() const override { return {2026, 12, 10, 8, 30, 0, 0}; }
    double secondsSinceMidnight() const override { return 8 * 3600 + 30 * 60; }
    double monotonicSeconds() const override { return 8 * 3600 + 30 * 60; }
    int utcOffsetMinutes() const override { return 480; }
    bool setLocalTime(const iw::platform::LocalDateTime&) override { return false; }
};

class Lists : public iw::filter::SenderLists {
public:
    bool isTrusted(const std::u16string& a) override { return a.size() % 5 == 1; }
    bool isBlackListed(const std::u16string& a) override { return a.size() % 3 == 1; }
    bool isDomainListed(const std::u16string& d) override { return d.size() % 2 == 1; }
};

class Reporter : public iw::filter::ParseReporter {
public:
    void statusText(const std::u16string&) override {}
    void tipLabel(const std::u16string&) override {}
    void errorBox(const std::u16string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<iw::platform::CodePage> cp = iw::platform::createCodePage();
    static Clock clock;
    static iw::platform::FixedDateFormat dates;
    static Lists lists;
    static Reporter reporter;
    if (size == 0) return 0;
    iw::filter::FilterModel model;
    model.resetAccounts({u"a@x"});
    model.MessageCounts[0] = 2;
    model.PreviewLines = (data[0] & 1) != 0;
    model.ListingText = "1 51252\r\n2 x\r\n";
    const std::u16string flags = (data[0] & 2) ? u"111111111111" : u"000111100001";
    iw::filter::ParseServices services{*cp, clock, dates, {lists, iw::settings::Options::FromStored(flags), 50}, reporter};
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);
    iw::filter::ParseMessageHeader(model, services, 0, reply);
    iw::filter::ParseMessageHeader(model, services, 0, reply);
    if (model.AccountLists[0].size() != 2 || model.VisibleList.size() != 2 || !model.PhaseDone) std::abort();
    return 0;
}
