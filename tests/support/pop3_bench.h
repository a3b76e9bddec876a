// Pieces of the filter-engine benchmarks: a loopback TCP proxy that delays
// every chunk by a fixed time each way (a long network path without a
// bandwidth limit), and a bare POP3 client that fetches headers either one
// TOP at a time or all pipelined, to compare the engine against. Built on
// BSD sockets (support/posix); the Windows build has neither and says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace iw::test {

// Listens on 127.0.0.1:listenPort (0: a free port the system hands out;
// port() tells which) and forwards each connection to 127.0.0.1:targetPort. Every chunk read from either side is written to the
// other `delayMs` milliseconds after it arrived, in order; nothing else
// limits throughput. Closing one side closes the other after the delay.
class DelayProxy {
public:
    DelayProxy(std::uint16_t listenPort, std::uint16_t targetPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;
    // False when the listener could not be set up (or on Windows).
    bool ok() const;
    // The port it listens on (0 when not listening).
    std::uint16_t port() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

struct RawPop3Result {
    double seconds = -1;       // from connect to the QUIT reply
    std::size_t replies = 0;   // complete TOP replies read
    std::size_t bytes = 0;     // bytes of the TOP replies
    std::string error;         // empty on success
};

// Connects to 127.0.0.1:port, logs in (USER, PASS), asks STAT and LIST as
// the engine does, then fetches "TOP n topLines" for n = 1..count, either
// all sent at once and read to the last terminator (`pipelined`), or each
// sent only after the previous reply ended; then QUIT.
RawPop3Result RunRawPop3Client(std::uint16_t port, const std::string& user, const std::string& password, int count,
                               int topLines, bool pipelined);

// The same over TLS from the first byte, always pipelined, with the server's
// certificate checked against the CAs of `caFile` (OpenSSL, native build).
RawPop3Result RunRawPop3TlsClient(std::uint16_t port, const std::string& user, const std::string& password, int count,
                                  int topLines, const std::string& caFile);

}  // namespace iw::test
