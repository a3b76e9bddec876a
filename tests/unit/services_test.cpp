// The common services against fakes: host lookup, and the two browser-window
// commands (pass order, the "連線到" target rule, the ten-second bound).
#include <gtest/gtest.h>

#include "app/services.h"
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/fake_time.h"

namespace iw::app {
namespace {

using platform::LocalDateTime;
using platform::ShowCommand;
using platform::WindowHandle;
using test::CloseRule;
using test::DesktopAction;
using test::FakeClock;
using test::FakeDesktop;
using test::FakeEventLoop;
using test::FakeResolver;
using namespace std::chrono_literals;

TEST(LookupHostAddress, ResultsAndStatusText) {
    const struct {
        const char* host;
        std::string want;
        bool failed;
    } cases[] = {
        {"mail.example.tw", "192.0.2.7", false},
        {"v6only.example.tw", "", true},
        {"nosuch.example.tw", "", true},
        {"", "", true},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        FakeEventLoop loop(clock);
        FakeResolver resolver;
        resolver.addIpv4("mail.example.tw", "192.0.2.7");
        resolver.addIpv6Only("v6only.example.tw");
        settings::ProgramState state;
        state.run.StatusText = u"earlier status";
        bool pumpedBeforeLookup = false;
        loop.post([&] { pumpedBeforeLookup = resolver.lookups().empty(); });
        EXPECT_EQ(LookupHostAddress(state, loop, resolver, c.host), c.want) << c.host;
        EXPECT_EQ(state.run.StatusText, c.failed ? std::u16string(u"無法查詢主機IP位置") : u"earlier status") << c.host;
        EXPECT_TRUE(pumpedBeforeLookup) << c.host;
        EXPECT_EQ(resolver.lookups(), std::vector<std::string>{c.host});
    }
}

class CloseBrowserWindowsTest : public ::testing::Test {
protected:
    CloseBrowserWindowsTest() : clock(LocalDateTime{2026, 12, 7, 10, 0, 0, 0}), loop(clock) { desktop.attach(loop); }

    // Runs the command and returns the virtual seconds it took.
    double run() {
        const auto start = clock.nowMs();
        CloseBrowserWindows(desktop, loop, clock);
        return (clock.nowMs() - start) / 1000.0;
    }

