// One TCP connection over the socket library: non-blocking, with a connect time-out, a readiness
// wait, an input buffer for peeking, and half-close. The HTTP connection creates one per attempt and
// drives it from its worker thread, always reading and writing with time-out 0 and doing its
// blocking in Wait, so that no thread sits in recv or send.
//
// Threads: one thread at a time, the worker of the owning connection.
#pragma once

#include "net/byte_ring.h"
#include "platform/winsock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// Resolves a host (a dotted address or a name) and port to a socket address. A name is looked up at
// most four times, pausing a second (or until the thread is asked to stop) between attempts; raises
// CHostNotFoundException or CNoHostDataException.
platform::WinSockAddrIn ResolveHostAddress(const std::string& host, uint16_t port);

class CSocket {
public:
    enum WaitFor : unsigned { kReadable = 1, kWritable = 2 };

    // Creates the socket and starts connecting; raises CSocketException or
    // CSocketConnectionFailedException. The socket library must be held (CWinSockLibrary).
    explicit CSocket(const platform::WinSockAddrIn& address);
    virtual ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Seconds from the connect request; only values above 0 are enforced, -1 = none.
    void SetConnectTimeout(double seconds) { m_connectTimeout = seconds; }

    // The bits of `what` (kReadable, kWritable) that are ready within `timeout` seconds (negative: no
    // limit), 0 when the time ran out. Buffered input counts as readable. Raises
    // CSocketConnectionFailedException when the connection fails or its connect time-out passes.
    unsigned Wait(unsigned what, double timeout);

    // Up to `count` bytes, 0 at the end of data or when the time ran out; a null buffer drops them.
    // On a connected socket a time-out of 0 goes straight to one receive without a readiness check:
    // on a non-blocking socket that is the same single attempt, at half the system calls.
    virtual size_t Read(size_t count, void* buffer, double timeout);
    // Like Read, but the bytes stay in the input buffer.
    virtual size_t Peek(size_t count, void* buffer, double timeout);
    virtual void ShutdownRead();

    // The number of bytes sent; raises CSocketNotConnectedException when the peer has gone. A time-out
    // of 0 on a connected socket makes one send without a readiness check, as Read does.
    virtual size_t Write(size_t count, const void* data, double timeout);
    virtual void Flush() {}
    virtual void ShutdownWrite();

    // Wait without limit until connected, then the local or peer address.
    platform::WinSockAddrIn GetLocalAddress();
    platform::WinSockAddrIn GetPeerAddress();

    bool IsConnected() const { return m_connected; }
    bool IsValid() const { return m_handle != platform::kInvalidSocket; }
    bool IsOpenForReading() const { return (m_open & kOpenRead) != 0; }
    bool IsOpenForWriting() const { return (m_open & kOpenWrite) != 0; }
    size_t GetBufferedCount() const { return m_input.Size(); }
    // True when the last receive found nothing waiting (neither data nor the end), so that a reader
    // that keeps reading while data keeps coming knows when to wait instead.
    bool IsReadDry() const { return m_readDry; }
    // True when the last Write could not send everything it was given: the send buffer is full.
    bool IsWriteBlocked() const { return m_writeBlocked; }
    // The error that ended the input when a receive failed with the connection gone (a reset, say),
    // 0 while the input has not ended that way. Such a failure reads as the end of data, and a reply
    // that runs until the server closes needs this to tell a cut from the end.
    int GetEndError() const { return m_endError; }
    // Bytes received from and sent to the network in the socket's life, so that a caller can tell a
    // stalled exchange from a slow one.
    uint64_t GetBytesReceived() const { return m_bytesReceived; }
    uint64_t GetBytesSent() const { return m_bytesSent; }
    // Of the bytes sent, those the system still holds because the peer has not acknowledged them.
    uint64_t GetBytesUnsent() const;

    // Bounds on the drain when a socket is destroyed while its peer keeps sending or stays open.
    static constexpr double kDrainSeconds = 2.0;
    static constexpr size_t kDrainBytes = 1 << 20;

private:
    static constexpr unsigned kOpenRead = 1;
    static constexpr unsigned kOpenWrite = 2;
    static constexpr size_t kPiece = 1024; // network transfers move in pieces of at most this size

    using Clock = std::chrono::steady_clock;
    static double Seconds(Clock::time_point since);

    // Wait with or without counting buffered input as readable.
    unsigned WaitSocket(unsigned what, double timeout, bool countBuffered);
    // recv into the caller's memory, with the wait and the error rules of the raw receive.
    size_t Receive(size_t count, char* buffer, double timeout);
    // Receives into the input buffer until it holds `shortfall` more bytes or the time runs out.
    void Fill(size_t shortfall, double timeout);
    void Close();
    void Drain();
    platform::WinSockAddrIn GetAddress(bool peer);

    platform::WinSocket m_handle = platform::kInvalidSocket;
    bool m_connected = false;
    unsigned m_open = kOpenRead | kOpenWrite;
    CByteRing m_input;
    Clock::time_point m_connectStart;
    double m_connectTimeout = -1.0;
    int m_endError = 0;
    uint64_t m_bytesReceived = 0;
    uint64_t m_bytesSent = 0;
    bool m_readDry = false;
    bool m_writeBlocked = false;
};
