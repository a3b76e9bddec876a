// The start-up decision table: second copy, the folder rule, the user name,
// the option default and the first-run marker.
#include <gtest/gtest.h>

#include "app/startup.h"

namespace iw::app {
namespace {

TEST(Startup, AppPathKeepsADriveRootAndAddsOneSeparatorElsewhere) {
    const struct { std::u16string folder; char16_t sep; std::u16string want; } cases[] = {
        {u"C:\\", u'\\', u"C:\\"},
        {u"C:\\Prog", u'\\', u"C:\\Prog\\"},
        {u"D:\\工具\\收信", u'\\', u"D:\\工具\\收信\\"},
        {u"\\\\server\\share\\app", u'\\', u"\\\\server\\share\\app\\"},
        {u"/opt/inkwarden", u'/', u"/opt/inkwarden/"},
        {u"/", u'/', u"/"},
    };
    for (const auto& c : cases) EXPECT_EQ(MakeAppPath(c.folder, c.sep), c.want);
}

TEST(Startup, DecisionTable) {
    using A = StartupAction;
    const std::u16string nul(1, u'\0');
    const struct {
        const char* name;
        StartupInputs in;
        A action;
        std::u16string appPath, user, option;
        bool firstRun;
    } cases[] = {
        {"configured", {false, u"C:\\Prog", u'\\', u"amy", u"100000000001", 1}, A::LoadMaster, u"C:\\Prog\\", u"amy",
         u"100000000001", false},
        {"drive root", {false, u"C:\\", u'\\', u"amy", std::nullopt, 1}, A::LoadMaster, u"C:\\", u"amy",
         u"011011000100", false},
        {"no set.ini: default options", {false, u"C:\\Prog", u'\\', u"amy", std::nullopt, 1}, A::LoadMaster,
         u"C:\\Prog\\", u"amy", u"011011000100", false},
        {"option kept as stored, even short", {false, u"C:\\Prog", u'\\', u"amy", u"01", 1}, A::LoadMaster,
         u"C:\\Prog\\", u"amy", u"01", false},
        {"marker missing", {false, u"C:\\Prog", u'\\', u"amy", std::nullopt, 0}, A::OpenSettingsFirstRun,
         u"C:\\Prog\\", u"amy", u"011011000100", true},
        {"marker 2", {false, u"C:\\Prog", u'\\', u"amy", std::nullopt, 2}, A::OpenSettingsFirstRun, u"C:\\Prog\\",
         u"amy", u"011011000100", true},
        {"marker 0x101", {false, u"C:\\Prog", u'\\', u"amy", std::nullopt, 0x101}, A::OpenSettingsFirstRun,
         u"C:\\Prog\\", u"amy", u"011011000100", true},
        {"user name cut at NUL", {false, u"C:\\Prog", u'\\', u"王小明" + nul + u"garbage", std::nullopt, 1},
         A::LoadMaster, u"C:\\Prog\\", u"王小明", u"011011000100", false},
        {"second copy reads nothing", {true, u"C:\\Prog", u'\\', u"amy", u"111111111111", 1},
         A::CloseBrowsersAndExit, u"", u"", u"", false},
    };
    for (const auto& c : cases) {
        const StartupDecision d = DecideStartup(c.in);
        EXPECT_EQ(d.action, c.action) << c.name;
        EXPECT_EQ(d.AppPath, c.appPath) << c.name;
        EXPECT_EQ(d.UserSection, c.user) << c.name;
        const std::optional<settings::Options> want =
            c.option.empty() ? std::nullopt : std::optional(settings::Options::FromStored(c.option));
        EXPECT_EQ(d.options, want) << c.name;
        EXPECT_EQ(d.FirstRun, c.firstRun) << c.name;
    }
}

TEST(Startup, ApplyFillsTheStateExceptForASecondCopy) {
    settings::ProgramState state;
    state.run.StatusText = u"kept";
    ApplyStartupDecision(DecideStartup({false, u"C:\\", u'\\', u"amy", u"000000000000", 0}), state);
    EXPECT_EQ(state.identity.AppPath, u"C:\\");
    EXPECT_EQ(state.identity.UserSection, u"amy");
    EXPECT_EQ(state.prefs.options.toStored(), u"000000000000");
    EXPECT_TRUE(state.identity.FirstRun);
    EXPECT_EQ(state.run.StatusText, u"kept");

    settings::ProgramState fresh;
    ApplyStartupDecision(DecideStartup({true, u"C:\\", u'\\', u"amy", u"000000000000", 1}), fresh);
    EXPECT_EQ(fresh.identity.AppPath, u"");
    EXPECT_EQ(fresh.prefs.options.toStored(), settings::kDefaultOptionText);
}

}  // namespace
}  // namespace iw::app
