// A threaded TCP server on a loopback address for tests: each accepted
// connection runs a handler on its own thread with a blocking byte stream.
// Port 0 picks an ephemeral port; port() reports the one in use. Built on
// BSD sockets (support/posix) or Winsock (support/win32).
//
// The handler runs on a server thread, never on the test's thread: it must
// share state with the test only through atomics or its own locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace iw::test {

class LoopbackStream {
public:
    virtual ~LoopbackStream() = default;
    // One line up to and including "\n" (or what is left before the peer
    // closed); nullopt at end of stream with nothing read.
    virtual std::optional<std::string> readLine() = 0;
    // Up to `max` bytes as soon as any arrive; "" at end of stream.
    virtual std::string readSome(std::size_t max = 65536) = 0;
    // Writes everything, blocking as needed; false when the peer is gone.
    virtual bool write(std::string_view bytes) = 0;
    // Closes the connection (an orderly close: the peer reads end of stream).
    virtual void close() = 0;
    // Ends the sending side only: the peer reads what was written, then end
    // of stream, while this side can still read what the peer sends.
    virtual void shutdownSend() = 0;
    // Shrinks (or grows) the kernel buffers of this connection.
    virtual void setBufferSizes(int sendBytes, int receiveBytes) = 0;
    // Sends every write at once, without coalescing small writes (Nagle off),
    // so a test can hand the client its bytes in pieces of its choosing.
    virtual void setNoDelay() = 0;
};

struct LoopbackOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;
    // Kernel buffer sizes set on the listening socket before any accept,
    // so accepted connections start with them; 0 keeps the default.
    int sendBuffer = 0;
    int receiveBuffer = 0;
};

class LoopbackServer {
public:
    using Handler = std::function<void(LoopbackStream&)>;

    // Starts listening at once; check listening() before use.
    explicit LoopbackServer(Handler handler, LoopbackOptions options = {});
    // Stops accepting, shuts down open connections and joins every thread.
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool listening() const;
    std::uint16_t port() const;
    // Connections accepted so far.
    int connections() const;
    void stop();

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace iw::test
