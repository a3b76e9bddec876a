// Other programs' windows: the browser watcher, the close and hide commands
// and the tray menu reach them only through this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace iw::platform {

// An opaque window handle; 0 is no window.
using WindowHandle = std::uintptr_t;

struct WindowRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

enum class ShowCommand { Hide, ShowNormal, Maximize, Minimize, Restore };

enum class SystemCommand { Close, Maximize, Minimize, Restore };

class Desktop {
public:
    virtual ~Desktop() = default;

    // Top-level windows in z-order, topmost first.
    virtual std::vector<WindowHandle> topLevelWindows() const = 0;

    // The first top-level window (in z-order) of a class, and when `title`
    // is given, with exactly that window text; 0 when there is none.
    virtual WindowHandle findTopLevel(const std::u16string& className,
                                      const std::optional<std::u16string>& title = std::nullopt) const = 0;

    // Direct and indirect child windows, in the system's enumeration order.
    virtual std::vector<WindowHandle> childWindows(WindowHandle parent) const = 0;

    virtual bool exists(WindowHandle w) const = 0;
    virtual std::u16string className(WindowHandle w) const = 0;
    virtual std::u16string windowText(WindowHandle w) const = 0;
    // The text of a control, which may belong to another program: asked of
    // the control itself, with a short wait. nullopt when the control did
    // not answer in time (its program is hung or busy) or is gone; a caller
    // reading many controls of one program stops at the first nullopt. A
    // desktop whose reads cannot wait answers with windowText().
    virtual std::optional<std::u16string> controlText(WindowHandle w) const {
        if (!exists(w)) return std::nullopt;
        return windowText(w);
    }
    virtual WindowRect rect(WindowHandle w) const = 0;
    virtual bool isVisible(WindowHandle w) const = 0;
    virtual bool isMinimized(WindowHandle w) const = 0;
    virtual bool isMaximized(WindowHandle w) const = 0;

    // Posts WM_CLOSE; does not wait for it to take effect.
    virtual void postClose(WindowHandle w) = 0;
    // Posts WM_SYSCOMMAND with the command.
    virtual void postSystemCommand(WindowHandle w, SystemCommand c) = 0;
    // Changes the show state without waiting for the window's thread.
    virtual void showAsync(WindowHandle w, ShowCommand c) = 0;

    virtual WindowHandle foreground() const = 0;
    virtual void setForeground(WindowHandle w) = 0;

    // Size of the primary screen in pixels.
    virtual WindowRect screen() const = 0;
};

}  // namespace iw::platform
