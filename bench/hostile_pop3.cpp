// The filter session and deletion run against the worst servers we know of:
// lying counts, endless greetings and replies, headers of absurd size, a
// server that trickles its replies, a refused connection, and beside them a
// real-sized mailbox of 10,000 messages that must still be fetched whole.
// Each case runs in a process of its own (this program started again with
// "--case N"), so the peak memory printed is that case's alone. Prints one
// row per case: time on the wall and on the program's clock (which runs 20
// times faster, so the waits of 35 s and more pass quickly), peak resident
// memory, rows shown, messages deleted on the server, and the status text.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filter/filter_window.h"
#include "platform/native.h"
#include "platform/process_stats.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/local_servers.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scaled_clock.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
std::atomic<bool> gStop{false};           // the case is over: servers stop at once

std::string Header(int i, std::size_t extra = 0) {
    const std::string n = std::to_string(i);
    std::string h = "Return-Path: <s" + n + "@mail.example.com>\r\n";
    for (int k = 0; k < 6; ++k)
        h += "Received: from relay" + std::to_string(k) + ".example.com (relay [10.0.0." + std::to_string(k) +
             "]) by mx.example.tw with ESMTPS id abcdef" + n + "; Mon, 7 Dec 2026 10:23:45 +0800\r\n";
    h += "DKIM-Signature: v=1; a=rsa-sha256; d=example.com; s=sel; b=" + std::string(344, 'Q') + "\r\n";
    h += "From: =?utf-8?B?5Lit5paH?= <s" + n + "@utf.com>\r\nSubject: Weekly report number " + n + "\r\n";
    h += "Date: Mon, 7 Dec 2026 10:23:45 +0800\r\nMessage-ID: <m" + n + "@bench>\r\n";
    h += std::string(extra, 'x');
    return h + "\r\n";
}

// What a case's server does; unset parts behave like a plain server with
// `count` small messages.
struct Server {
    int count = 5;
    std::function<bool(iw::test::LoopbackStream&)> greeting;
    std::string stat;
    std::function<bool(iw::test::LoopbackStream&)> list;
    std::function<bool(iw::test::LoopbackStream&, int n)> top;
    bool listen = true;
};

// Writes `total` bytes of `unit` repeated, in blocks; false when the client is gone.
bool Stream(iw::test::LoopbackStream& s, const std::string& unit, std::size_t total) {
    std::string block;
    while (block.size() < (1u << 20)) block += unit;
    for (std::size_t sent = 0; sent < total; sent += block.size())
        if (!s.write(block)) return false;
    return true;
}

struct Case {
    const char* name;
    Server server;
    bool junkRule = false;  // every seventh sender on the black list
};

std::vector<Case> Cases() {
    std::vector<Case> c;
    {
        Server s;
        s.stat = "+OK 2147483647 1000\r\n";
        c.push_back({"STAT announces 2,147,483,647, LIST names 5", s});
    }
    {
        Server s;
        s.count = 6;
        s.top = [](iw::test::LoopbackStream& st, int) {
            return st.write("+OK\r\n") && Stream(st, "X-Pad: " + std::string(990, 'p') + "\r\n", 30u << 20) &&
                   st.write(".\r\n");
        };
        c.push_back({"six TOP replies of 30 MB each", s});
    }
    {
        Server s;
        s.greeting = [](iw::test::LoopbackStream& st) { return st.write("+OK ") && Stream(st, "g", 200u << 20); };
        c.push_back({"a greeting of 200 MB", s});
    }
    {
        Server s;
        s.greeting = [](iw::test::LoopbackStream& st) { return st.write("+OK ") && Stream(st, "\r", 200u << 20); };
        c.push_back({"\"+OK \" then carriage returns, no line feed", s});
    }
    {
        Server s;
        s.list = [](iw::test::LoopbackStream& st) { return st.write("1 100\r\n2 100\r\n.\r\n"); };
        c.push_back({"a LIST reply without its status line", s});
    }
    {
        Server s;
        s.count = 100;
        s.top = [](iw::test::LoopbackStream& st, int) {
            return st.write("+OK\r\nFrom: a@b\r\nSubject: ") && Stream(st, std::string(1024, 'a'), 3u << 20) &&
                   st.write("\r\n\r\n.\r\n");
        };
        c.push_back({"100 headers with a subject of 3 MiB each", s});
    }
    {
        Server s;
        s.count = 100;
        s.top = [](iw::test::LoopbackStream& st, int n) {
            // One header every 30 s of the program's clock: never 35 s
            // without one, 50 minutes in all.
            for (int k = 0; k < 30 && !gStop; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (gStop) return false;
            return st.write("+OK\r\n" + Header(n) + ".\r\n");
        };
        c.push_back({"a server that trickles one header per 30 s", s});
    }
    {
        Server s;
        s.listen = false;
        c.push_back({"a refused connection", s});
    }
    {
        Server s;
        s.count = 10000;
        c.push_back({"a real mailbox: 10,000 messages, 2.4 KB headers", s, true});
    }
    return c;
}

struct Log {
    std::mutex m;
    int deleted = 0;
};

void Serve(iw::test::LoopbackStream& s, const Server& sv, Log& log) {
    if (sv.greeting ? !sv.greeting(s) : !s.write("+OK ready\r\n")) return;
    std::vector<bool> marked(static_cast<std::size_t>(sv.count) + 1, false);
    auto sizeOf = [](int n) { return Header(n).size() + 40; };
    while (auto line = s.readLine()) {
        std::string cmd = *line;
        while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == '\r')) cmd.pop_back();
        const std::string verb = cmd.substr(0, cmd.find(' '));
        const int n = cmd.find(' ') == std::string::npos ? 0 : std::atoi(cmd.c_str() + cmd.find(' ') + 1);
        bool ok = true;
        if (verb == "USER" || verb == "PASS" || verb == "NOOP") {
            ok = s.write("+OK\r\n");
        } else if (verb == "STAT") {
            std::size_t total = 0;
            for (int k = 1; k <= sv.count; ++k) total += sizeOf(k);
            ok = s.write(sv.stat.empty() ? "+OK " + std::to_string(sv.count) + " " + std::to_string(total) + "\r\n" : sv.stat);
        } else if (verb == "LIST") {
            if (sv.list) {
                ok = sv.list(s);
            } else {
                std::string t = "+OK\r\n";
                for (int k = 1; k <= sv.count; ++k) t += std::to_string(k) + " " + std::to_string(sizeOf(k)) + "\r\n";
                ok = s.write(t + ".\r\n");
            }
        } else if (verb == "TOP") {
            ok = sv.top ? sv.top(s, n) : s.write("+OK\r\n" + Header(n) + ".\r\n");
        } else if (verb == "DELE") {
            if (n >= 1 && n <= sv.count) marked[static_cast<std::size_t>(n)] = true;
            ok = s.write("+OK\r\n");
        } else if (verb == "QUIT") {
            int d = 0;
            for (bool m : marked) d += m ? 1 : 0;
            {
                std::lock_guard<std::mutex> lock(log.m);
                log.deleted += d;
            }
            s.write("+OK\r\n");
            s.close();
            return;
        } else {
            ok = s.write("-ERR\r\n");
        }
        if (!ok) return;
    }
}

