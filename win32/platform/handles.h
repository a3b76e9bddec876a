// Owning wrappers for Win32 handles and a scope guard. One template serves
// every handle kind: a traits struct names the type, its "no handle" value
// and how to release it. Handles are moved, never copied, and released once.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <utility>

namespace iw::win32 {

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::invalid(); }
    // For out-parameters: releases what is held and hands out the slot.
    Type* put() {
        reset();
        return &h_;
    }
    Type release() { return std::exchange(h_, Traits::invalid()); }
    void reset(Type h = Traits::invalid()) {
        Type old = std::exchange(h_, h);
        if (old != Traits::invalid()) Traits::close(old);
    }

private:
    Type h_ = Traits::invalid();
};

struct WindowTraits {
    using Type = HWND;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyWindow(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyIcon(h); }
};
struct MenuTraits {
    using Type = HMENU;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyMenu(h); }
};
struct FontTraits {
    using Type = HFONT;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DeleteObject(h); }
};
struct KeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};
struct SocketTraits {
    using Type = SOCKET;
    static Type invalid() { return INVALID_SOCKET; }
    static void close(Type h) { closesocket(h); }
};
// Kernel handles that use NULL for "none" (processes, threads, mutexes).
struct KernelTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};
// Kernel handles that use INVALID_HANDLE_VALUE for "none" (CreateFileW).
struct FileTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueFont = UniqueHandle<FontTraits>;
using UniqueKey = UniqueHandle<KeyTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueKernel = UniqueHandle<KernelTraits>;
using UniqueFile = UniqueHandle<FileTraits>;

// Runs a function when the scope ends, unless dismissed.
template <typename F>
class ScopeGuard {
public:
    explicit ScopeGuard(F f) : f_(std::move(f)) {}
    ~ScopeGuard() {
        if (active_) f_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    void dismiss() { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <typename F>
ScopeGuard<F> onScopeExit(F f) {
    return ScopeGuard<F>(std::move(f));
}

// UTF-16 text as the W APIs want it; the two types share their layout here.
inline const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline std::u16string fromWide(const wchar_t* s, std::size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}
inline std::u16string fromWide(const wchar_t* s) { return fromWide(s, wcslen(s)); }

}  // namespace iw::win32
