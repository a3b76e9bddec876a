// The shell services of the native build: user name, GUIDs from the kernel's
// random source, the program's folder, a lock file that marks the running
// instance, and detached starts of documents and command lines.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/native.h"
#include "posix/text.h"

namespace iw::posix {
namespace {

std::string exePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// Starts a program in a grandchild, so it is never our child to wait for
// and never left a zombie; returns whether the fork worked.
bool startDetached(const std::function<void()>& exec) {
    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            exec();
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class PosixShell : public platform::Shell {
public:
    ~PosixShell() override {
        if (lockFd_ >= 0) ::close(lockFd_);
    }

    bool openDocument(const std::u16string& target) override {
        if (target.empty()) return false;
        const std::string arg = utf16ToUtf8(target);
        return startDetached([&] {
            const char* argv[] = {"xdg-open", arg.c_str(), nullptr};
            ::execvp("xdg-open", const_cast<char* const*>(argv));
        });
    }

    bool startCommandLine(const std::u16string& commandLine) override {
        if (commandLine.empty()) return false;
        const std::string cmd = utf16ToUtf8(commandLine);
        return startDetached([&] {
            const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
            ::execv("/bin/sh", const_cast<char* const*>(argv));
        });
    }

    std::u16string userName() const override {
        std::string name;
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) name = pw->pw_name;
        if (name.empty())
            if (const char* env = std::getenv("USER")) name = env;
        return utf8ToUtf16(name);
    }

    std::u16string newGuid() override {
        unsigned char b[16] = {};
        bool ok = false;
        if (FILE* f = std::fopen("/dev/urandom", "rb")) {
            ok = std::fread(b, 1, sizeof b, f) == sizeof b;
            std::fclose(f);
        }
        if (!ok) {
            for (unsigned char& c : b) c = static_cast<unsigned char>(std::rand());
        }
        b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4 (random)
        b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
        char text[40];
        std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                      b[14], b[15]);
        return utf8ToUtf16(text);
    }

    bool isConnected() const override { return true; }

    std::u16string programFolder() const override {
        std::string path = exePath();
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos) return u".";
        path.resize(slash == 0 ? 1 : slash);  // the root keeps its one '/'
        return utf8ToUtf16(path);
    }

    bool previousInstanceRunning() override {
        if (lockFd_ >= 0) return false;  // this process holds the claim
        if (!checked_) {
            checked_ = true;
            std::string folder = "/tmp";
            if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) folder = run;
            // One lock per executable path, so copies in other folders do not count.
            const std::size_t key = std::hash<std::string>{}(exePath());
            char name[64];
            std::snprintf(name, sizeof name, "/inkwarden-%u-%016zx.lock", static_cast<unsigned>(::getuid()), key);
            int fd = ::open((folder + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0) return false;  // no place for a lock: do not refuse to run
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                lockFd_ = fd;  // held until the process ends
                return false;
            }
            ::close(fd);
            otherRunning_ = true;
        }
        return otherRunning_;
    }

private:
    int lockFd_ = -1;
    bool checked_ = false;
    bool otherRunning_ = false;
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<Shell> createShell() { return std::make_unique<posix::PosixShell>(); }
}  // namespace iw::platform
