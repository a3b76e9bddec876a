// Secret files on POSIX: mode 0600, owned by the user, written through a
// temporary file of mode 0600 that is flushed and renamed over the target.
// A file whose mode lets group or others in, or that another user owns, is
// refused as it is (never "repaired"): someone may have read it already.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/secret_store.h"
#include "posix/text.h"

namespace iw::posix {
namespace {

class PosixSecretStore final : public platform::SecretStore {
public:
    bool write(const std::u16string& path, std::string_view secret) override {
        const std::string target = utf16ToUtf8(path);
        if (target.empty() || target.back() == '/') return false;
        std::string temp;
        int fd = -1;
        std::random_device rd;
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd() & 0xFFFFFF);
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0 && errno != EEXIST) return false;
        }
        if (fd < 0) return false;
        bool ok = ::fchmod(fd, 0600) == 0;
        std::size_t done = 0;
        while (ok && done < secret.size()) {
            const ssize_t n = ::write(fd, secret.data() + done, secret.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok = false;
            else done += static_cast<std::size_t>(n);
        }
        ok = ok && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
        if (!ok) {
            ::unlink(temp.c_str());
            return false;
        }
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }

    std::optional<std::string> read(const std::u16string& path, platform::SecretProblem& why) const override {
        why = platform::SecretProblem::None;
        const int fd = ::open(utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
        if (fd < 0) {
            why = errno == ENOENT || errno == ENOTDIR ? platform::SecretProblem::Missing
                                                      : platform::SecretProblem::Unreadable;
            return std::nullopt;
        }
        struct stat st {};
        std::optional<std::string> out;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<std::uint64_t>(st.st_size) > platform::kMaxSecretBytes) {
            why = platform::SecretProblem::Unreadable;
        } else if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) {
            why = platform::SecretProblem::TooOpen;
        } else {
            std::string bytes;
            char buf[8192];
            for (;;) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > platform::kMaxSecretBytes) {
                    why = platform::SecretProblem::Unreadable;
                    break;
                }
                if (n == 0) {
                    out = std::move(bytes);
                    break;
                }
                bytes.append(buf, static_cast<std::size_t>(n));
            }
        }
        ::close(fd);
        return out;
    }

    bool remove(const std::u16string& path) override {
        return ::unlink(utf16ToUtf8(path).c_str()) == 0 || errno == ENOENT;
    }
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
bool SecureRandomBytes(unsigned char* out, std::size_t n) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd, out + done, n - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return done == n;
}
std::unique_ptr<SecretStore> createSecretStore() { return std::make_unique<posix::PosixSecretStore>(); }
}  // namespace iw::platform
