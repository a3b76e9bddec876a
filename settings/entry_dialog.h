// The list entry dialog `blacklist`: one text box that adds an entry to, or
// changes the selected entry of, the black list (mode 1), the trust list
// (mode 2) or the web-address list (mode 3, ie.ini). The presenter decides;
// the view mirrors the text and reports the typing and the two buttons.
//
// Nothing is written unless 確定 succeeds; a text the list's file cannot
// hold as typed is refused with a message and kept in the box.
#pragma once

#include <optional>
#include <string>

#include "settings/program_state.h"
#include "settings/modal_dialogs.h"
#include "settings/settings_store.h"

namespace iw::settings {

inline constexpr char16_t kBlackListCaption[] = u"設定黑名單";
inline constexpr char16_t kTrustListCaption[] = u"設定信任名單";
inline constexpr char16_t kWebAddressCaption[] = u"設定網站網址";

// The caption of the dialog in ListMode `mode` (1 to 3).
std::u16string EntryDialogCaption(int mode);

// The web-address rules of 確定 in mode 3: whether `t` is accepted, and the
// text stored for it (a bare scheme and host gets a "/" appended).
bool WebAddressAccepted(const std::u16string& t);
std::u16string WebAddressStored(const std::u16string& t);

class EntryDialogView {
public:
    virtual ~EntryDialogView() = default;
    virtual void setCaption(const std::u16string& caption) = 0;
    virtual void setText(const std::u16string& text) = 0;
    virtual void selectAllText() = 0;
    virtual void focusText() = 0;
    virtual void messageBox(const std::u16string& text, const std::u16string& title) = 0;
    // Closes the dialog; no notification follows.
    virtual void close() = 0;
};

class EntryDialog {
public:
    // Everything given must outlive the dialog. `listMode` is 1, 2 or 3.
    EntryDialog(SettingsStore& store, settings::ProgramState& module1, int listMode, EntryRowsOpener& opener,
                EntryDialogView& view);

    // Caption and start text by the mode; then, in modify mode (`editText`
    // given, EditMode set), the row's text replaces the start text.
    void load(const std::optional<std::u16string>& editText);
    void textChanged(const std::u16string& text) { text_ = text; }
    void confirm();  // 確定
    void cancel();  // 取消
    void unload();     // any other close

    const std::u16string& text() const { return text_; }
    bool closed() const { return closed_; }

private:
    void setText(const std::u16string& text);
    void refuse(const std::u16string& message);
    IniFile file() const { return mode_ == 3 ? IniFile::Ie : IniFile::Set; }
    std::u16string section() const;
    // Writes `text` = `value` in place of the old key (modify) or as a new key.
    bool store(const std::u16string& text, const std::u16string& value);
    void finish();

    SettingsStore& store_;
    settings::ProgramState& m_;
    int mode_;
    EntryRowsOpener& opener_;
    EntryDialogView& view_;
    std::u16string caption_;
    std::u16string text_;
    bool closed_ = false;
    bool editing_ = false;
    std::u16string oldText_;
    int oldRow_ = -1;
};

}  // namespace iw::settings
