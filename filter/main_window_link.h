// What the filter window asks of the main (tray) window: the three tray
// menu entries it disables while it is open and enables again when its
// deletion run ends. The program-wide flags (CheckBusy, AutoOpened,
// NewMailCount, Online) are read and written directly in settings::ProgramState.
// The tray window implements this; calls are made on the UI thread and must
// not pump the event loop.
#pragma once

namespace iw::filter {

enum class TrayMenuEntry { Exit, CheckNow, Preview };  // mnu_exit, mnu_imm, mnu_preview

class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;
    virtual void setTrayMenuEnabled(TrayMenuEntry entry, bool enabled) = 0;
};

}  // namespace iw::filter
