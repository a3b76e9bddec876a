// The window classes and dialog titles of the browser and the folder windows,
// as the watcher, the close command and the hide command look for them.
#pragma once

namespace iw::browser {

inline constexpr char16_t kBrowserFrameClass[] = u"IEFrame";
inline constexpr char16_t kFolderWindowClass[] = u"CabinetWClass";
inline constexpr char16_t kDialogClass[] = u"#32770";
inline constexpr char16_t kConnectDialogTitle[] = u"連線到";
inline constexpr char16_t kOfflinePageDialogTitle[] = u"在離線模式下找不到 Web 網頁";

}  // namespace iw::browser
