// Secret files on Windows: the bytes are sealed with CryptProtectData in the
// user's scope (never the machine's), with CRYPTPROTECT_UI_FORBIDDEN so no
// prompt can ever appear, and the sealed blob is written through the atomic
// file replacement. Only the same Windows user can unseal it.
#include "win32/platform/handles.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include "platform/native.h"
#include "platform/secret_store.h"

namespace iw::win32 {
namespace {

// Marks a file as a sealed secret of this program, so a stray file is told apart.
constexpr char kMagic[] = "IWDPAPI1";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;

class DpapiSecretStore final : public platform::SecretStore {
public:
    bool write(const std::u16string& path, std::string_view secret) override {
        DATA_BLOB in{static_cast<DWORD>(secret.size()), reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
        DATA_BLOB out{};
        if (!CryptProtectData(&in, L"Inkwarden", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
            return false;
        std::string sealed(kMagic, kMagicSize);
        sealed.append(reinterpret_cast<const char*>(out.pbData), out.cbData);
        LocalFree(out.pbData);
        return files_->replaceAll(path, sealed);
    }

    std::optional<std::string> read(const std::u16string& path, platform::SecretProblem& why) const override {
        why = platform::SecretProblem::None;
        switch (files_->problem(path)) {
        case platform::FileProblem::None: break;
        case platform::FileProblem::Missing: why = platform::SecretProblem::Missing; return std::nullopt;
        default: why = platform::SecretProblem::Unreadable; return std::nullopt;
        }
        const std::optional<std::string> bytes = files_->readAll(path);
        if (!bytes || bytes->size() > platform::kMaxSecretBytes) {
            why = platform::SecretProblem::Unreadable;
            return std::nullopt;
        }
        if (bytes->compare(0, kMagicSize, kMagic) != 0) {
            why = platform::SecretProblem::Undecryptable;
            return std::nullopt;
        }
        DATA_BLOB in{static_cast<DWORD>(bytes->size() - kMagicSize),
                     reinterpret_cast<BYTE*>(const_cast<char*>(bytes->data() + kMagicSize))};
        DATA_BLOB out{};
        if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
            why = platform::SecretProblem::Undecryptable;
            return std::nullopt;
        }
        std::string secret(reinterpret_cast<const char*>(out.pbData), out.cbData);
        SecureZeroMemory(out.pbData, out.cbData);
        LocalFree(out.pbData);
        return secret;
    }

    bool remove(const std::u16string& path) override {
        return DeleteFileW(wide(path)) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }

private:
    std::unique_ptr<platform::FileStore> files_ = platform::createFileStore();
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
bool SecureRandomBytes(unsigned char* out, std::size_t n) {
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
std::unique_ptr<SecretStore> createSecretStore() { return std::make_unique<win32::DpapiSecretStore>(); }
}  // namespace iw::platform
