// Pretend windows for tests; see fake_desktop.h.
#include "tests/support/fake_desktop.h"

#include <algorithm>

namespace iw::test {

using platform::WindowHandle;

platform::WindowHandle FakeDesktop::add(FakeWindowSpec desc) {
    const WindowHandle h = next_;
    next_ += 4;
    windows_[h] = Window{std::move(desc), 0, 0, false};
    order_.push_back(h);
    return h;
}

platform::WindowHandle FakeDesktop::add(std::u16string className, std::u16string title, CloseRule close) {
    FakeWindowSpec s;
    s.className = std::move(className);
    s.title = std::move(title);
    s.close = close;
    return add(std::move(s));
}

platform::WindowHandle FakeDesktop::addChild(WindowHandle parent, FakeWindowSpec desc) {
    const WindowHandle h = next_;
    next_ += 4;
    windows_[h] = Window{std::move(desc), parent, 0, false};
    childOrder_.push_back(h);
    return h;
}

void FakeDesktop::bringToTop(WindowHandle w) {
    auto it = std::find(order_.begin(), order_.end(), w);
    if (it == order_.end()) return;
    order_.erase(it);
    order_.insert(order_.begin(), w);
}

void FakeDesktop::destroy(WindowHandle w) {
    if (!windows_.count(w)) return;
    std::vector<WindowHandle> kids;
    collectChildren(w, kids);
    for (WindowHandle k : kids) windows_.erase(k);
    // Children whose window is gone leave the order in one pass.
    childOrder_.erase(std::remove_if(childOrder_.begin(), childOrder_.end(),
                                     [this](WindowHandle k) { return windows_.find(k) == windows_.end(); }),
                      childOrder_.end());
    windows_.erase(w);
    order_.erase(std::remove(order_.begin(), order_.end(), w), order_.end());
    childOrder_.erase(std::remove(childOrder_.begin(), childOrder_.end(), w), childOrder_.end());
}

void FakeDesktop::setTitle(WindowHandle w, std::u16string title) {
    if (Window* x = find(w)) x->desc.title = std::move(title);
}

void FakeDesktop::setCloseRule(WindowHandle w, CloseRule rule) {
    if (Window* x = find(w)) x->desc.close = rule;
}

void FakeDesktop::deliverPending() {
    std::vector<WindowHandle> closing;
    for (const auto& [h, w] : windows_)
        if (w.closePending) closing.push_back(h);
    for (WindowHandle h : closing) destroy(h);
    if (pumpHook_) pumpHook_();
}

void FakeDesktop::attach(FakeEventLoop& loop) {
    loop.setIdleHook([this] {
        deliverPending();
        return false;
    });
}

std::vector<WindowHandle> FakeDesktop::closeRequests() const {
    std::vector<WindowHandle> r;
    for (const auto& a : actions_)
        if (a.kind == DesktopAction::Kind::Close) r.push_back(a.window);
    return r;
}

int FakeDesktop::closeRequestsTo(WindowHandle w) const {
    const auto all = closeRequests();
    return static_cast<int>(std::count(all.begin(), all.end(), w));
}

const FakeDesktop::Window* FakeDesktop::find(WindowHandle w) const {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : &it->second;
}

FakeDesktop::Window* FakeDesktop::find(WindowHandle w) {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : &it->second;
}

void FakeDesktop::collectChildren(WindowHandle parent, std::vector<WindowHandle>& out) const {
    // One pass groups the children by parent (keeping their order), so a
    // frame of many thousand children costs no more than a sort.
    std::map<WindowHandle, std::vector<WindowHandle>> byParent;
    for (WindowHandle c : childOrder_) {
        const Window* w = find(c);
        if (w) byParent[w->parent].push_back(c);
    }
    std::vector<std::pair<const std::vector<WindowHandle>*, std::size_t>> stack;
    if (auto it = byParent.find(parent); it != byParent.end()) stack.push_back({&it->second, 0});
    while (!stack.empty()) {
        auto& [list, next] = stack.back();
        if (next == list->size()) {
            stack.pop_back();
            continue;
        }
        const WindowHandle c = (*list)[next++];
        out.push_back(c);
        if (auto it = byParent.find(c); it != byParent.end()) stack.push_back({&it->second, 0});
    }
}

std::vector<WindowHandle> FakeDesktop::topLevelWindows() const { return order_; }

WindowHandle FakeDesktop::findTopLevel(const std::u16string& className,
                                       const std::optional<std::u16string>& title) const {
    for (WindowHandle h : order_) {
        const Window& w = windows_.at(h);
        if (w.desc.className == className && (!title || w.desc.title == *title)) return h;
    }
    return 0;
}

std::vector<WindowHandle> FakeDesktop::childWindows(WindowHandle parent) const {
    std::vector<WindowHandle> r;
    collectChildren(parent, r);
    return r;
}

bool FakeDesktop::exists(WindowHandle w) const { return find(w) != nullptr; }

std::u16string FakeDesktop::className(WindowHandle w) const {
    const Window* x = find(w);
    return x ? x->desc.className : std::u16string();
}

std::u16string FakeDesktop::windowText(WindowHandle w) const {
    const Window* x = find(w);
    return x ? x->desc.title : std::u16string();
}

std::optional<std::u16string> FakeDesktop::controlText(WindowHandle w) const {
    ++controlTextReads_;
    const Window* x = find(w);
    if (!x || x->desc.hung) return std::nullopt;
    return x->desc.title;
}

platform::WindowRect FakeDesktop::rect(WindowHandle w) const {
    const Window* x = find(w);
    return x ? x->desc.rect : platform::WindowRect{};
}

bool FakeDesktop::isVisible(WindowHandle w) const {
    const Window* x = find(w);
    return x && x->desc.visible;
}

bool FakeDesktop::isMinimized(WindowHandle w) const {
    const Window* x = find(w);
    return x && x->desc.minimized;
}

bool FakeDesktop::isMaximized(WindowHandle w) const {
    const Window* x = find(w);
    return x && x->desc.maximized;
}

void FakeDesktop::postClose(WindowHandle w) {
    actions_.push_back({DesktopAction::Kind::Close, w});
    Window* x = find(w);
    if (!x) return;
    ++x->closeRequests;
    switch (x->desc.close.kind) {
    case CloseRule::Kind::AfterRequests:
        if (x->closeRequests >= x->desc.close.requests) destroy(w);
        break;
    case CloseRule::Kind::AtNextPump: x->closePending = true; break;
    case CloseRule::Kind::Never: break;
    }
}

void FakeDesktop::postSystemCommand(WindowHandle w, platform::SystemCommand c) {
    DesktopAction a{DesktopAction::Kind::SystemCommand, w};
    a.command = c;
    actions_.push_back(a);
    Window* x = find(w);
    if (!x) return;
    switch (c) {
    case platform::SystemCommand::Close:
        if (x->desc.close.kind != CloseRule::Kind::Never) x->closePending = true;
        break;
    case platform::SystemCommand::Maximize: x->desc.maximized = true; x->desc.minimized = false; break;
    case platform::SystemCommand::Minimize: x->desc.minimized = true; x->desc.maximized = false; break;
    case platform::SystemCommand::Restore: x->desc.minimized = false; x->desc.maximized = false; break;
    }
}

void FakeDesktop::showAsync(WindowHandle w, platform::ShowCommand c) {
    DesktopAction a{DesktopAction::Kind::Show, w};
    a.show = c;
    actions_.push_back(a);
    Window* x = find(w);
    if (!x) return;
    switch (c) {
    case platform::ShowCommand::Hide: x->desc.visible = false; break;
    case platform::ShowCommand::ShowNormal:
    case platform::ShowCommand::Restore:
        x->desc.visible = true;
        x->desc.minimized = false;
        x->desc.maximized = false;
        break;
    case platform::ShowCommand::Maximize: x->desc.visible = true; x->desc.maximized = true; x->desc.minimized = false; break;
    case platform::ShowCommand::Minimize: x->desc.visible = true; x->desc.minimized = true; x->desc.maximized = false; break;
    }
}

void FakeDesktop::setForeground(WindowHandle w) {
    actions_.push_back({DesktopAction::Kind::Foreground, w});
    if (exists(w)) foreground_ = w;
}

}  // namespace iw::test
