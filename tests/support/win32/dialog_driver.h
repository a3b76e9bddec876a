// Drives modal dialogs in the GUI tests as a user would. A modal dialog's
// call returns only when the dialog closes, so the user's actions run from a
// timer of the program's loop, which keeps ticking inside the dialog's loop
// and inside message boxes: each tick runs the current step, and a step
// returns true when it is done. Actions are posted (typing to the focused
// control, keys through the dialog manager, button clicks), never sent, so
// no step runs inside the modal loop of a message box it opened.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace iw::test {

class DialogScript {
public:
    using Step = std::function<bool()>;
    // Starts ticking at once. After `timeoutMs` every dialog of the thread
    // is closed (as the close box would) so that a stuck test ends.
    DialogScript(platform::EventLoop& loop, std::vector<Step> steps, int timeoutMs = 20000);
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    bool finished() const { return at_ == steps_.size(); }
    std::size_t at() const { return at_; }  // the step it is at (or stuck on)
    bool timedOut() const { return timedOut_; }

private:
    void tick();

    platform::EventLoop& loop_;
    std::vector<Step> steps_;
    std::size_t at_ = 0;
    platform::TimerId timer_ = 0;
    DWORD start_;
    int timeoutMs_;
    bool busy_ = false;
    bool timedOut_ = false;
};

// Visible dialogs (class "#32770") of this thread: the one captioned
// `caption` that is not a message box, and the message box on top.
HWND FindDialog(const std::wstring& caption);
HWND FindMessageBox();
std::wstring MessageBoxText(HWND box);

std::wstring WindowText(HWND h);
// Characters typed into the focused control.
void TypeText(const std::wstring& text);
// A key pressed and released on the focused control (VK_TAB, VK_RETURN, ...).
void PressKey(UINT vk);
// A click on a button.
void ClickButton(HWND button);

}  // namespace iw::test
