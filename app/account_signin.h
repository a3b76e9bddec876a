// The account dialog's browser sign-in: the loopback sign-in of auth/ for
// the account as the dialog would save it, then a try of the account with
// the tokens just stored (CAPA, AUTH, STAT). Everything waits in the
// program's event loop, so the dialog, the tray and the timers go on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/secret_store.h"
#include "settings/account_dialog.h"

namespace iw::app {

class BrowserAccountSignIn final : public settings::AccountSignIn {
public:
    // Opens an address in the user's browser; false when it could not.
    using OpenAddress = std::function<bool(const std::u16string& address)>;

    // `profileFolder` holds the token files (the folder of set.ini, with its
    // trailing separator). `limitSeconds`: how long the browser may take.
    BrowserAccountSignIn(platform::Platform& p, std::u16string profileFolder, OpenAddress open,
                         int limitSeconds = 300);
    ~BrowserAccountSignIn() override;

    settings::SignInReport signIn(const settings::MailAccount& account, const std::function<bool()>& stop,
                                  const std::function<void(const std::u16string&)>& progress) override;
    bool hasTokens(const std::u16string& address) override;
    bool moveTokens(const std::u16string& from, const std::u16string& to) override;

private:
    platform::SecretStore& secrets();

    platform::Platform& p_;
    std::u16string folder_;
    OpenAddress open_;
    int limitSeconds_;
    std::unique_ptr<platform::SecretStore> secrets_;
};

// The account `address` left the roster: its stored OAuth2 tokens (if any)
// are deleted from `profileFolder`, so a refresh token never outlives its
// account. False when a token file is there and could not be deleted.
bool ForgetAccountTokens(platform::Platform& p, const std::u16string& profileFolder, const std::u16string& address);

}  // namespace iw::app
