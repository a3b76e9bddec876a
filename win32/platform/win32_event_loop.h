// The Win32 event loop as other win32/ code sees it: the hidden window that owns the timers and receives the socket messages, handlers for
// window messages sent to that window (the tray icon's callback, sockets),
// and the modeless dialogs whose keyboard messages go through
// IsDialogMessageW before they are dispatched.
//
// Handlers run on the UI thread from inside a pump (or a modal loop such as
// a menu or message box); they must not throw. A handler may remove itself.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>

#include "platform/event_loop.h"

namespace iw::win32 {

using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;

class Win32EventLoop : public platform::EventLoop {
public:
    // The hidden window; lives as long as the loop. It is a top-level window
    // that is never shown (not a message-only one), because broadcasts such
    // as "TaskbarCreated" reach top-level windows only.
    virtual HWND window() const = 0;

    // Hands out a message number of the private range (WM_APP and up) that
    // no other handler uses at the moment, for callbacks such as the tray
    // icon's or a socket's. Numbers are reused only after many others, so a
    // late message of a freed number is unlikely to reach a new owner.
    virtual UINT allocateMessage() = 0;

    // Routes `message` on the hidden window to `handler` (replacing an
    // earlier handler of the same message). Also for registered messages
    // such as "TaskbarCreated".
    virtual void setMessageHandler(UINT message, MessageHandler handler) = 0;
    virtual void removeMessageHandler(UINT message) = 0;

    // Modeless dialogs: their messages go through IsDialogMessageW.
    virtual void addDialog(HWND dialog) = 0;
    virtual void removeDialog(HWND dialog) = 0;

    // A pump met WM_QUIT (PostQuitMessage); the front end's main loop ends.
    virtual bool quitRequested() const = 0;
    virtual int quitCode() const = 0;
};

// The Win32 loop behind an EventLoop from platform::createEventLoop(); null
// for any other loop (a fake in tests).
Win32EventLoop* asWin32(platform::EventLoop& loop);

}  // namespace iw::win32
