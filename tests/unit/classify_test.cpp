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
    row.Reason = u"earlier";
    ClassifyEntry(row, u"trusted@x.tw", 1, ClassifyContext{lists, iw::settings::Options::FromStored(u"111111111111"), 50});
    EXPECT_TRUE(row.Checked);
    EXPECT_EQ(row.TextColor, RowColor::SizeLimit);
    EXPECT_EQ(row.Reason, u"earlier");
}

// The reason every row gets: the rule that decided (the one whose colour
// shows) with its list entry or both sizes, the other rules the row also
// matches, the trust-list entry that spared it, or a switch that is off.
TEST_F(Classify, EveryRowSaysWhy) {
    struct Case {
        const char* name;
        std::u16string flags, address;
        std::uint64_t bytes;
        std::u16string reason;
    } cases[] = {
        {"black", u"000100000000", u"spam@bad.tw", 100, u"黑名單:spam@bad.tw"},
        {"black, the sender as written", u"000100000000", u"big@BAD.TW", 100, u"黑名單:big@BAD.TW"},
        {"black decides over domain and size", u"000110000001", u"spam@bad.tw", 300000,
         u"黑名單:spam@bad.tw;另符合 網域過濾:bad.tw、信件大小 293KB 超過上限 50KB"},
        {"domain", u"000000000001", u"any@bad.tw", 100, u"網域過濾:bad.tw"},
        {"domain decides over size", u"000010000001", u"any@BAD.tw", 300000,
         u"網域過濾:BAD.tw;另符合 信件大小 293KB 超過上限 50KB"},
        {"size, both sizes", u"000010000000", u"a@ok.tw", 51252, u"信件大小 50.1KB 超過上限 50KB"},
        {"size at the limit", u"000010000000", u"a@ok.tw", 51251, u"未符合任何過濾規則"},
        {"blank sender", u"000001000000", u"", 100, u"寄信者空白"},
        {"blank decides over size", u"000011000000", u"", 300000, u"寄信者空白;另符合 信件大小 293KB 超過上限 50KB"},
        {"trusted over black", u"000100000001", u"both@x.tw", 100, u"信任名單:both@x.tw,免除 黑名單"},
        {"trusted, exempt from size", u"000010100000", u"trusted@x.tw", 204800,
         u"信任名單:trusted@x.tw,免除 信件大小 200KB 超過上限 50KB"},
        {"trusted, caught by size", u"000010000000", u"trusted@x.tw", 204800,
         u"信件大小 200KB 超過上限 50KB(寄信者在信任名單,但「信任名單不受大小限制」未勾選)"},
        {"trusted, nothing to spare", u"000100000000", u"trusted@x.tw", 100, u"信任名單:trusted@x.tw"},
        {"lists switched off", u"000000000000", u"one@bad.tw", 100,
         u"在黑名單,但黑名單過濾未啟用;網域 bad.tw 在網域名單,但網域過濾未啟用"},
        {"domain list switched off", u"000100000000", u"a@bad.tw", 100, u"網域 bad.tw 在網域名單,但網域過濾未啟用"},
        {"nothing", u"111111111111", u"a@ok.tw", 100, u"未符合任何過濾規則"},
    };
    for (const Case& c : cases) {
        StoreSenderLists lists(store_, u"u");
        MessageEntry row;
        ClassifyEntry(row, c.address, c.bytes, ClassifyContext{lists, iw::settings::Options::FromStored(c.flags), 50});
        EXPECT_EQ(row.Reason, c.reason) << c.name;
        EXPECT_EQ(MarkReasonText(row), c.reason) << c.name;  // the mark is as the classification left it
    }
}

// A check mark changed after the classification (by hand, a list action or
// a held account) shows the present state before the automatic reason.
TEST(MarkReason, AChangedMarkIsSaidFirst) {
    struct Case {
        bool checked;
        RowColor colour;
        std::u16string reason, shown;
    } cases[] = {
        {true, RowColor::BlackList, u"黑名單:a@b", u"黑名單:a@b"},
        {false, RowColor::Default, u"未符合任何過濾規則", u"未符合任何過濾規則"},
        {false, RowColor::BlackList, u"黑名單:a@b", u"目前未勾選;自動判斷:黑名單:a@b"},
        {true, RowColor::Default, u"未符合任何過濾規則", u"目前已勾選;自動判斷:未符合任何過濾規則"},
        {true, RowColor::Default, u"", u""},  // never judged
    };
    for (const Case& c : cases) {
        MessageEntry row;
        row.Checked = c.checked;
        row.TextColor = c.colour;
        row.Reason = c.reason;
        EXPECT_EQ(MarkReasonText(row), c.shown);
    }
}

TEST(RowColors, RgbValues) {
    EXPECT_EQ(rowColorRgb(RowColor::BlackList), 0xFF0000u);
    EXPECT_EQ(rowColorRgb(RowColor::DomainList), 0xFF7640u);
    EXPECT_EQ(rowColorRgb(RowColor::SizeLimit), 0x2900DFu);
    EXPECT_EQ(rowColorRgb(RowColor::BlankSender), 0xFF0030u);
    EXPECT_FALSE(rowColorRgb(RowColor::Default).has_value());
}

}  // namespace
