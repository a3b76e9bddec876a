// The common services; see services.h.
#include "app/services.h"

#include "platform/waits.h"

namespace iw::app {

namespace {
// CloseBrowserWindows polls other programs' windows, whose closing sends this
// process no event, so each of its pumps blocks no longer than this.
constexpr platform::Milliseconds kClosePollSlice{100};
}  // namespace

void WaitSeconds(platform::EventLoop& loop, const platform::SystemClock& clock, double seconds) {
    platform::waitUntil(loop, clock, seconds, nullptr, platform::LimitRule::AtLeast);
}

std::string LookupHostAddress(settings::ProgramState& state, platform::EventLoop& loop, platform::Resolver& resolver,
                              const std::string& host) {
    loop.pump(platform::Milliseconds(0));
    const platform::ResolveResult r = resolver.resolve(host);
    if (!r.found || !r.ipv4 || r.address.empty()) {
        state.run.StatusText = kLookupFailedText;
        return {};
    }
    return r.address;
}

void CloseBrowserWindows(platform::Desktop& desktop, platform::EventLoop& loop,
                         const platform::SystemClock& clock) {
    platform::WaitClock limit(clock, kCloseBrowserLimitSeconds, platform::LimitRule::AtLeast);
    for (;;) {
        // 1. Folder windows first, one close request per pass restart.
        while (!limit.limitReached()) {
            const platform::WindowHandle folder = desktop.findTopLevel(browser::kFolderWindowClass);
            if (folder == 0) break;
            desktop.postClose(folder);
            limit.pump(loop, kClosePollSlice);
        }
        // 2. Any dialog of the standard class.
        if (const auto dlg = desktop.findTopLevel(browser::kDialogClass)) desktop.postClose(dlg);
        // 3. The browser's two known dialogs by title.
        const platform::WindowHandle connect = desktop.findTopLevel(browser::kDialogClass, std::u16string(browser::kConnectDialogTitle));
        if (connect != 0) desktop.postClose(connect);
        if (const auto offline = desktop.findTopLevel(browser::kDialogClass, std::u16string(browser::kOfflinePageDialogTitle)))
            desktop.postClose(offline);
        // 4. The first frame, unless the connect dialog stands in front of it.
        const platform::WindowHandle frame = desktop.findTopLevel(browser::kBrowserFrameClass);
        if (frame != 0) {
            const platform::WindowHandle stillConnect =
                desktop.findTopLevel(browser::kDialogClass, std::u16string(browser::kConnectDialogTitle));
            desktop.postClose(stillConnect != 0 ? stillConnect : frame);
        }
        // 5.
        limit.pump(loop, kClosePollSlice);
        if (frame == 0 || limit.limitReached()) return;
    }
}

void ShowHideBrowserWindows(platform::Desktop& desktop, platform::EventLoop& loop, bool hidden) {
    for (const platform::WindowHandle w : desktop.topLevelWindows()) {
        if (desktop.className(w) != browser::kBrowserFrameClass) continue;
        desktop.showAsync(w, hidden ? platform::ShowCommand::Hide : platform::ShowCommand::ShowNormal);
        loop.pump(platform::Milliseconds(0));
    }
}

}  // namespace iw::app
