// The small modal dialogs of the settings as real Win32 dialogs: the
// account dialog, the list entry dialog, the password change dialog and the
// one-line input box. Each call opens its dialog over the owner window,
// disables the owner and runs the program's own event loop (so timers,
// sockets and posted work go on, and Tab, Enter and Esc work through the
// dialog manager) until the dialog closes. Every dialog is per-monitor DPI
// aware: it is laid out from its font at its own DPI and again when it
// moves to a screen of another DPI.
//
// Ownership: the object holds references only; everything in the deps must
// outlive it. No exception leaves a dialog procedure.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "settings/program_state.h"
#include "platform/code_page.h"
#include "platform/event_loop.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "settings/modal_dialogs.h"
#include "settings/settings_store.h"

namespace iw::win32app {

struct ModalDialogDeps {
    platform::EventLoop& loop;
    settings::SettingsStore& store;
    const platform::CodePage& codePage;
    platform::Registry& registry;
    settings::ProgramState& state;
    // The whole platform, for the account dialog's certificate step (its
    // network and clock); without it the step is not offered.
    platform::Platform* platform = nullptr;
};

// Opens an address in the user's browser (the account dialog's sign-in).
using OpenAddress = std::function<bool(const std::u16string& address)>;

// Control identifiers, also used by tests to find the controls. The
// default button is IDOK and the cancel button IDCANCEL in every dialog.
enum ModalControlId : int {
    // Account: the text boxes by their names (Text2 user, Text3 password,
    // Text1 host, Text4 address), the security choice, labels and hint.
    kIdAccountUser = 201,
    kIdAccountPassword,
    kIdAccountHost,
    kIdAccountAddress,
    kIdAccountSecurity,
    kIdAccountHint,
    kIdAccountLabelUser,
    kIdAccountLabelPassword,
    kIdAccountLabelHost,
    kIdAccountLabelAddress,
    kIdAccountLabelSecurity,
    kIdAccountCertificate,
    // The login way: its choice list, the sign-in button, the OAuth2 boxes
    // (authorize address, token address, scope, client ID), their labels
    // and the sign-in's status line.
    kIdAccountLogin,
    kIdAccountSignIn,
    kIdAccountAuthorizeUrl,
    kIdAccountTokenUrl,
    kIdAccountScope,
    kIdAccountClientId,
    kIdAccountLabelLogin,
    kIdAccountLabelAuthorizeUrl,
    kIdAccountLabelTokenUrl,
    kIdAccountLabelScope,
    kIdAccountLabelClientId,
    kIdAccountSignInStatus,
    // The client ID's secret (masked) and its label, under the client ID.
    kIdAccountClientSecret,
    kIdAccountLabelClientSecret,
    // The certificate window: the description and its lead line.
    kIdCertificateText = 251,
    kIdCertificateLead,
    // Entry dialog: its one text box.
    kIdEntryText = 301,
    // Password change: Text1 (old), newpassword, txtPassword and labels.
    kIdLoginOld = 401,
    kIdLoginNew,
    kIdLoginAgain,
    kIdLoginLabelOld,
    kIdLoginLabelNew,
    kIdLoginLabelAgain,
    // Input box.
    kIdInputPrompt = 501,
    kIdInputText,
};

class Win32ModalDialogs final : public settings::ModalDialogs {
public:
    // `owner`: the window the dialogs open over (null: none, centred on
    // the screen).
    Win32ModalDialogs(ModalDialogDeps deps, HWND owner);

    void setOwner(HWND owner) { owner_ = owner; }
    // How the account dialog's sign-in opens the browser; by default the
    // platform shell's program for the address.
    void setOpenAddress(OpenAddress open) { openAddress_ = std::move(open); }

    void openAccount(settings::AccountRowsOpener& opener, const std::u16string& address) override;
    void openEntry(int listMode, const std::optional<std::u16string>& editText,
                   settings::EntryRowsOpener& opener) override;
    void openLoginPass() override;
    std::optional<std::u16string> askText(const std::u16string& prompt, const std::u16string& title,
                                          bool masked) override;

private:
    ModalDialogDeps deps_;
    HWND owner_;
    OpenAddress openAddress_;
};

// Closes every small dialog that is open as if it had been cancelled (the
// program is unloading its windows). Each open call then returns.
void cancelOpenModalDialogs();

}  // namespace iw::win32app
