// The list entry dialog's presenter: captions and start texts by list, the
// empty-entry and web-address rules, and the write into set.ini or ie.ini.
#include "settings/entry_dialog.h"

#include "settings/accounts.h"
#include "settings/ini_document.h"

namespace iw::settings {

namespace {

constexpr char16_t kEmpty[] = u"不能空白";
constexpr char16_t kBadAddress[] = u"網址不正確";
constexpr char16_t kKeyUnusable[] = u"不能含有「=」或換行,也不能以「[」或「;」開頭";
constexpr char16_t kStartText[] = u"http://";

std::u16string lower(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return s;
}

bool hasScheme(const std::u16string& t) {
    return lower(t.substr(0, 4)) == u"http" || lower(t.substr(0, 3)) == u"ftp";
}

}  // namespace

std::u16string EntryDialogCaption(int mode) {
    switch (mode) {
        case 1: return kBlackListCaption;
        case 2: return kTrustListCaption;
        default: return kWebAddressCaption;
    }
}

bool WebAddressAccepted(const std::u16string& t) {
    if (t.empty()) return false;
    const std::u16string last4 = t.size() > 4 ? t.substr(t.size() - 4) : t;
    return hasScheme(t) || last4.find(u"htm") != std::u16string::npos;
}

std::u16string WebAddressStored(const std::u16string& t) {
    // A scheme and host alone names the site's root, which ends in "/"; a
    // page whose file name ends in htm or html is stored as typed.
    if (hasScheme(t) && lower(t).find(u"htm") == std::u16string::npos && t.find(u'/', 7) == std::u16string::npos)
        return t + u"/";
    return t;
}

EntryDialog::EntryDialog(SettingsStore& store, settings::ProgramState& module1, int listMode, EntryRowsOpener& opener,
                         EntryDialogView& view)
    : store_(store), m_(module1), mode_(listMode >= 1 && listMode <= 3 ? listMode : 1), opener_(opener), view_(view) {}

std::u16string EntryDialog::section() const {
    switch (mode_) {
        case 1: return BlackListSection(m_.identity.UserSection);
        case 2: return TrustListSection(m_.identity.UserSection);
        default: return u"IeUrl";
    }
}

void EntryDialog::setText(const std::u16string& text) {
    text_ = text;
    view_.setText(text);
}

void EntryDialog::load(const std::optional<std::u16string>& editText) {
    caption_ = EntryDialogCaption(mode_);
    view_.setCaption(caption_);
    if (mode_ == 3) {
        setText(kStartText);
        view_.selectAllText();
    }
    editing_ = m_.dialog.EditMode && editText.has_value();
    if (editText) {
        oldText_ = *editText;
        oldRow_ = opener_.selectedRow();
        setText(*editText);
    }
}

void EntryDialog::refuse(const std::u16string& message) {
    view_.messageBox(message, caption_);
    view_.focusText();
}

bool EntryDialog::store(const std::u16string& text, const std::u16string& value) {
    const IniFile f = file();
    const std::u16string s = section();
    if (!editing_) return WriteSetting(store_, f, s, text, value);
    // The new key is written before the old one goes, so a refused write
    // loses nothing; the same key (letter case aside) is deleted first, or
    // the delete would take the new one.
    if (FoldName(oldText_) == FoldName(text)) {
        DeleteSettingKey(store_, f, s, oldText_);
        return WriteSetting(store_, f, s, text, value);
    }
    if (!WriteSetting(store_, f, s, text, value)) return false;
    DeleteSettingKey(store_, f, s, oldText_);
    return true;
}

void EntryDialog::confirm() {
    if (closed_) return;
    std::u16string t = text_;
    std::u16string value = u"0";
    if (mode_ == 3) {
        if (!WebAddressAccepted(t)) return refuse(kBadAddress);
        const std::u16string stored = WebAddressStored(t);
        if (stored != t) setText(stored);
        t = stored;
        if (editing_) {
            // The edited entry keeps its code ("1" ticked, "3" page by page).
            const std::string n = std::to_string(ReadSettingNumber(store_, IniFile::Ie, u"IeUrl", oldText_, 0));
            value.assign(n.begin(), n.end());
        }
    } else if (TrimBlanks(t).empty()) {
        // Blank text is what the file keeps of it: nothing.
        return refuse(kEmpty);
    }
    if (!IniDocument::validKeyName(t)) return refuse(kKeyUnusable);
    if (!store(t, value))
        return refuse(std::u16string(u"無法寫入設定檔 ") + (mode_ == 3 ? u"ie.ini" : u"set.ini") + u",名單沒有變更。");
    if (editing_) {
        if (oldRow_ >= 0 && oldRow_ < opener_.rowCount()) opener_.setRowText(oldRow_, t);
    } else {
        opener_.addRow(t);
    }
    finish();
}

void EntryDialog::cancel() {
    if (closed_) return;
    finish();
}

void EntryDialog::unload() {
    if (closed_) return;
    closed_ = true;
    m_.dialog.EditMode = false;
}

void EntryDialog::finish() {
    closed_ = true;
    m_.dialog.EditMode = false;
    view_.close();
}

}  // namespace iw::settings
