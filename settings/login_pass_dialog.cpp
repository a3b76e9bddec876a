// The password change dialog's presenter.
#include "settings/login_pass_dialog.h"

namespace iw::settings {

std::u16string TrimSpaces(const std::u16string& text) {
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string::npos) return {};
    return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

LoginPassDialog::LoginPassDialog(RegistryValues& registry, settings::ProgramState& module1, LoginPassView& view)
    : registry_(registry), m_(module1), view_(view) {}

const std::u16string& LoginPassDialog::text(LoginPassField field) const {
    static const std::u16string none;
    switch (field) {
        case LoginPassField::Text1: return old_;
        case LoginPassField::NewPassword: return new_;
        case LoginPassField::TxtPassword: return again_;
        default: return none;
    }
}

void LoginPassDialog::confirm() {
    if (closed_) return;
    // Compared exactly as typed, before any trimming.
    if (old_ != m_.dialog.SettingsPassword || new_ != again_) {
        again_.clear();
        view_.setText(LoginPassField::TxtPassword, again_);
        view_.selectAll(LoginPassField::NewPassword);
        view_.focus(LoginPassField::NewPassword);
        return;
    }
    m_.dialog.SettingsPassword = TrimSpaces(new_);
    if (!registry_.WriteRegString(u"PassWord", m_.dialog.SettingsPassword)) {
        // The lock holds in memory until the program ends, but the next
        // start would not know it: say so rather than pretend.
        view_.messageBox(u"無法把密碼寫入登錄,密碼只在這次執行時有效。", kLoginPassCaption);
    }
    closed_ = true;
    view_.close();
}

void LoginPassDialog::cancel() {
    if (closed_) return;
    closed_ = true;
    view_.close();
}

}  // namespace iw::settings