    FakeClock clock;
    FakeEventLoop loop;
    FakeDesktop desktop;
};

TEST_F(CloseBrowserWindowsTest, PassOrderFoldersThenDialogsThenFrames) {
    const WindowHandle frame1 = desktop.add(u"IEFrame", u"首頁");
    const WindowHandle folder1 = desktop.add(u"CabinetWClass", u"文件");
    const WindowHandle offline = desktop.add(u"#32770", u"在離線模式下找不到 Web 網頁");
    const WindowHandle other = desktop.add(u"Notepad", u"notes");
    const WindowHandle folder2 = desktop.add(u"CabinetWClass", u"下載");
    const WindowHandle frame2 = desktop.add(u"IEFrame", u"新聞");
    const WindowHandle dialog = desktop.add(u"#32770", u"其他");

    run();
    // Pass 1: both folders, one per pump; then the first dialog (the offline
    // page dialog is first in z-order), the offline dialog by title, then the
    // first frame. Pass 2: the other dialog, the second frame. Pass 3 finds no
    // frame and stops.
    EXPECT_EQ(desktop.closeRequests(),
              (std::vector<WindowHandle>{folder1, folder2, offline, offline, frame1, dialog, frame2}));
    EXPECT_FALSE(desktop.exists(frame1) || desktop.exists(frame2) || desktop.exists(folder1) ||
                 desktop.exists(dialog));
    EXPECT_TRUE(desktop.exists(other));
    EXPECT_EQ(desktop.closeRequestsTo(other), 0);
}

TEST_F(CloseBrowserWindowsTest, ConnectDialogIsClosedInsteadOfTheFrame) {
    const WindowHandle frame = desktop.add(u"IEFrame", u"首頁");
    // The dialog goes only at its fifth request, so it still stands in front
    // of the frame at step 4 of the first pass.
    const WindowHandle connect = desktop.add(u"#32770", u"連線到", CloseRule::afterRequests(5));
    run();
    // Pass 1: any dialog, then by title, then as the frame's stand-in (3).
    // Pass 2: any dialog (4), by title (5: gone); step 4 now reaches the frame.
    EXPECT_EQ(desktop.closeRequests(),
              (std::vector<WindowHandle>{connect, connect, connect, connect, connect, frame}));
    EXPECT_FALSE(desktop.exists(frame));
}

TEST_F(CloseBrowserWindowsTest, NothingToCloseReturnsAtOnce) {
    desktop.add(u"Notepad", u"notes");
    EXPECT_LT(run(), 1.0);
    EXPECT_TRUE(desktop.closeRequests().empty());
}

TEST_F(CloseBrowserWindowsTest, FolderThatNeverClosesStopsAtTenSeconds) {
    const WindowHandle folder = desktop.add(u"CabinetWClass", u"卡住", CloseRule::never());
    const WindowHandle frame = desktop.add(u"IEFrame", u"首頁", CloseRule::never());
    const double took = run();
    EXPECT_GE(took, 9.5);
    EXPECT_LE(took, 10.6);
    // Requests go on while the limit holds; the pass ends with the frame.
    EXPECT_GT(desktop.closeRequestsTo(folder), 50);
    EXPECT_EQ(desktop.closeRequestsTo(frame), 1);
    EXPECT_EQ(desktop.closeRequests().back(), frame);
}

TEST_F(CloseBrowserWindowsTest, TenSecondBoundHoldsAcrossMidnight) {
    const struct {
        const char* name;
        LocalDateTime start;
        const char16_t* stubborn;
    } cases[] = {
        {"frame, 23:59:55", {2026, 12, 31, 23, 59, 55, 0}, u"IEFrame"},
        {"folder, 23:59:58.6", {2026, 12, 31, 23, 59, 58, 600}, u"CabinetWClass"},
        {"frame, mark rounds to 86400", {2026, 12, 31, 23, 59, 59, 800}, u"IEFrame"},
    };
    for (const auto& c : cases) {
        FakeClock clk(c.start);
        FakeEventLoop lp(clk);
        FakeDesktop desk;
        desk.attach(lp);
        desk.add(c.stubborn, u"卡住", CloseRule::never());
        const auto start = clk.nowMs();
        CloseBrowserWindows(desk, lp, clk);
        const double took = (clk.nowMs() - start) / 1000.0;
        EXPECT_GE(took, 9.0) << c.name;
        EXPECT_LE(took, 11.0) << c.name << ": must not run on into the next day";
    }
}

TEST_F(CloseBrowserWindowsTest, WindowsOpeningDuringTheRunAreClosedToo) {
    desktop.add(u"IEFrame", u"首頁");
    int pumps = 0;
    WindowHandle popup = 0;
    desktop.setPumpHook([&] {
        if (++pumps == 1) popup = desktop.add(u"IEFrame", u"彈出視窗");
    });
    run();
    EXPECT_NE(popup, 0u);
    EXPECT_FALSE(desktop.exists(popup));
}

TEST(ShowHideBrowserWindows, OnlyExactFrameClassAndEveryWindow) {
    FakeClock clock;
    FakeEventLoop loop(clock);
    FakeDesktop desktop;
    desktop.attach(loop);
    const WindowHandle frame1 = desktop.add(u"IEFrame", u"一");
    const WindowHandle folder = desktop.add(u"CabinetWClass", u"文件");
    const WindowHandle lookalike = desktop.add(u"IEFrameX", u"二");
    const WindowHandle lower = desktop.add(u"ieframe", u"三");
    const WindowHandle frame2 = desktop.add(u"IEFrame", u"四");
    const auto pumpsBefore = loop.pumpCount();

    ShowHideBrowserWindows(desktop, loop, true);
    EXPECT_EQ(desktop.actions(), (std::vector<DesktopAction>{{DesktopAction::Kind::Show, frame1, {}, ShowCommand::Hide},
                                                             {DesktopAction::Kind::Show, frame2, {}, ShowCommand::Hide}}));
    EXPECT_FALSE(desktop.isVisible(frame1) || desktop.isVisible(frame2));
    EXPECT_TRUE(desktop.isVisible(folder) && desktop.isVisible(lookalike) && desktop.isVisible(lower));
    EXPECT_EQ(loop.pumpCount() - pumpsBefore, 2u);  // the loop runs after each change

    desktop.clearActions();
    ShowHideBrowserWindows(desktop, loop, false);
    EXPECT_EQ(desktop.actions(),
              (std::vector<DesktopAction>{{DesktopAction::Kind::Show, frame1, {}, ShowCommand::ShowNormal},
                                          {DesktopAction::Kind::Show, frame2, {}, ShowCommand::ShowNormal}}));
    EXPECT_TRUE(desktop.isVisible(frame1) && desktop.isVisible(frame2));
}

TEST(ShowHideBrowserWindows, AFrameClosingMidwayDoesNotStopTheRest) {
    FakeClock clock;
    FakeEventLoop loop(clock);
    FakeDesktop desktop;
    desktop.attach(loop);
    const WindowHandle frame1 = desktop.add(u"IEFrame", u"一");
    const WindowHandle frame2 = desktop.add(u"IEFrame", u"二");
    const WindowHandle frame3 = desktop.add(u"IEFrame", u"三");
    desktop.setPumpHook([&] { desktop.destroy(frame2); });
    ShowHideBrowserWindows(desktop, loop, true);
    EXPECT_EQ(desktop.actions().size(), 2u);
    EXPECT_FALSE(desktop.isVisible(frame1));
    EXPECT_FALSE(desktop.isVisible(frame3));
}

}  // namespace
}  // namespace iw::app
