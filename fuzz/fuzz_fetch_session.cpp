// Fuzzes the filter's POP3 session with a server that says whatever the
// input says. The first byte sets a few switches (bit 0: every server is
// treated as one without PIPELINING; bit 1: one DELE at a time; bit 2: TOP
// asks for three body lines; bits 3-4: the report is full after that many
// rows, 0: never). The rest is split on NUL
// bytes into chunks: the first chunk is the greeting, and every write the
// client makes is answered with the next chunk (possibly empty). When the
// chunks run out the server hangs up at the client's next write.
//
// One account is run as the filter window runs it: fetch, DELE for rows 0
// and 2, QUIT. Whatever the server sends, the session must
//   - name in a DELE only a message it handed on for row 0 or row 2,
//   - send no DELE on an account it held, none before the fetch ended,
//   - send nothing after QUIT, count its DELEs truthfully,
//   - and return: the loop is pumped a bounded number of times in a
//     bounded stretch of virtual time.
// A broken promise traps.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/native.h"
#include "pop3/fetch_session.h"
#include "pop3/server_memory.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_time.h"

namespace {

using iw::platform::Milliseconds;
using iw::platform::SocketState;

// Far more pumps and virtual time than every wait of the session together
// needs; past them the session is taken to hang.
constexpr std::uint64_t kMaxPumps = 200'000;
constexpr std::int64_t kMaxVirtualMs = 2LL * 3600 * 1000;

// Where the run stands when the client writes.
enum class Phase { Fetch, Delete, Quit, After };

struct Write {
    Phase phase;
    bool held;  // the account was held when the client wrote this
    std::string bytes;
};

// The fake loop with a bound on the pumps and on virtual time.
class BoundedLoop : public iw::test::FakeEventLoop {
public:
    explicit BoundedLoop(iw::test::FakeClock& clock) : FakeEventLoop(clock), clock_(clock), startMs_(clock.monotonicMs()) {}
    void pump(std::optional<Milliseconds> maxWait) override {
        if (pumpCount() > kMaxPumps || clock_.monotonicMs() - startMs_ > kMaxVirtualMs) __builtin_trap();
        FakeEventLoop::pump(maxWait);
    }

private:
    iw::test::FakeClock& clock_;
    std::int64_t startMs_;
};

// What the server has left to say, shared by every socket of the run.
struct Script {
    std::vector<std::string> chunks;
    std::size_t next = 0;
    Phase phase = Phase::Fetch;
    const bool* held = nullptr;
    std::vector<Write> writes;
};

// A socket whose peer answers from the script. Events go through the loop,
// never from inside a call on the socket, as on the real platforms.
class ScriptSocket : public iw::platform::TcpSocket {
public:
    ScriptSocket(BoundedLoop& loop, Script& script)
        : loop_(loop), script_(script), alive_(std::make_shared<bool>(true)) {}
    ~ScriptSocket() override { *alive_ = false; }

    void setEvents(iw::platform::TcpSocketEvents events) override { events_ = std::move(events); }

    void connect(const std::string&, std::uint16_t) override {
        close();
        state_ = SocketState::Connecting;
        later([this] {
            state_ = SocketState::Connected;
            if (events_.connected) events_.connected();
            answer();
        });
    }

    void send(std::string_view bytes) override {
        if (state_ != SocketState::Connected) return;
        script_.writes.push_back({script_.phase, *script_.held, std::string(bytes)});
        later([this] {
            if (events_.sendComplete) events_.sendComplete();
        });
        answer();
    }

    std::string receive() override {
        std::string out;
        out.swap(rx_);
        return out;
    }
    std::size_t bytesAvailable() const override { return rx_.size(); }

    void close() override {
        ++gen_;
        rx_.clear();
        state_ = SocketState::Closed;
    }
    SocketState state() const override { return state_; }
    int lastError() const override { return 0; }

private:
    // The next chunk, or the hang-up when there is none.
    void answer() {
        if (script_.next >= script_.chunks.size()) {
            later([this] {
                state_ = SocketState::Closed;
                if (events_.closed) events_.closed();
            });
            return;
        }
        std::string bytes = script_.chunks[script_.next++];
        if (bytes.empty()) return;
        later([this, bytes = std::move(bytes)] {
            rx_ += bytes;
            if (events_.dataArrival) events_.dataArrival(rx_.size());
        });
    }
    // Runs `fn` from the loop unless the socket or its connection is gone.
    void later(std::function<void()> fn) {
        std::weak_ptr<bool> alive = alive_;
        const std::uint64_t gen = gen_;
        loop_.post([this, alive, gen, fn = std::move(fn)] {
            auto a = alive.lock();
            if (!a || !*a || gen != gen_) return;
            fn();
        });
    }

    BoundedLoop& loop_;
    Script& script_;
    std::shared_ptr<bool> alive_;
    iw::platform::TcpSocketEvents events_;
    SocketState state_ = SocketState::Closed;
    std::string rx_;
    std::uint64_t gen_ = 0;
};

class ScriptNetwork : public iw::platform::Network {
public:
    ScriptNetwork(BoundedLoop& loop, Script& script) : loop_(loop), script_(script) {}
    iw::platform::ResolveResult resolve(const std::string&) override { return {true, true, "127.0.0.1"}; }
    std::unique_ptr<iw::platform::TcpSocket> createTcp() override {
        return std::make_unique<ScriptSocket>(loop_, script_);
    }
    std::unique_ptr<iw::platform::UdpSocket> createUdp() override { return nullptr; }

private:
    BoundedLoop& loop_;
    Script& script_;
};

// Records the rows and whether the account was held; `keepRows` rows are
// kept, then the report is full (0: no limit).
struct Report : iw::pop3::FetchReport {
    std::map<int, std::int32_t> rows;  // row -> message number
    bool wasHeld = false;
    std::size_t keepRows = 0;

