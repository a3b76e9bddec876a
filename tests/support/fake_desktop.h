// A desktop of pretend windows for tests of the browser services, the
// watcher and the tray commands. Windows have a class, title, rectangle,
// visibility, state and a place in the z-order; the fake records every
// posted close, system command, show change and foreground change in order.
//
// Close requests take effect by the window's close rule: as soon as the n-th
// request is posted, at the next pump of the loop after a request, or never.
// "At the next pump" needs the fake to see the loop's pumps: attach() it to
// a FakeEventLoop (it takes the loop's idle hook) or call deliverPending()
// from a hook of your own.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "tests/support/fake_time.h"

namespace iw::test {

struct CloseRule {
    enum class Kind { AfterRequests, AtNextPump, Never };
    Kind kind = Kind::AtNextPump;
    int requests = 1;

    static CloseRule afterRequests(int n) { return {Kind::AfterRequests, n}; }
    static CloseRule atNextPump() { return {Kind::AtNextPump, 1}; }
    static CloseRule never() { return {Kind::Never, 0}; }
};

struct FakeWindowSpec {
    std::u16string className;
    std::u16string title;
    platform::WindowRect rect{0, 0, 800, 600};
    bool visible = true;
    bool minimized = false;
    bool maximized = false;
    CloseRule close = CloseRule::atNextPump();
    bool hung = false;  // controlText() times out
};

// One thing the code under test did to a window.
struct DesktopAction {
    enum class Kind { Close, SystemCommand, Show, Foreground };
    Kind kind;
    platform::WindowHandle window;
    platform::SystemCommand command = platform::SystemCommand::Close;  // for SystemCommand
    platform::ShowCommand show = platform::ShowCommand::Hide;          // for Show
    friend bool operator==(const DesktopAction&, const DesktopAction&) = default;
};

class FakeDesktop : public platform::Desktop {
public:
    FakeDesktop() = default;

    // Adds a top-level window below all others (so windows added in order
    // list topmost first); returns its handle (never 0).
    platform::WindowHandle add(FakeWindowSpec desc);
    platform::WindowHandle add(std::u16string className, std::u16string title, CloseRule close = CloseRule::atNextPump());
    // Adds a child window (listed by childWindows of every ancestor).
    platform::WindowHandle addChild(platform::WindowHandle parent, FakeWindowSpec desc);
    // Moves a top-level window to the top of the z-order.
    void bringToTop(platform::WindowHandle w);
    // Removes a window and its children at once, as if its program closed it.
    void destroy(platform::WindowHandle w);
    void setTitle(platform::WindowHandle w, std::u16string title);
    void setCloseRule(platform::WindowHandle w, CloseRule rule);
    void setScreen(platform::WindowRect r) { screen_ = r; }

    // Lets windows act on the requests they have had (the AtNextPump rule),
    // then calls the pump hook. attach() calls it on every idle pump.
    void deliverPending();
    void attach(FakeEventLoop& loop);
    // Called on every deliverPending(), after the windows have acted; a test
    // can open or close windows, or look at the clock, while the code under
    // test is waiting.
    void setPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }

    // What was done, in order.
    const std::vector<DesktopAction>& actions() const { return actions_; }
    // Only the close requests, by window, in order.
    std::vector<platform::WindowHandle> closeRequests() const;
    int closeRequestsTo(platform::WindowHandle w) const;
    void clearActions() { actions_.clear(); }
    std::size_t windowCount() const { return order_.size(); }
    // How many times controlText() was called.
    int controlTextReads() const { return controlTextReads_; }

    // Desktop
    std::vector<platform::WindowHandle> topLevelWindows() const override;
    platform::WindowHandle findTopLevel(const std::u16string& className,
                                        const std::optional<std::u16string>& title = std::nullopt) const override;
    std::vector<platform::WindowHandle> childWindows(platform::WindowHandle parent) const override;
    bool exists(platform::WindowHandle w) const override;
    std::u16string className(platform::WindowHandle w) const override;
    std::u16string windowText(platform::WindowHandle w) const override;
    std::optional<std::u16string> controlText(platform::WindowHandle w) const override;
    platform::WindowRect rect(platform::WindowHandle w) const override;
    bool isVisible(platform::WindowHandle w) const override;
    bool isMinimized(platform::WindowHandle w) const override;
    bool isMaximized(platform::WindowHandle w) const override;
    void postClose(platform::WindowHandle w) override;
    void postSystemCommand(platform::WindowHandle w, platform::SystemCommand c) override;
    void showAsync(platform::WindowHandle w, platform::ShowCommand c) override;
    platform::WindowHandle foreground() const override { return exists(foreground_) ? foreground_ : 0; }
    void setForeground(platform::WindowHandle w) override;
    platform::WindowRect screen() const override { return screen_; }

private:
    struct Window {
        FakeWindowSpec desc;
        platform::WindowHandle parent = 0;
        int closeRequests = 0;
        bool closePending = false;
    };
    const Window* find(platform::WindowHandle w) const;
    Window* find(platform::WindowHandle w);
    void collectChildren(platform::WindowHandle parent, std::vector<platform::WindowHandle>& out) const;

    std::map<platform::WindowHandle, Window> windows_;
    std::vector<platform::WindowHandle> order_;  // top-level z-order, topmost first
    std::vector<platform::WindowHandle> childOrder_;
    std::vector<DesktopAction> actions_;
    platform::WindowHandle next_ = 0x100;
    platform::WindowHandle foreground_ = 0;
    platform::WindowRect screen_{0, 0, 1280, 1024};
    std::function<void()> pumpHook_;
    mutable int controlTextReads_ = 0;
};

}  // namespace iw::test