int RunCase(int index) {
    const std::vector<Case> cases = Cases();
    const Case& c = cases.at(static_cast<std::size_t>(index));
    Log log;
    std::unique_ptr<iw::test::LoopbackServer> server;
    // Every case takes a free port: the server's, or one held where nothing listens.
    std::unique_ptr<iw::test::LocalServer> nobody;
    std::uint16_t port = 0;
    if (c.server.listen) {
        iw::test::LoopbackOptions o;
        o.port = 0;
        server = std::make_unique<iw::test::LoopbackServer>(
            [&](iw::test::LoopbackStream& s) { Serve(s, c.server, log); }, o);
        if (!server->listening()) {
            std::printf("%-48s cannot listen on 127.0.0.1\n", c.name);
            return 1;
        }
        port = server->port();
    } else {
        nobody = iw::test::HoldRefusingPort();
        if (!nobody) {
            std::printf("%-48s cannot hold a free port\n", c.name);
            return 1;
        }
        port = nobody->port();
    }
    auto loop = iw::platform::createEventLoop();
    auto real = iw::platform::createSystemClock();
    iw::test::ScaledClock clock(*real, 20);
    auto net = iw::platform::createNetwork(*loop);
    auto cp = iw::platform::createCodePage();
    iw::test::StubRegistry registry;
    iw::test::StubDesktop desktop;
    iw::test::StubShell shell;
    iw::test::StubFileStore files;
    iw::platform::Platform plat{*loop, clock, *net, *cp, registry, desktop, shell, files};
    iw::test::FakeFilterProfile profile;
    iw::test::ProfileSenderLists lists{profile};
    iw::platform::FixedDateFormat dates;
    iw::settings::ProgramState m1;
    m1.prefs.options = iw::settings::Options::FromStored(u"011111000100");
    iw::test::RecordingMainLink link;
    iw::test::RecordingFilterView view;
    if (c.junkRule)
        for (int i = 7; i <= c.server.count; i += 7) {
            const std::string a = "s" + std::to_string(i) + "@utf.com";
            profile.listAdd(iw::filter::SenderList::Black, std::u16string(a.begin(), a.end()));
        }
    const std::string host = "127.0.0.1:" + std::to_string(port);
    profile.addAccount(u"bench@b", u"bench", u"secret", std::u16string(host.begin(), host.end()));
    const double programStart = clock.secondsSinceMidnight();
    const auto t0 = SteadyClock::now();
    std::size_t rows = 0;
    std::string status;
    {
        iw::filter::FilterWindow w(plat, profile, m1, link, view, lists, dates);
        w.load();
        w.activated();
        rows = w.accountList(0).size();
        status = cp->fromUtf16(iw::platform::kUtf8, w.account(0).status);
        w.runDeletion();
    }
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    const double program = clock.secondsSinceMidnight() - programStart;
    gStop = true;
    server.reset();
    const double peak = static_cast<double>(iw::platform::processStats().peakResidentBytes) / (1024.0 * 1024.0);
    std::printf("%-48s %7.2f s %8.1f s %8.1f MB %6zu %6d  %s\n", c.name, wall, program, peak, rows, log.deleted,
                status.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--case") == 0) return RunCase(std::atoi(argv[2]));
    std::printf("%-48s %9s %10s %11s %6s %6s  %s\n", "case", "wall", "program", "peak", "rows", "gone", "status");
    const std::size_t n = Cases().size();
    for (std::size_t k = 0; k < n; ++k) {
        const std::string cmd = std::string("\"") + argv[0] + "\" --case " + std::to_string(k);
        std::fflush(stdout);
        if (std::system(cmd.c_str()) != 0) std::printf("case %zu did not finish\n", k);
    }
    std::printf("(peak = resident memory of the case's whole process, its server included; goal under 200 MB)\n");
    return 0;
}
