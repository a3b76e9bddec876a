// Factories for this build's real platform implementation: posix/ provides
// them in the native build, win32/platform/ in the Windows build. Front ends
// (WinMain, the CLI) and tests that need the real thing call these.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace iw::platform {

std::unique_ptr<EventLoop> createEventLoop();
std::unique_ptr<SystemClock> createSystemClock();
// Sockets deliver their events through `loop`, which must be the object
// createEventLoop() returned and must outlive the network and its sockets.
std::unique_ptr<Network> createNetwork(EventLoop& loop);
std::unique_ptr<CodePage> createCodePage();
// Windows: the system registry. POSIX: an in-memory registry that starts
// empty (the CLI has no registry to read).
std::unique_ptr<Registry> createRegistry();
// Windows: the real desktop. POSIX: a desktop without windows.
std::unique_ptr<Desktop> createDesktop();
std::unique_ptr<Shell> createShell();
std::unique_ptr<FileStore> createFileStore();

// Owns one of each and hands out the bundle.
class NativePlatform {
public:
    NativePlatform();
    ~NativePlatform();
    NativePlatform(const NativePlatform&) = delete;
    NativePlatform& operator=(const NativePlatform&) = delete;

    Platform& get() { return *bundle_; }

private:
    std::unique_ptr<EventLoop> loop_;
    std::unique_ptr<SystemClock> clock_;
    std::unique_ptr<Network> network_;
    std::unique_ptr<CodePage> codePage_;
    std::unique_ptr<Registry> registry_;
    std::unique_ptr<Desktop> desktop_;
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<FileStore> files_;
    std::unique_ptr<Platform> bundle_;
};

}  // namespace iw::platform
