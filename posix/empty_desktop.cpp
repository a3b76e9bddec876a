// The desktop of the native build: there are no other programs' windows to
// see or close, and the screen is a fixed 1024 x 768.
#include "platform/native.h"

namespace iw::posix {
namespace {

class EmptyDesktop : public platform::Desktop {
public:
    std::vector<platform::WindowHandle> topLevelWindows() const override { return {}; }
    platform::WindowHandle findTopLevel(const std::u16string&, const std::optional<std::u16string>&) const override {
        return 0;
    }
    std::vector<platform::WindowHandle> childWindows(platform::WindowHandle) const override { return {}; }
    bool exists(platform::WindowHandle) const override { return false; }
    std::u16string className(platform::WindowHandle) const override { return {}; }
    std::u16string windowText(platform::WindowHandle) const override { return {}; }
    platform::WindowRect rect(platform::WindowHandle) const override { return {}; }
    bool isVisible(platform::WindowHandle) const override { return false; }
    bool isMinimized(platform::WindowHandle) const override { return false; }
    bool isMaximized(platform::WindowHandle) const override { return false; }
    void postClose(platform::WindowHandle) override {}
    void postSystemCommand(platform::WindowHandle, platform::SystemCommand) override {}
    void showAsync(platform::WindowHandle, platform::ShowCommand) override {}
    platform::WindowHandle foreground() const override { return 0; }
    void setForeground(platform::WindowHandle) override {}
    platform::WindowRect screen() const override { return {0, 0, 1024, 768}; }
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<Desktop> createDesktop() { return std::make_unique<posix::EmptyDesktop>(); }
}  // namespace iw::platform
