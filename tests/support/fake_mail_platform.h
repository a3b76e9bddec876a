// The platform of the mail tests in one piece: the fake clock, loop and
// network with scripted POP3 servers, the system's code pages, and stubs
// for the registry, desktop, shell and files. A fixture derives from it and
// uses the members by name.
#pragma once

#include <memory>

#include "platform/native.h"
#include "platform/platform.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_time.h"
#include "tests/support/filter_fakes.h"

namespace iw::test {

struct FakeMailPlatform {
    FakeClock clock;
    FakeEventLoop loop{clock};
    FakeNetwork net{loop, clock};
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    StubRegistry registry;
    StubDesktop desktop;
    StubShell shell;
    StubFileStore files;
    platform::Platform plat{loop, clock, net, *cp, registry, desktop, shell, files};
};

}  // namespace iw::test
