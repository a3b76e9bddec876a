// The small modal dialogs of the settings (the account dialog, the list
// entry dialog, the password change dialog and the one-line password
// prompt), as the windows that open them see them.
//
// The settings dialog and the filter window open these through
// ModalDialogs; win32/ implements it with real modal dialogs, tests with a
// fake. Each dialog changes the rows of the window that opened it through
// the opener interface it is given; the opener outlives the call. Every call
// returns only when its dialog has closed. The shared flags EditMode and
// ListMode live in settings::ProgramState, as for every window.
#pragma once

#include <optional>
#include <string>

namespace iw::settings {

// The account list of the window that opened the account dialog (the
// settings dialog's list or the filter window's list): user in the first
// column, address in the second.
class AccountRowsOpener {
public:
    virtual ~AccountRowsOpener() = default;
    virtual int selectedRow() const = 0;  // -1 when no row is selected
    virtual std::u16string rowAddress(int row) const = 0;
    virtual void setRowAddress(int row, const std::u16string& address) = 0;
    virtual void addRow(const std::u16string& user, const std::u16string& address) = 0;
};

// The list the entry dialog acts on (by ListMode: 1 black list, 2 trust
// list, 3 web-address list).
class EntryRowsOpener {
public:
    virtual ~EntryRowsOpener() = default;
    virtual int rowCount() const = 0;
    virtual int selectedRow() const = 0;  // -1 when no row is selected
    virtual std::u16string rowText(int row) const = 0;
    virtual void setRowText(int row, const std::u16string& text) = 0;
    // Adds a row at the end: unchecked, black text.
    virtual void addRow(const std::u16string& text) = 0;
};

class ModalDialogs {
public:
    virtual ~ModalDialogs() = default;

    // The account dialog. In modify mode (EditMode set by the caller before
    // the call) the dialog is filled from the set.ini section `address`.
    virtual void openAccount(AccountRowsOpener& opener, const std::u16string& address) = 0;

    // The list entry dialog in ListMode `listMode`. With `editText` (modify,
    // EditMode set by the caller) the text box starts with that text.
    virtual void openEntry(int listMode, const std::optional<std::u16string>& editText,
                           EntryRowsOpener& opener) = 0;

    // The password change dialog.
    virtual void openLoginPass() = 0;

    // A one-line input box with a prompt and a title; the typed text, or
    // nullopt when it was cancelled. `masked` shows "*" for each character.
    virtual std::optional<std::u16string> askText(const std::u16string& prompt, const std::u16string& title,
                                                  bool masked) = 0;
};

}  // namespace iw::settings
