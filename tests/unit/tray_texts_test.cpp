// The tray tip: elapsed-time texts, the connected tip, and fitting a tip into
// the 64-byte field without cutting a character in half.
#include <gtest/gtest.h>

#include "app/tray_texts.h"
#include "platform/native.h"

namespace iw::app {
namespace {

TEST(FormatElapsed, Examples) {
    struct Case {
        std::int64_t seconds;
        const char16_t* text;
    } cases[] = {
        {0, u"0分00秒"},          {5, u"0分05秒"},           {59, u"0分59秒"},
        {60, u"01分00秒"},        {65, u"01分05秒"},         {187, u"03分07秒"},
        {3599, u"59分59秒"},      {3600, u"1時00分00秒"},    {3725, u"1時02分05秒"},
        {86399, u"23時59分59秒"}, {86400, u"1日0時00分00秒"}, {90061, u"1日1時01分01秒"},
        {11 * 86400 + 13 * 3600 + 7, u"11日13時00分07秒"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatElapsed(c.seconds), c.text) << c.seconds;
}

TEST(ConnectedTip, LinesForStatusAndCount) {
    EXPECT_EQ(ConnectedTip(187, u"", 0, true), u"已連線03分07秒");
    EXPECT_EQ(ConnectedTip(187, u"", 2, true), u"已連線03分07秒\r\n您有2封新郵件");
    EXPECT_EQ(ConnectedTip(5, u"網路校時成功!", 5, true), u"已連線0分05秒\r\n網路校時成功!\r\n您有5封新郵件");
    // Paused: no count line even with mail waiting.
    EXPECT_EQ(ConnectedTip(5, u"", 5, false), u"已連線0分05秒");
}

class FitTipTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    std::size_t bytes(const std::u16string& t) { return cp->fromUtf16(platform::kBig5, t).size(); }
};

TEST_F(FitTipTest, ShortTipUnchanged) {
    const std::u16string tip = ConnectedTip(65, u"user主機無法連線..", 3, true);
    EXPECT_EQ(FitTip(*cp, tip), tip);
}

TEST_F(FitTipTest, LongStatusIsShortenedAndCountLineKept) {
    const std::u16string status = u"a-very-long-user-name@example.com.tw未連上伺服器";
    const std::u16string fitted = FitTip(*cp, ConnectedTip(90061, status, 12, true));
    EXPECT_LE(bytes(fitted), kTipFieldBytes - 1);
    EXPECT_TRUE(fitted.starts_with(u"已連線1日1時01分01秒\r\n"));
    EXPECT_TRUE(fitted.ends_with(u"\r\n您有12封新郵件")) << std::string(fitted.begin(), fitted.end());
    EXPECT_NE(fitted.find(u"..\r\n"), std::u16string::npos);
}

TEST_F(FitTipTest, CutsOnCharacterBoundaryAtEveryLength) {
    // Shift a run of double-byte characters through the limit one byte at a
    // time: the result never ends in half a character and always fits.
    for (int lead = 0; lead < 4; ++lead) {
        std::u16string tip(static_cast<std::size_t>(lead), u'x');
        for (int i = 0; i < 40; ++i) tip += u"郵";
        const std::u16string fitted = FitTip(*cp, tip);
        const std::string b = cp->fromUtf16(platform::kBig5, fitted);
        EXPECT_LE(b.size(), kTipFieldBytes - 1);
        EXPECT_GE(b.size(), kTipFieldBytes - 2);
        EXPECT_EQ(cp->toUtf16(platform::kBig5, b), fitted);
        EXPECT_EQ(platform::completePrefix(platform::kBig5, b), b.size());
    }
}

TEST_F(FitTipTest, SurrogatePairNeverSplit) {
    std::u16string tip(62, u'x');
    tip += u"\U00020000y";  // a character outside the BMP: "?" in Big5, one byte
    const std::u16string fitted = FitTip(*cp, tip);
    ASSERT_FALSE(fitted.empty());
    EXPECT_FALSE(fitted.back() >= 0xD800 && fitted.back() <= 0xDBFF);
}

}  // namespace
}  // namespace iw::app
