// Dovecot and chrony in the foreground in a temporary folder; see
// tests/support/local_servers.h.
#include "tests/support/local_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace iw::test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDovecotConf = R"(base_dir  = @ROOT@/run
state_dir = @ROOT@/state
instance_name = iwtray@PORT1@
log_path  = @ROOT@/dovecot.log
info_log_path = @ROOT@/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = 1
mail_location = maildir:@ROOT@/mail/%u/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @ROOT@/passwd
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=@ROOT@/mail/%u
}
service pop3-login {
  service_count = 0
  process_min_avail = 1
  inet_listener pop3 {
    address = 127.0.0.1
    port = @PORT1@
  }
  inet_listener pop3alt {
    address = 127.0.0.1
    port = @PORT2@
  }
}
)";

constexpr const char* kChronyConf = R"(port @PORT@
bindaddress 127.0.0.1
allow 127.0.0.1
local stratum 10
cmdport 0
bindcmdaddress /
pidfile @DIR@/chronyd.pid
)";

std::string fillIn(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    return text;
}

void writeFile(const fs::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary);
    f << bytes;
}

bool tcpAnswers(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok) {
        char buf[64];
        ok = ::recv(fd, buf, sizeof buf, 0) > 0;  // the greeting
    }
    ::close(fd);
    return ok;
}

// Ports the system hands out for `count` sockets of `type` bound on
// 127.0.0.1 at once (so all differ); empty when binding fails.
std::vector<std::uint16_t> freePorts(int type, int count) {
    std::vector<int> fds;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, type, 0);
        if (fd < 0) break;
        fds.push_back(fd);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            break;
        ports.push_back(ntohs(a.sin_port));
    }
    for (int fd : fds) ::close(fd);
    if (static_cast<int>(ports.size()) != count) ports.clear();
    return ports;
}

class Process : public LocalServer {
public:
    explicit Process(std::string folder) : folder_(std::move(folder)) {}
    ~Process() override {
        if (pid_ > 0) {
            ::kill(-pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 50 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const std::string& folder() const override { return folder_; }
    std::uint16_t port() const override { return port_; }
    std::uint16_t secondPort() const override { return secondPort_; }
    void setPorts(std::uint16_t first, std::uint16_t second) {
        port_ = first;
        secondPort_ = second;
    }

    bool start(const std::vector<std::string>& argv) {
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::setpgid(0, 0);
            const std::string log = folder_ + "/stderr.log";
            std::FILE* f = std::freopen(log.c_str(), "w", stderr);
            (void)f;
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
        return true;
    }
    bool alive() const {
        int status = 0;
        return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
    }

private:
    std::string folder_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0, secondPort_ = 0;
};

class RefusingPort : public LocalServer {
public:
    RefusingPort(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    ~RefusingPort() override { ::close(fd_); }
    const std::string& folder() const override { return folder_; }
    std::uint16_t port() const override { return port_; }

private:
    int fd_;
    std::uint16_t port_;
    std::string folder_;
};

std::string makeFolder() {
    char tmpl[] = "/tmp/iw-tray-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    if (!d) return {};
    ::chmod(d, 0755);
    return d;
}

}  // namespace

std::unique_ptr<LocalServer> StartDovecot(std::uint16_t port, const std::string& user, const std::string& password,
                                          const std::vector<std::string>& messages) {
    return StartDovecot(port, user, password, static_cast<int>(messages.size()),
                        [&messages](int n) { return messages[static_cast<std::size_t>(n)]; });
}

namespace {

std::unique_ptr<LocalServer> TryDovecot(std::uint16_t port, std::uint16_t port2, const std::string& user,
                                        const std::string& password, int count,
                                        const std::function<std::string(int)>& message, const DovecotTls& tls) {
    const std::string root = makeFolder();
    if (root.empty()) return nullptr;
    auto server = std::make_unique<Process>(root);
    server->setPorts(port, port2);
    std::string conf = fillIn(kDovecotConf, "@ROOT@", root);
    conf = fillIn(conf, "@PORT1@", std::to_string(port));
    conf = fillIn(conf, "@PORT2@", std::to_string(port2));
    if (!tls.certFile.empty()) {
        // Each replacement holds its key, so each is made once.
        const auto once = [&conf](const std::string& key, const std::string& value) {
            const std::size_t at = conf.find(key);
            if (at != std::string::npos) conf.replace(at, key.size(), value);
        };
        once("ssl = no", "ssl = yes\nssl_cert = <" + tls.certFile + "\nssl_key = <" + tls.keyFile);
        once("inet_listener pop3alt {", "inet_listener pop3alt {\n    ssl = yes");
    }
    writeFile(root + "/dovecot.conf", conf);
    writeFile(root + "/passwd", user + ":{PLAIN}" + password + "::::::\n");
    const fs::path maildir = fs::path(root) / "mail" / user / "Maildir";
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(maildir / sub);
    long stamp = 1700000000;
    for (int n = 0; n < count; ++n) writeFile(maildir / "new" / (std::to_string(stamp + n) + ".M1P1.iw"), message(n));
    for (const auto& e : fs::recursive_directory_iterator(fs::path(root) / "mail"))
        (void)::chown(e.path().c_str(), 65534, 65534);
    (void)::chown((fs::path(root) / "mail").c_str(), 65534, 65534);
    if (!server->start({"/usr/sbin/dovecot", "-F", "-c", root + "/dovecot.conf"})) return nullptr;
    // Up to a minute: a loaded machine may take long to start it.
    for (int i = 0; i < 1200; ++i) {
        if (!server->alive()) return nullptr;  // e.g. a port taken meanwhile
        if (tcpAnswers(port)) return server;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<LocalServer> StartDovecot(std::uint16_t port, const std::string& user, const std::string& password,
                                          int count, const std::function<std::string(int)>& message,
                                          const DovecotTls& tls) {
    if (::access("/usr/sbin/dovecot", X_OK) != 0) return nullptr;
    if (port != 0) return TryDovecot(port, static_cast<std::uint16_t>(port + 1), user, password, count, message, tls);
    // Free ports may be taken by someone else between the choice and
    // Dovecot's start: then Dovecot exits, and new ones are tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::vector<std::uint16_t> ports = freePorts(SOCK_STREAM, 2);
        if (ports.empty()) return nullptr;
        if (auto server = TryDovecot(ports[0], ports[1], user, password, count, message, tls)) return server;
    }
    return nullptr;
}

std::unique_ptr<LocalServer> StartChrony(std::uint16_t port) {
    if (::access("/usr/sbin/chronyd", X_OK) != 0) return nullptr;
    if (port == 0) {
        const std::vector<std::uint16_t> ports = freePorts(SOCK_DGRAM, 1);
        if (ports.empty()) return nullptr;
        port = ports[0];
    }
    const std::string dir = makeFolder();
    if (dir.empty()) return nullptr;
    auto server = std::make_unique<Process>(dir);
    server->setPorts(port, 0);
    writeFile(dir + "/chrony.conf", fillIn(fillIn(kChronyConf, "@PORT@", std::to_string(port)), "@DIR@", dir));
    if (!server->start({"/usr/sbin/chronyd", "-x", "-d", "-u", "root", "-f", dir + "/chrony.conf"})) return nullptr;
    // chrony binds at once; give it a moment and make sure it did not exit.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!server->alive()) return nullptr;
    return server;
}

std::unique_ptr<LocalServer> HoldRefusingPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return nullptr;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<RefusingPort>(fd, ntohs(a.sin_port));
}

}  // namespace iw::test
