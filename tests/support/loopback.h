// Plain blocking TCP on 127.0.0.1 for tests that speak a protocol byte by byte: a listener on a port
// of the system's choosing, and a connected stream with sends that send everything and receives that
// wait a bounded time. Time-outs are seconds; negative waits for ever, 0 makes one attempt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport {

// A connected socket, owned by the object and closed with it.
class LoopbackStream {
public:
    enum class Status {
        Data,     // at least one byte arrived
        Closed,   // the peer ended its side (or reset the connection) and nothing is left to read
        TimedOut, // nothing arrived in time
    };
    struct Received {
        Status status;
        std::string bytes; // empty unless status is Data
    };

    LoopbackStream() = default; // not connected
    ~LoopbackStream();
    LoopbackStream(LoopbackStream&& other) noexcept;
    LoopbackStream& operator=(LoopbackStream&& other) noexcept;
    LoopbackStream(const LoopbackStream&) = delete;
    LoopbackStream& operator=(const LoopbackStream&) = delete;

    // A connection to 127.0.0.1:port; not open when nothing accepts there.
    static LoopbackStream Connect(uint16_t port);

    bool IsOpen() const { return m_socket != kNone; }
    // Sends every byte; false when the connection broke first (no signal is raised for that).
    bool SendAll(std::string_view bytes);
    // Waits up to `seconds` for something to read and returns what one receive gives, at most `max`.
    Received Receive(double seconds, size_t max = 64 * 1024);
    // Exactly `count` bytes, each wait bounded by `seconds`; fewer when the peer closed or went quiet.
    std::string ReceiveExactly(size_t count, double seconds);
    // Everything until the peer closes; what came so far when it went quiet for `seconds`.
    std::string ReceiveUntilClosed(double seconds);
    // Whether something can be read (or the end seen) within `seconds`.
    bool WaitReadable(double seconds);
    // Waits up to `seconds` until the peer's system has taken in every byte sent (none left
    // unacknowledged). Windows cannot say: there it waits a moment, which loopback's delivery of a
    // small send takes well within.
    void WaitUntilDelivered(double seconds);
    // The error the connection has pending (a reset, say), taken by asking; 0 when none.
    int PendingError();
    // Tells the peer no more bytes come; receiving still works.
    void ShutdownWrite();
    void Close();
    // Closes with a reset instead of the orderly end: what the peer has not read yet is lost, and its
    // next reads and writes fail.
    void Reset();

private:
    static constexpr intptr_t kNone = -1;
    explicit LoopbackStream(intptr_t handle) : m_socket(handle) {}
    friend class LoopbackListener;

    intptr_t m_socket = kNone; // the system's socket handle
};

// A socket listening on 127.0.0.1.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 16);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool IsListening() const { return m_socket != kNone; }
    uint16_t Port() const { return m_port; }
    // The next connection, waiting up to `seconds`; a stream that is not open when none came.
    LoopbackStream Accept(double seconds);
    // Sets the receive buffer of the connections accepted from now on (the system may round it);
    // false when it refuses.
    bool SetReceiveBuffer(int bytes);
    void Close();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_socket = kNone;
    uint16_t m_port = 0;
};

// A port that nothing listens on at the moment of asking (another program may take it later).
uint16_t FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port.
bool LoopbackAccepts(uint16_t port);

// Whether a handle the system's waits take is ready within `seconds` (negative: for ever, 0: now): a
// descriptor that is readable on Linux, a waitable handle that is signalled on Windows. Looking
// does not consume the readiness of a socket or a manual-reset event.
bool WaitHandleReady(intptr_t handle, double seconds);

} // namespace testsupport
