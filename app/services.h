// The common services every window calls: the wait that keeps the program
// responsive, the host-name lookup, the registry read, and the two commands
// over the browser's windows (close them all; hide or show them all).
//
// Each of these lets the event loop run inside it, so timer ticks, socket
// events and clicks of any window can run meanwhile; callers must tolerate
// that re-entry.
#pragma once

#include <string>

#include "settings/program_state.h"
#include "browser/window_classes.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/system_clock.h"
#include "settings/registry_values.h"

namespace iw::app {

// The status text of a failed host lookup.
inline constexpr char16_t kLookupFailedText[] = u"無法查詢主機IP位置";

// How long CloseBrowserWindows goes on at most, in whole seconds.
inline constexpr int kCloseBrowserLimitSeconds = 10;

// Returns once `seconds` whole seconds have passed (by the rule of
// platform/waits.h), pumping the loop meanwhile. Zero or less returns at once.
void WaitSeconds(platform::EventLoop& loop, const platform::SystemClock& clock, double seconds);

// The dotted IPv4 address of `host`, or "" when the name does not resolve or
// resolves to anything but IPv4; then state.run.StatusText holds
// "無法查詢主機IP位置". Lets the loop run once before the (blocking) lookup.
// A successful lookup leaves StatusText as it was.
std::string LookupHostAddress(settings::ProgramState& state, platform::EventLoop& loop, platform::Resolver& resolver,
                              const std::string& host);

// A string value under Software\Inkwarden ("PassWord", "ShowIE"); "" when it
// cannot be read.
inline std::u16string ReadRegString(platform::Registry& registry, const std::u16string& name) {
    return settings::RegistryValues(registry).ReadRegString(name);
}

// Closes every folder window, the browser's dialogs and every browser frame,
// returning within about ten seconds even when a window refuses to close.
// Each pass, in order:
//  1. while a "CabinetWClass" window exists and the limit is not reached:
//     post the first a close request, pump, and start the pass again;
//  2. post a close request to the first "#32770" window, whatever its title;
//  3. post one to the "#32770" window titled "連線到", then to the one titled
//     "在離線模式下找不到 Web 網頁";
//  4. post one to the first "IEFrame" window, or, while a "連線到" dialog is
//     open, to that dialog instead (the frame cannot close under it);
//  5. pump; stop when step 4 found no frame or 10 whole seconds have passed
//     since the start (across midnight too, step 1 included).
// Close requests are posted, never waited for.
void CloseBrowserWindows(platform::Desktop& desktop, platform::EventLoop& loop,
                         const platform::SystemClock& clock);

// Hides (hidden = true) or shows in the normal state (false) every top-level
// window whose class is exactly "IEFrame", asynchronously, letting the loop
// run after each; every top-level window is visited.
void ShowHideBrowserWindows(platform::Desktop& desktop, platform::EventLoop& loop, bool hidden);

}  // namespace iw::app
