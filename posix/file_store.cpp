// Whole-file reads and atomic replacement on POSIX: the new content goes to
// a temporary file in the target's folder, is flushed with fsync, renamed
// over the target, and the folder is flushed so the rename itself survives
// a crash. Paths arrive as UTF-16 and are handed to the system as UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/native.h"
#include "posix/text.h"

namespace iw::posix {
namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class PosixFileStore : public platform::FileStore {
public:
    std::optional<platform::FileStamp> stamp(const std::u16string& path) const override {
        struct stat st {};
        if (::stat(utf16ToUtf8(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
        platform::FileStamp s;
        s.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        s.writeTime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        return s;
    }

    std::optional<std::string> readAll(const std::u16string& path) const override {
        // Opened without blocking, so a pipe in the file's place cannot hold
        // the program; anything but a regular file of a sane size is refused.
        int fd = ::open(utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return std::nullopt;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<std::uint64_t>(st.st_size) > platform::kMaxReadBytes) {
            ::close(fd);
            return std::nullopt;
        }
        std::string out;
        char buf[65536];
        for (;;) {
            if (out.size() > platform::kMaxReadBytes) {  // it grew while being read
                ::close(fd);
                return std::nullopt;
            }
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                return std::nullopt;
            }
            if (n == 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return out;
    }

    platform::FileProblem problem(const std::u16string& path) const override {
        struct stat st {};
        if (::stat(utf16ToUtf8(path).c_str(), &st) != 0)
            return errno == ENOENT || errno == ENOTDIR ? platform::FileProblem::Missing : platform::FileProblem::Unreadable;
        if (!S_ISREG(st.st_mode)) return platform::FileProblem::NotRegular;
        if (static_cast<std::uint64_t>(st.st_size) > platform::kMaxReadBytes) return platform::FileProblem::TooLarge;
        return readAll(path) ? platform::FileProblem::None : platform::FileProblem::Unreadable;
    }

    bool replaceAll(const std::u16string& path, const std::string& bytes) override {
        const std::string target = utf16ToUtf8(path);
        if (target.empty() || target.back() == '/') return false;
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
        // Keep the old file's permissions where there is one.
        mode_t mode = 0644;
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

        std::string temp;
        int fd = -1;
        std::random_device rd;
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd() & 0xFFFFFF);
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd < 0 && errno != EEXIST) return false;  // e.g. the folder is missing
        }
        if (fd < 0) return false;
        bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
        if (!ok) {
            ::unlink(temp.c_str());
            return false;
        }
        int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }

    char16_t separator() const override { return u'/'; }
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<FileStore> createFileStore() { return std::make_unique<posix::PosixFileStore>(); }
}  // namespace iw::platform
