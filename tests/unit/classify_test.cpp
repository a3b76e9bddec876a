// ClassifyEntry against sender lists in a real set.ini (through the settings
// store): each rule, the order and tie-breaks, list values and letter case,
// and the rounded-size limit.
#include <gtest/gtest.h>

#include "filter/classify.h"
#include "platform/native.h"
#include "settings/settings_store.h"
#include "tests/support/fake_files.h"

using namespace iw::filter;

namespace {

constexpr char kIni[] =
    "[u-TrustList]\r\ntrusted@x.tw=0\r\nboth@x.tw=0\r\nnot@x.tw=1\r\n"
    "[u-BlackList]\r\nspam@bad.tw=0\r\nboth@x.tw=0\r\nBIG@Bad.tw=0\r\none@bad.tw=1\r\ntwo@bad.tw=2\r\n"
    "empty@bad.tw=\r\nabc@bad.tw=abc\r\n"
    "[u-Domain]\r\nbad.tw=0\r\nb.c=0\r\nOff.tw=1\r\n";

struct Case {
    const char* name;
    std::u16string flags;
    std::u16string address;
    std::uint64_t bytes;
    bool checked;
    RowColor color;
};

class Classify : public ::testing::TestWithParam<Case> {
protected:
    Classify() : store_(files_, *cp_, u"C:\\app\\") { files_.put(u"C:\\app\\set.ini", kIni); }
    std::unique_ptr<iw::platform::CodePage> cp_ = iw::platform::createCodePage();
    iw::test::FakeFiles files_;
    iw::settings::SettingsStore store_;
};

TEST_P(Classify, MarksTheRow) {
    const Case& c = GetParam();
    StoreSenderLists lists(store_, u"u");
    MessageEntry row;
    ClassifyEntry(row, c.address, c.bytes, ClassifyContext{lists, iw::settings::Options::FromStored(c.flags), 50});
    EXPECT_EQ(row.Checked, c.checked) << c.name;
    EXPECT_EQ(row.TextColor, c.color) << c.name;
}

constexpr RowColor D = RowColor::Default, B = RowColor::BlackList, M = RowColor::DomainList,
                   S = RowColor::SizeLimit, E = RowColor::BlankSender;

// Switches: 4 black list, 5 size, 6 blank sender, 7 trusted exempt from size, 12 domain.
INSTANTIATE_TEST_SUITE_P(
    Table, Classify,
    ::testing::Values(
        Case{"black", u"000100000000", u"spam@bad.tw", 100, true, B},
        Case{"black off", u"000000000000", u"spam@bad.tw", 100, false, D},
        Case{"black letter case", u"000100000000", u"big@BAD.TW", 100, true, B},
        Case{"black value 1", u"000100000000", u"one@bad.tw", 100, true, B},
        Case{"black value 2", u"000100000000", u"two@bad.tw", 100, false, D},
        // An empty value reads as the default (2), as the Windows profile reader does.
        Case{"black value empty", u"000100000000", u"empty@bad.tw", 100, false, D},
        Case{"black value abc", u"000100000000", u"abc@bad.tw", 100, true, B},
        Case{"black beats domain", u"000100000001", u"spam@bad.tw", 100, true, B},
        Case{"trusted not black", u"000100000001", u"both@x.tw", 100, false, D},
        Case{"trust value 1 trusts nobody", u"000010000000", u"not@x.tw", 300000, true, S},
        Case{"domain", u"000000000001", u"any@bad.tw", 100, true, M},
        Case{"domain letter case", u"000000000001", u"any@BAD.tw", 100, true, M},
        Case{"domain whole only", u"000000000001", u"any@a.b.c", 100, false, D},
        Case{"domain value 1", u"000000000001", u"any@off.tw", 100, false, D},
        Case{"domain needs @", u"000000000001", u"bad.tw", 100, false, D},
        Case{"domain after first @", u"000000000001", u"a@b@bad.tw", 100, false, D},
        Case{"domain beats size", u"000010000001", u"any@bad.tw", 300000, true, M},
        Case{"black beats size", u"000110000000", u"spam@bad.tw", 300000, true, B},
        Case{"size 51251 rounds to 50", u"000010000000", u"a@ok.tw", 51251, false, D},
        Case{"size 51252 rounds to 50.1", u"000010000000", u"a@ok.tw", 51252, true, S},
        Case{"size off", u"000000000000", u"a@ok.tw", 900000, false, D},
        Case{"trusted caught by size", u"000010000000", u"trusted@x.tw", 204800, true, S},
        Case{"trusted exempt with 7", u"000010100000", u"trusted@x.tw", 204800, false, D},
        Case{"blank sender", u"000001000000", u"", 100, true, E},
        Case{"blank sender off", u"000000000000", u"", 100, false, D},
        Case{"blank replaces size colour", u"000011000000", u"", 300000, true, E},
        Case{"short flags read as off", u"0001", u"spam@bad.tw", 100, true, B},
        Case{"short flags no domain", u"00000000000", u"x@bad.tw", 100, false, D}));

TEST_F(Classify, ListsAreReadAfreshForEveryRow) {
    StoreSenderLists lists(store_, u"u");
    MessageEntry before, after;
    ClassifyEntry(before, u"new@x.tw", 1, ClassifyContext{lists, iw::settings::Options::FromStored(u"000100000000"), 50});
    store_.write(iw::settings::IniFile::Set, u"u-BlackList", u"new@x.tw", u"0");
    ClassifyEntry(after, u"new@x.tw", 1, ClassifyContext{lists, iw::settings::Options::FromStored(u"000100000000"), 50});
    EXPECT_FALSE(before.Checked);
    EXPECT_TRUE(after.Checked);
}

TEST_F(Classify, NeverClearsAMark) {
    StoreSenderLists lists(store_, u"u");
    MessageEntry row;
    row.Checked = true;
    row.TextColor = RowColor::SizeLimit;
    ClassifyEntry(row, u"trusted@x.tw", 1, ClassifyContext{lists, iw::settings::Options::FromStored(u"111111111111"), 50});
    EXPECT_TRUE(row.Checked);
    EXPECT_EQ(row.TextColor, RowColor::SizeLimit);
}

TEST(RowColors, RgbValues) {
    EXPECT_EQ(rowColorRgb(RowColor::BlackList), 0xFF0000u);
    EXPECT_EQ(rowColorRgb(RowColor::DomainList), 0xFF7640u);
    EXPECT_EQ(rowColorRgb(RowColor::SizeLimit), 0x2900DFu);
    EXPECT_EQ(rowColorRgb(RowColor::BlankSender), 0xFF0030u);
    EXPECT_FALSE(rowColorRgb(RowColor::Default).has_value());
}

}  // namespace
