// Stand-in for the small modal dialogs until their windows exist: each one
// says so in a message box over its owner and changes nothing.
#include "win32/app/modal_dialogs_win32.h"

namespace iw::win32app {

namespace {

class PendingDialogs final : public settings::ModalDialogs {
public:
    explicit PendingDialogs(HWND owner) : owner_(owner) {}
    void openAccount(settings::AccountRowsOpener&, const std::u16string&) override { say(); }
    void openEntry(int, const std::optional<std::u16string>&, settings::EntryRowsOpener&) override { say(); }
    void openLoginPass() override { say(); }
    std::optional<std::u16string> askText(const std::u16string&, const std::u16string&, bool) override {
        say();
        return std::nullopt;
    }

private:
    void say() { MessageBoxW(owner_, L"此對話框尚未提供。", L"Inkwarden", MB_OK | MB_ICONINFORMATION); }
    HWND owner_;
};

}  // namespace

std::unique_ptr<settings::ModalDialogs> createModalDialogs(HWND owner) {
    return std::make_unique<PendingDialogs>(owner);
}

}  // namespace iw::win32app