    std::int32_t counted(int, std::int32_t count, std::int32_t) override { return count; }
    void listed(int, const iw::pop3::Listing&) override {}
    bool received(int, int row, std::int32_t number, const std::string&, bool) override {
        // A row is handed on once.
        if (!rows.emplace(row, number).second) __builtin_trap();
        return keepRows == 0 || rows.size() < keepRows;
    }
    void held(int) override { wasHeld = true; }
    void trouble(int, iw::pop3::FetchTrouble, const std::u16string&) override {}
};

struct Line {
    std::string text;
    bool held;  // the account was held when it was written
};

// The command lines of the client's writes.
std::vector<Line> Lines(const std::vector<Write>& writes) {
    std::vector<Line> out;
    for (const auto& w : writes) {
        std::size_t at = 0;
        while (at < w.bytes.size()) {
            std::size_t end = w.bytes.find("\r\n", at);
            if (end == std::string::npos) end = w.bytes.size();
            out.push_back({w.bytes.substr(at, end - at), w.held});
            at = end + 2;
        }
    }
    return out;
}

bool IsDele(const Line& line) { return line.text.rfind("DELE ", 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    Script script;
    std::string chunk;
    for (std::size_t k = 1; k < size; ++k) {
        if (data[k] == 0) {
            script.chunks.push_back(std::move(chunk));
            chunk.clear();
        } else {
            chunk += static_cast<char>(data[k]);
        }
    }
    script.chunks.push_back(std::move(chunk));

    iw::pop3::ServerMemory::program().clear();
    static const std::unique_ptr<iw::platform::CodePage> codePage = iw::platform::createCodePage();
    iw::test::FakeClock clock;
    BoundedLoop loop(clock);
    ScriptNetwork network(loop, script);
    auto registry = iw::platform::createRegistry();
    auto desktop = iw::platform::createDesktop();
    auto shell = iw::platform::createShell();
    iw::test::FakeFiles files;
    iw::platform::Platform platform{loop, clock, network, *codePage, *registry, *desktop, *shell, files};

    Report report;
    report.keepRows = (flags >> 3) & 3;  // 0: keep all; 1..3: full after that many
    script.held = &report.wasHeld;
    {
        iw::pop3::FetchSession session(platform);
        session.setWindowOnly(flags & 1);
        session.setPipelinedDeletions(!(flags & 2));
        iw::pop3::FetchAccount account;
        account.login.address = u"user@mail.test";
        account.login.user = u"user";
        account.login.password = u"secret";
        account.server = u"mail.test:110";
        session.begin(u"", {account}, report);
        session.fetch(0, flags & 4);

        script.phase = Phase::Delete;
        const auto deletions = session.deleteRows(0, {0, 2}, 8, true);
        script.phase = Phase::Quit;
        const bool committed = session.quit(0, 8);
        script.phase = Phase::After;
        // Whatever is still queued runs; nothing may be written now.
        for (int k = 0; k < 50; ++k) loop.pump(Milliseconds(1000));

        // IW_FUZZ_TRACE=1 prints what the client wrote (to follow a seed or a crash).
        if (std::getenv("IW_FUZZ_TRACE"))
            for (const auto& w : script.writes)
                std::fprintf(stderr, "phase %d held %d: %s", static_cast<int>(w.phase), w.held ? 1 : 0, w.bytes.c_str());

        std::vector<Write> fetchWrites, deleteWrites, quitWrites, afterWrites;
        for (const auto& w : script.writes) {
            switch (w.phase) {
                case Phase::Fetch: fetchWrites.push_back(w); break;
                case Phase::Delete: deleteWrites.push_back(w); break;
                case Phase::Quit: quitWrites.push_back(w); break;
                case Phase::After: afterWrites.push_back(w); break;
            }
        }
        // No DELE while fetching, nothing once the run is over.
        for (const auto& line : Lines(fetchWrites))
            if (IsDele(line)) __builtin_trap();
        if (!afterWrites.empty()) __builtin_trap();

        // Every DELE names the message handed on for row 0 or row 2, each
        // at most once; none at all once the account is held.
        std::set<std::string> allowed;
        for (int row : {0, 2})
            if (auto it = report.rows.find(row); it != report.rows.end())
                allowed.insert("DELE " + std::to_string(it->second));
        int deles = 0;
        std::set<std::string> seen;
        for (const auto& line : Lines(deleteWrites)) {
            if (!IsDele(line)) __builtin_trap();  // only DELEs go out while deleting
            ++deles;
            if (line.held || !allowed.count(line.text) || !seen.insert(line.text).second) __builtin_trap();
        }
        // The count of DELEs asked is the count sent; confirmations never more.
        if (deletions.asked != deles || deletions.confirmed > deletions.asked || deletions.confirmed < 0)
            __builtin_trap();

        // QUIT is the last thing written, once; none on a held account; a
        // commit needs a QUIT that went out.
        const std::vector<Line> quitLines = Lines(quitWrites);
        if (quitLines.size() > 1 || (quitLines.size() == 1 && (quitLines[0].text != "QUIT" || quitLines[0].held)))
            __builtin_trap();
        if (committed && quitLines.empty()) __builtin_trap();
    }
    return 0;
}
