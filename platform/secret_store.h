// Files that hold a secret of the user (an account's OAuth2 tokens), kept so
// that no one else can read them: on Windows sealed with the system's data
// protection in the user's scope, on POSIX a file of mode 0600 that is
// refused when its mode lets anyone else read it. Writes replace the file
// atomically, so a crash leaves the old secret or the new one.
//
// Nothing here logs or reports the secret; a failure is a SecretProblem.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace iw::platform {

enum class SecretProblem {
    None,
    Missing,        // no such file
    TooOpen,        // POSIX: group or others may read or write it, or another user owns it
    Unreadable,     // not a regular file, too large, refused by the system
    Undecryptable,  // Windows: sealed for another user or machine, or damaged
};

// The largest secret file read: tokens are a few KiB.
constexpr std::size_t kMaxSecretBytes = 256 * 1024;

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // Seals `secret` and replaces the file at `path`. False when any step fails
    // (the old file is then untouched).
    virtual bool write(const std::u16string& path, std::string_view secret) = 0;
    // The secret, or nullopt with `why` saying what is wrong.
    virtual std::optional<std::string> read(const std::u16string& path, SecretProblem& why) const = 0;
    // Deletes the file; true when it is gone (or was not there).
    virtual bool remove(const std::u16string& path) = 0;
};

// This build's store (posix/ or win32/platform/).
std::unique_ptr<SecretStore> createSecretStore();

}  // namespace iw::platform

namespace iw::platform {
// Fills `out` with `n` bytes from the system's cryptographic random source
// (PKCE verifiers, the OAuth2 state). False when the source fails.
bool SecureRandomBytes(unsigned char* out, std::size_t n);
}  // namespace iw::platform
