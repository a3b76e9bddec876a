// The option switches and their stored form: which character is which
// switch, what a short or odd stored value means, and that reading never
// rewrites the stored value.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/native.h"
#include "settings/preferences.h"
#include "settings/settings_store.h"
#include "tests/support/fake_files.h"

namespace iw::settings {
namespace {

const std::u16string kApp = u"C:\\Prog\\";
const std::u16string kSetIni = u"C:\\Prog\\set.ini";

// set.ini written by earlier versions keeps meaning the same switches: each
// character turns exactly its own switch on.
TEST(Options, EachCharacterIsItsOwnSwitch) {
    struct Case {
        const char16_t* stored;
        bool Options::*field;
        const char* name;
    };
    const Case cases[] = {
        {u"100000000000", &Options::startAtLogon, "start at log-on"},
        {u"010000000000", &Options::periodicCheck, "periodic check"},
        {u"001000000000", &Options::openFilterWindow, "open the filter window"},
        {u"000100000000", &Options::blackListFilter, "black list"},
        {u"000010000000", &Options::sizeLimit, "size limit"},
        {u"000001000000", &Options::blankSenderIsJunk, "blank sender"},
        {u"000000100000", &Options::trustIgnoresSizeLimit, "trust list without size limit"},
        {u"000000010000", &Options::clockCorrection, "clock correction"},
        {u"000000001000", &Options::webAddressFilter, "web-address filter"},
        {u"000000000100", &Options::closeBlankPages, "close blank pages"},
        {u"000000000010", &Options::fetchInBatches, "fetch in batches"},
        {u"000000000001", &Options::domainListFilter, "domain list"},
    };
    for (const Case& c : cases) {
        const Options o = Options::FromStored(c.stored);
        Options onlyThis{};
        for (int i = 0; i < kOptionCount; ++i) onlyThis.set(i, false);
        onlyThis.*c.field = true;
        EXPECT_EQ(o, onlyThis) << c.name;
        EXPECT_EQ(o.toStored(), c.stored) << c.name;
    }
}

TEST(Options, DefaultsAreTheDefaultStoredValue) {
    EXPECT_EQ(Options{}, Options::FromStored(kDefaultOptionText));
    EXPECT_EQ(Options{}.toStored(), kDefaultOptionText);
}

// Only a "1" turns a switch on; a missing character leaves it off. Saving
// writes twelve "0"/"1" characters.
TEST(Options, ShortAndOddValuesReadAsBefore) {
    struct Case {
        const char16_t* stored;
        const char16_t* asSaved;
    };
    const Case cases[] = {
        {u"", u"000000000000"},
        {u"0111", u"011100000000"},
        {u"1x1 -1", u"101001000000"},
        {u"111111111111111", u"111111111111"},
        {u"011011000100 ; note", u"011011000100"},
        {u"１11", u"011000000000"},  // a full-width one is not "1"
    };
    for (const Case& c : cases) EXPECT_EQ(Options::FromStored(c.stored).toStored(), c.asSaved) << "stored value";
}

TEST(Options, IndexOutsideTheTwelveIsOffAndIgnored) {
    Options o = Options::FromStored(u"111111111111");
    EXPECT_FALSE(o.get(-1));
    EXPECT_FALSE(o.get(kOptionCount));
    o.set(kOptionCount, false);
    o.set(-1, false);
    EXPECT_EQ(o.toStored(), u"111111111111");
}

TEST(Options, ReadingLeavesAMalformedStoredValueAlone) {
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    test::FakeFiles files;
    const std::string before = "[amy]\r\nOption=01x\r\n";
    files.put(kSetIni, before);
    SettingsStore store{files, *cp, kApp};
    EXPECT_EQ(ReadOptions(store, u"amy").toStored(), u"010000000000");
    EXPECT_EQ(ReadOptions(store, u"nobody"), Options{});
    EXPECT_EQ(files.content(kSetIni).value_or(""), before);
}

}  // namespace
}  // namespace iw::settings
