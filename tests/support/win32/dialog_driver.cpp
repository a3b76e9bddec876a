// The dialog driver of the GUI tests; see dialog_driver.h.
#include "tests/support/win32/dialog_driver.h"

namespace iw::test {

namespace {

constexpr int kMessageTextId = 0xFFFF;  // the text of a message box

bool isDialog(HWND h) {
    wchar_t cls[16] = L"";
    GetClassNameW(h, cls, 16);
    return std::wstring(cls) == L"#32770" && IsWindowVisible(h);
}

std::vector<HWND> threadDialogs() {
    std::vector<HWND> out;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM p) {
            if (isDialog(h)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

bool isMessageBox(HWND h) { return GetDlgItem(h, kMessageTextId) != nullptr; }

}  // namespace

DialogScript::DialogScript(platform::EventLoop& loop, std::vector<Step> steps, int timeoutMs)
    : loop_(loop), steps_(std::move(steps)), start_(GetTickCount()), timeoutMs_(timeoutMs) {
    timer_ = loop_.startTimer(platform::Milliseconds(40), true, [this] { tick(); });
}

DialogScript::~DialogScript() { loop_.stopTimer(timer_); }

void DialogScript::tick() {
    if (busy_) return;
    busy_ = true;
    if (!finished() && !timedOut_) {
        if (GetTickCount() - start_ > static_cast<DWORD>(timeoutMs_)) {
            timedOut_ = true;
            for (HWND d : threadDialogs()) PostMessageW(d, WM_CLOSE, 0, 0);
        } else if (steps_[at_]()) {
            ++at_;
        }
    } else if (timedOut_) {
        for (HWND d : threadDialogs()) PostMessageW(d, WM_CLOSE, 0, 0);
    }
    busy_ = false;
}

HWND FindDialog(const std::wstring& caption) {
    for (HWND h : threadDialogs())
        if (!isMessageBox(h) && WindowText(h) == caption) return h;
    return nullptr;
}

HWND FindMessageBox() {
    for (HWND h : threadDialogs())
        if (isMessageBox(h)) return h;
    return nullptr;
}

std::wstring MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, kMessageTextId)); }

std::wstring WindowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring buf(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(h, buf.data(), n + 1);
    buf.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return buf;
}

void TypeText(const std::wstring& text) {
    HWND focus = GetFocus();
    for (wchar_t c : text) PostMessageW(focus, WM_CHAR, c, 1);
}

void PressKey(UINT vk) {
    HWND focus = GetFocus();
    PostMessageW(focus, WM_KEYDOWN, vk, 1);
    PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
}

void ClickButton(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

}  // namespace iw::test
