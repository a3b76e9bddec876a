// The bundle of platform services handed to portable code at start-up.
// Nothing here is owned: the front end (WinMain, the CLI, a test) creates
// the implementations and keeps them alive as long as the bundle is used.
#pragma once

#include "platform/code_page.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/file_store.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system_clock.h"

namespace iw::platform {

struct Platform {
    EventLoop& loop;
    SystemClock& clock;
    Network& network;
    const CodePage& codePage;
    Registry& registry;
    Desktop& desktop;
    Shell& shell;
    FileStore& files;
};

}  // namespace iw::platform
