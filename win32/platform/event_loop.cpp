// The Win32 event loop: PeekMessageW / DispatchMessageW for what is pending,
// MsgWaitForMultipleObjectsEx to block until the next message, timer or the
// caller's limit. Timers are SetTimer timers of the hidden window; posted
// callbacks wait in a queue numbered in order, so a pump runs exactly those
// posted before it began (before the pending messages), and a nested pump also runs what its outer pump
// has not reached yet (a callback that waits for a later one never hangs).
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/native.h"
#include "win32/platform/handles.h"
#include "win32/platform/win32_event_loop.h"

namespace iw::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"InkwardenEventWindow";
constexpr UINT kFirstPrivateMessage = WM_APP + 0x10;
constexpr UINT kLastPrivateMessage = 0xBFFF;
constexpr DWORD kDefaultSliceMs = 250;
// A pump hands out at most this many messages, so a handler that keeps
// posting cannot hold one pump for ever.
constexpr int kMaxMessagesPerPump = 10000;

void reportSwallowed(const char* where) {
    char text[160];
    std::snprintf(text, sizeof text, "Inkwarden: an exception was stopped at %s\n", where);
    OutputDebugStringA(text);
}

class EventLoopImpl final : public Win32EventLoop {
public:
    EventLoopImpl() {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &EventLoopImpl::windowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kWindowClass;
        RegisterClassExW(&wc);  // fails harmlessly when a second loop registers it again
        window_.reset(CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, instance, this));
    }

    ~EventLoopImpl() override {
        for (const auto& [id, t] : timers_) KillTimer(window_.get(), static_cast<UINT_PTR>(id));
        timers_.clear();
        if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
        window_.reset();
    }

    void pump(std::optional<platform::Milliseconds> maxWait) override {
        // Posted callbacks first: each reports something that happened before
        // anything still queued as a message (a send that completed inside a
        // call, say), so it must not come after the messages of what
        // followed. A fast server's answer to QUIT and its close would
        // otherwise be handled first, the connection closed, and the
        // send-complete event of the QUIT dropped as stale.
        const std::uint64_t limit = nextPostSeq_;
        bool did = runPosted(limit);
        did = dispatchPending() || did;
        if (did) return;

        DWORD waitMs = kDefaultSliceMs;
        if (maxWait) {
            const auto ms = maxWait->count();
            waitMs = ms <= 0 ? 0 : (ms >= 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(ms));
        }
        if (waitMs > 0) MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        dispatchPending();
    }

    platform::TimerId startTimer(platform::Milliseconds interval, bool periodic,
                                 std::function<void()> fn) override {
        const platform::TimerId id = nextTimerId_++;
        auto ms = interval.count();
        if (ms < USER_TIMER_MINIMUM) ms = USER_TIMER_MINIMUM;
        if (ms > USER_TIMER_MAXIMUM) ms = USER_TIMER_MAXIMUM;
        if (!SetTimer(window_.get(), static_cast<UINT_PTR>(id), static_cast<UINT>(ms), nullptr)) return id;
        timers_[id] = Timer{std::make_shared<std::function<void()>>(std::move(fn)), periodic};
        return id;
    }

    void stopTimer(platform::TimerId id) override {
        if (timers_.erase(id)) KillTimer(window_.get(), static_cast<UINT_PTR>(id));
    }

    void post(std::function<void()> fn) override { posted_.push_back(Posted{nextPostSeq_++, std::move(fn)}); }

    HWND window() const override { return window_.get(); }

    UINT allocateMessage() override {
        for (UINT tries = 0; tries <= kLastPrivateMessage - kFirstPrivateMessage; ++tries) {
            const UINT m = nextMessage_;
            nextMessage_ = m == kLastPrivateMessage ? kFirstPrivateMessage : m + 1;
            if (!handlers_.count(m) && !reserved_.count(m)) {
                reserved_.insert({m, true});
                return m;
            }
        }
        return 0;
    }

    void setMessageHandler(UINT message, MessageHandler handler) override {
        handlers_[message] = std::make_shared<MessageHandler>(std::move(handler));
    }

    void removeMessageHandler(UINT message) override {
        handlers_.erase(message);
        reserved_.erase(message);
    }

    void addDialog(HWND dialog) override { dialogs_.push_back(dialog); }
    void removeDialog(HWND dialog) override { std::erase(dialogs_, dialog); }

    bool quitRequested() const override { return quit_; }
    int quitCode() const override { return quitCode_; }

private:
    struct Timer {
        std::shared_ptr<std::function<void()>> fn;
        bool periodic;
    };
    struct Posted {
        std::uint64_t seq;
        std::function<void()> fn;
    };

    bool dispatchPending() {
        bool did = false;
        MSG msg;
        for (int n = 0; n < kMaxMessagesPerPump && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
            did = true;
            if (msg.message == WM_QUIT) {
                quit_ = true;
                quitCode_ = static_cast<int>(msg.wParam);
                continue;
            }
            if (isDialogMessage(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return did;
    }

    bool isDialogMessage(MSG& msg) {
        if (dialogs_.empty()) return false;
        // A copy: a dialog may close (and remove itself) while handling.
        const std::vector<HWND> dialogs = dialogs_;
        for (HWND d : dialogs)
            if (IsWindow(d) && IsDialogMessageW(d, &msg)) return true;
        return false;
    }

    bool runPosted(std::uint64_t limit) {
        bool did = false;
        while (!posted_.empty() && posted_.front().seq < limit) {
            auto fn = std::move(posted_.front().fn);
            posted_.pop_front();
            did = true;
            try {
                if (fn) fn();
            } catch (...) {
                reportSwallowed("a posted callback");
            }
        }
        return did;
    }

    void onTimer(platform::TimerId id) {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;  // stopped; a late WM_TIMER
        auto fn = it->second.fn;          // keeps the callback alive if it stops its own timer
        if (!it->second.periodic) stopTimer(id);
        (*fn)();
    }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
        if (message == WM_TIMER) {
            handled = true;
            onTimer(static_cast<platform::TimerId>(wParam));
            return 0;
        }
        auto it = handlers_.find(message);
        if (it == handlers_.end()) return 0;
        handled = true;
        auto handler = it->second;  // the handler may remove itself
        return (*handler)(wParam, lParam);
    }

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<EventLoopImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self) {
            try {
                bool handled = false;
                LRESULT r = self->handle(message, wParam, lParam, handled);
                if (handled) return r;
            } catch (...) {
                reportSwallowed("the event window");
                return 0;
            }
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    UniqueWindow window_;
    std::map<platform::TimerId, Timer> timers_;
    platform::TimerId nextTimerId_ = 1;
    std::deque<Posted> posted_;
    std::uint64_t nextPostSeq_ = 0;
    std::map<UINT, std::shared_ptr<MessageHandler>> handlers_;
    std::map<UINT, bool> reserved_;
    UINT nextMessage_ = kFirstPrivateMessage;
    std::vector<HWND> dialogs_;
    bool quit_ = false;
    int quitCode_ = 0;
};

}  // namespace

Win32EventLoop* asWin32(platform::EventLoop& loop) { return dynamic_cast<Win32EventLoop*>(&loop); }

}  // namespace iw::win32

namespace iw::platform {

std::unique_ptr<EventLoop> createEventLoop() { return std::make_unique<win32::EventLoopImpl>(); }

}  // namespace iw::platform
