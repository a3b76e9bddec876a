// An account's OAuth2 tokens at rest: the refresh token, the access token and
// when it expires, in a secret file of the profile folder (sealed for the
// user on Windows, mode 0600 on POSIX; see platform/secret_store.h), one file
// per account, named after the account's address.
//
// The tokens never go to a log, a status text or the console; a problem
// reading them is a TokenProblem with a status text of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/secret_store.h"

namespace iw::auth {

struct StoredTokens {
    std::string refreshToken;
    std::string accessToken;
    std::int64_t accessExpiresAt = 0;  // seconds since 1970 (UTC); 0: unknown, treated as expired
};

// The text form kept in the secret file; Parse refuses anything else.
std::string SerializeTokens(const StoredTokens& t);
std::optional<StoredTokens> ParseTokens(std::string_view text);

// The token file of an account: "<folder><sep>oauth-<address>.tok", with
// every character of the address outside letters, digits, "@", ".", "-"
// and "_" written as "%XX" of its UTF-8 bytes, so no address can name
// another folder.
std::u16string TokenFilePath(const std::u16string& profileFolder, char16_t separator, const std::u16string& address);

class TokenStore {
public:
    TokenStore(platform::SecretStore& secrets, std::u16string profileFolder, char16_t separator)
        : secrets_(secrets), folder_(std::move(profileFolder)), sep_(separator) {}

    // The account's tokens, or nullopt with `why` (Missing when never signed in;
    // Unreadable also for a file whose text is not a token file).
    std::optional<StoredTokens> load(const std::u16string& address, platform::SecretProblem& why) const;
    bool save(const std::u16string& address, const StoredTokens& tokens);
    bool forget(const std::u16string& address);
    // The account moved from `from` to `to`: its tokens go with it. True
    // when there were none or they now live under `to` alone. Tokens that
    // cannot be read, or not written anew, stay where they are. Addresses
    // that differ only in letter case name one file where the file system
    // ignores case, so nothing moves between them.
    bool move(const std::u16string& from, const std::u16string& to);

private:
    platform::SecretStore& secrets_;
    std::u16string folder_;
    char16_t sep_;
};

// The status text for a token file that cannot be used (after the user name).
std::u16string TokenProblemText(platform::SecretProblem why);

}  // namespace iw::auth
