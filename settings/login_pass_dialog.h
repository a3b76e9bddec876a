// The password change dialog `loginpass` ("密碼變更"): the old password,
// the new one and its confirmation, all masked. 確定 changes the settings
// password (in memory and in the registry) only when the old one is right
// and the two new ones agree exactly; otherwise the confirmation is cleared
// and the new password selected for retyping, without a word.
#pragma once

#include <string>

#include "settings/program_state.h"
#include "settings/registry_values.h"

namespace iw::settings {

inline constexpr char16_t kLoginPassCaption[] = u"密碼變更";
inline constexpr char16_t kLoginPassFont[] = u"新細明體";

// The boxes and buttons in tab order.
enum class LoginPassField { Text1, NewPassword, TxtPassword, Ok, Cancel };

class LoginPassView {
public:
    virtual ~LoginPassView() = default;
    virtual void setText(LoginPassField field, const std::u16string& text) = 0;
    virtual void selectAll(LoginPassField field) = 0;
    virtual void focus(LoginPassField field) = 0;
    virtual void messageBox(const std::u16string& text, const std::u16string& title) = 0;
    virtual void close() = 0;
};

class LoginPassDialog {
public:
    LoginPassDialog(RegistryValues& registry, settings::ProgramState& module1, LoginPassView& view);

    void oldPasswordChanged(const std::u16string& text) { old_ = text; }
    void newPasswordChanged(const std::u16string& text) { new_ = text; }
    void repeatedPasswordChanged(const std::u16string& text) { again_ = text; }
    void confirm();
    void cancel();
    void unload() { closed_ = true; }

    const std::u16string& text(LoginPassField field) const;
    bool closed() const { return closed_; }

private:
    RegistryValues& registry_;
    settings::ProgramState& m_;
    LoginPassView& view_;
    std::u16string old_, new_, again_;
    bool closed_ = false;
};

// Spaces (only spaces) removed from both ends.
std::u16string TrimSpaces(const std::u16string& text);

}  // namespace iw::settings
