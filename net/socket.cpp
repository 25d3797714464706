#include "net/socket.h"

#include "foundation/exception.h"
#include "foundation/thread.h"
#include "foundation/trace.h"
#include "net/network_exception.h"
#include "net/win_sock_library.h"

#include <algorithm>
#include <cstring>

using platform::WinSockAddrIn;

namespace {

const CWinSockLibrary& Wsa() {
    return CWinSockLibrary::Get();
}

constexpr const char* kTrace = "net";
constexpr int kResolveAttempts = 4;

// Errors after which the connection is over: a receive reports the end of data, a send fails.
bool IsConnectionGone(int error, bool receiving) {
    switch (error) {
    case platform::kWsaEnetdown:
    case platform::kWsaEnetreset:
    case platform::kWsaEconnaborted:
    case platform::kWsaEconnreset:
    case platform::kWsaEnotconn:
    case platform::kWsaEtimedout:
        return true;
    case platform::kWsaEshutdown:
        return receiving;
    default:
        return false;
    }
}

int Handle(platform::WinSocket s) {
    return static_cast<int>(s);
}

// A one-member socket set.
platform::WinFdSet SetOf(platform::WinSocket s) {
    platform::WinFdSet set{};
    set.fd_count = 1;
    set.fd_array[0] = s;
    return set;
}

} // namespace

WinSockAddrIn ResolveHostAddress(const std::string& host, uint16_t port) {
    const CWinSockLibrary& wsa = Wsa();
    WinSockAddrIn address{};
    address.sin_family = platform::kAddressFamilyInet;
    address.sin_port = wsa.htons(port);
    address.sin_addr = wsa.inet_addr(host.c_str());
    if (address.sin_addr != wsa.htonl(0xFFFFFFFFu) || host == "255.255.255.255")
        return address;

    for (int attempt = 1; attempt <= kResolveAttempts; ++attempt) {
        platform::WinHostEnt* entry = wsa.gethostbyname(host.c_str());
        if (entry != nullptr && entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
            size_t length = std::min<size_t>(static_cast<size_t>(std::max<int16_t>(entry->h_length, 0)),
                                             sizeof address.sin_addr);
            std::memcpy(&address.sin_addr, entry->h_addr_list[0], length);
            return address;
        }
        int error = entry != nullptr ? platform::kWsaNoData : wsa.WSAGetLastError();
        Trace(kTrace, 1, "resolve %s: attempt %d failed: %d", host.c_str(), attempt, error);
        if (error == platform::kWsaHostNotFound)
            throw CHostNotFoundException(host);
        if (error == platform::kWsaNoData && attempt == kResolveAttempts)
            throw CNoHostDataException(host);
        if (attempt == kResolveAttempts)
            break;
        // A pause before the next attempt that a stop request cuts short.
        if (CEvent* stop = GetStopEvent())
            stop->Lock(1.0);
        else
            SleepSeconds(1.0);
    }
    throw CHostNotFoundException(host);
}

CSocket::CSocket(const WinSockAddrIn& address) {
    const CWinSockLibrary& wsa = Wsa();
    m_handle = wsa.socket(platform::kAddressFamilyInet, platform::kSocketStream, 0);
    if (m_handle == platform::kInvalidSocket)
        throw CSocketException(wsa.WSAGetLastError());
    Trace(kTrace, 0, "socket %d: created", Handle(m_handle));

    uint32_t nonBlocking = 1;
    if (wsa.ioctlsocket(m_handle, platform::kFionbio, &nonBlocking) != 0) {
        int error = wsa.WSAGetLastError();
        wsa.closesocket(m_handle);
        Trace(kTrace, 0, "socket %d: cannot set non-blocking", Handle(m_handle));
        m_handle = platform::kInvalidSocket;
        throw CSocketException(error);
    }

    if (wsa.connect(m_handle, reinterpret_cast<const platform::WinSockAddr*>(&address), sizeof address) ==
        0) {
        m_connected = true;
        Trace(kTrace, 0, "socket %d: connected immediately", Handle(m_handle));
    } else {
        int error = wsa.WSAGetLastError();
        if (error != platform::kWsaEwouldblock) {
            Trace(kTrace, 0, "socket %d: can't connect", Handle(m_handle));
            wsa.closesocket(m_handle);
            m_handle = platform::kInvalidSocket;
            throw CSocketConnectionFailedException(error);
        }
        Trace(kTrace, 0, "socket %d: connecting", Handle(m_handle));
    }
    m_connectStart = Clock::now();
}

CSocket::~CSocket() {
    if (m_handle == platform::kInvalidSocket)
        return;
    try {
        if (IsOpenForWriting())
            ShutdownWrite();
        if (IsOpenForReading())
            Drain();
    } catch (...) {
        // Closing must go on whatever the peer did.
    }
    Close();
}

double CSocket::Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

unsigned CSocket::Wait(unsigned what, double timeout) {
    return WaitSocket(what, timeout, true);
}

unsigned CSocket::WaitSocket(unsigned what, double timeout, bool countBuffered) {
    if (m_handle == platform::kInvalidSocket)
        throw CSocketNotConnectedException();
    const CWinSockLibrary& wsa = Wsa();

    bool buffered = countBuffered && (what & kReadable) != 0 && !m_input.Empty();
    if (buffered) {
        if ((what & kWritable) == 0)
            return kReadable;
        timeout = 0;
    }

    platform::WinFdSet readSet = SetOf(m_handle), writeSet = SetOf(m_handle), exceptSet = SetOf(m_handle);
    platform::WinFdSet* reads = (what & kReadable) != 0 ? &readSet : nullptr;
    platform::WinFdSet* writes = (what & kWritable) != 0 ? &writeSet : nullptr;
    platform::WinFdSet* excepts = !m_connected ? &exceptSet : nullptr;

    if (!m_connected && m_connectTimeout > 0) {
        double remaining = std::max(0.0, m_connectTimeout - Seconds(m_connectStart));
        if (timeout < 0 || remaining < timeout)
            timeout = remaining;
    }

    platform::WinTimeval limit{};
    if (timeout >= 0) {
        double whole = std::min(timeout, 1e9);
        limit.tv_sec = static_cast<int32_t>(whole);
        limit.tv_usec = static_cast<int32_t>((whole - limit.tv_sec) * 1e6);
    }
    int ready = wsa.select(0, reads, writes, excepts, timeout >= 0 ? &limit : nullptr);
    if (ready < 0)
        throw CSocketException(wsa.WSAGetLastError());

    if (ready > 0 && !m_connected) {
        int error = 0;
        int length = sizeof error;
        if (wsa.getsockopt(m_handle, platform::kSolSocket, platform::kSoError,
                           reinterpret_cast<char*>(&error), &length) != 0) {
            Trace(kTrace, 2, "socket %d: can't get socket error", Handle(m_handle));
            error = platform::kWsaEinval;
        }
        if (error != 0 || (excepts != nullptr && wsa.WSAFDIsSet(m_handle, excepts))) {
            Trace(kTrace, 0, "socket %d: connect failed", Handle(m_handle));
            throw CSocketConnectionFailedException(error != 0 ? error : platform::kWsaEinval);
        }
    }

    if (ready == 0 && !m_connected && m_connectTimeout > 0 && Seconds(m_connectStart) >= m_connectTimeout) {
        Trace(kTrace, 0, "socket %d: connect timed out", Handle(m_handle));
        wsa.shutdown(m_handle, 2);
        Close();
        m_open = 0;
        throw CSocketConnectionFailedException(platform::kWsaEtimedout);
    }

    if (ready == 0 && !buffered)
        return 0;
    if (!m_connected) {
        Trace(kTrace, 0, "socket %d: connected", Handle(m_handle));
        m_connected = true;
    }
    unsigned result = 0;
    if (buffered || (reads != nullptr && wsa.WSAFDIsSet(m_handle, reads)))
        result |= kReadable;
    if (writes != nullptr && wsa.WSAFDIsSet(m_handle, writes))
        result |= kWritable;
    return result;
}

size_t CSocket::Receive(size_t count, char* buffer, double timeout) {
    const CWinSockLibrary& wsa = Wsa();
    // A time-out of 0 is one attempt and needs no clock.
    Clock::time_point start = timeout == 0 ? Clock::time_point() : Clock::now();
    // One attempt on a connected socket needs no readiness check: recv itself says "would block".
    bool checked = !(m_connected && timeout == 0);
    m_readDry = true;
    if (checked && WaitSocket(kReadable, timeout, false) == 0)
        return 0;

    auto receive = [&](size_t offset) {
        return wsa.recv(m_handle, buffer + offset, static_cast<int>(count - offset), 0);
    };
    int got = receive(0);
    if (got == 0) {
        m_readDry = false;
        return 0;
    }
    if (got < 0) {
        int error = wsa.WSAGetLastError();
        if (error == platform::kWsaEwouldblock) {
            if (checked)
                Trace(kTrace, 1, "socket %d: select lied about read", Handle(m_handle));
            got = 0;
        } else if (IsConnectionGone(error, true)) {
            m_readDry = false;
            Trace(kTrace, 0, "socket %d: recv failed: %d", Handle(m_handle), error);
            m_endError = error;
            return 0;
        } else {
            Trace(kTrace, 2, "socket %d: unexpected recv error: %d", Handle(m_handle), error);
            throw CSocketException(error);
        }
    }
    m_readDry = got == 0;

    size_t total = static_cast<size_t>(got);
    while (total < count && timeout != 0) {
        double remaining = timeout - Seconds(start);
        if (timeout >= 0 && remaining < 0)
            break;
        if (WaitSocket(kReadable, timeout < 0 ? -1.0 : remaining, false) == 0)
            break;
        int more = receive(total);
        if (more == 0)
            break;
        if (more < 0) {
            int error = wsa.WSAGetLastError();
            if (error == platform::kWsaEwouldblock)
                continue;
            if (IsConnectionGone(error, true))
                m_endError = error;
            break;
        }
        total += static_cast<size_t>(more);
    }
    m_bytesReceived += total;
    return total;
}

void CSocket::Fill(size_t shortfall, double timeout) {
    Clock::time_point start = timeout == 0 ? Clock::time_point() : Clock::now();
    bool first = true;
    char piece[kPiece];
    while (shortfall > 0) {
        double remaining = first ? timeout : timeout - Seconds(start);
        first = false;
        if (timeout >= 0 && remaining < 0)
            break;
        size_t got = Receive(std::min(shortfall, kPiece), piece, timeout < 0 ? -1.0 : remaining);
        if (got == 0)
            break;
        m_input.Append(piece, got);
        shortfall -= got;
        if (timeout == 0)
            break;
    }
}

size_t CSocket::Read(size_t count, void* buffer, double timeout) {
    if (!IsOpenForReading())
        throw CInputStreamClosedException();
    if (m_input.Empty() && buffer != nullptr)
        return Receive(count, static_cast<char*>(buffer), timeout);
    if (m_input.Size() < count)
        Fill(count - m_input.Size(), timeout);
    size_t taken = std::min(count, m_input.Size());
    if (buffer != nullptr)
        m_input.Copy(taken, static_cast<char*>(buffer));
    m_input.Consume(taken);
    return taken;
}

uint64_t CSocket::GetBytesUnsent() const {
    return IsValid() ? (std::min)(platform::GetUnsentBytes(m_handle), m_bytesSent) : 0;
}

size_t CSocket::Peek(size_t count, void* buffer, double timeout) {
    if (!IsOpenForReading())
        throw CInputStreamClosedException();
    if (m_input.Size() < count)
        Fill(count - m_input.Size(), timeout);
    size_t copied = std::min(count, m_input.Size());
    if (buffer != nullptr)
        m_input.Copy(copied, static_cast<char*>(buffer));
    return copied;
}

size_t CSocket::Write(size_t count, const void* data, double timeout) {
    if (!IsOpenForWriting())
        throw COutputStreamClosedException();
    const CWinSockLibrary& wsa = Wsa();
    Clock::time_point start = timeout == 0 ? Clock::time_point() : Clock::now();
    bool checked = !(m_connected && timeout == 0);
    m_writeBlocked = true;
    if (checked && WaitSocket(kWritable, timeout, true) == 0)
        return 0;

    const char* bytes = static_cast<const char*>(data);
    auto send = [&](size_t offset) {
        return wsa.send(m_handle, bytes + offset, static_cast<int>(count - offset), 0);
    };
    int sent = send(0);
    if (sent < 0) {
        int error = wsa.WSAGetLastError();
        if (error == platform::kWsaEwouldblock) {
            if (checked)
                Trace(kTrace, 1, "socket %d: select lied about write", Handle(m_handle));
            sent = 0;
        } else if (IsConnectionGone(error, false)) {
            Trace(kTrace, 0, "socket %d: send failed: %d", Handle(m_handle), error);
            throw CSocketNotConnectedException();
        } else {
            Trace(kTrace, 2, "socket %d: unexpected send error: %d", Handle(m_handle), error);
            throw CSocketException(error);
        }
    }

    size_t total = static_cast<size_t>(sent);
    while (total < count && timeout != 0) {
        double remaining = timeout - Seconds(start);
        if (timeout >= 0 && remaining < 0)
            break;
        if (WaitSocket(kWritable, timeout < 0 ? -1.0 : remaining, true) == 0)
            break;
        int more = send(total);
        if (more < 0) {
            if (wsa.WSAGetLastError() != platform::kWsaEwouldblock)
                break;
            continue;
        }
        total += static_cast<size_t>(more);
    }
    m_writeBlocked = total < count;
    m_bytesSent += total;
    return total;
}

void CSocket::ShutdownRead() {
    m_open &= ~kOpenRead;
    Wsa().shutdown(m_handle, 0);
    Trace(kTrace, 0, "socket %d: closed for read", Handle(m_handle));
}

void CSocket::ShutdownWrite() {
    m_open &= ~kOpenWrite;
    Wsa().shutdown(m_handle, 1);
    Trace(kTrace, 0, "socket %d: closed for write", Handle(m_handle));
}

void CSocket::Drain() {
    // Reads what the peer still sends until it closes, within bounds of time and bytes, so that no
    // stop or pause can hang on a peer that keeps the connection open.
    Trace(kTrace, 0, "socket %d: draining", Handle(m_handle));
    const CWinSockLibrary& wsa = Wsa();
    Clock::time_point start = Clock::now();
    size_t drained = 0;
    char piece[kPiece];
    while (drained < kDrainBytes) {
        double remaining = kDrainSeconds - Seconds(start);
        if (remaining <= 0)
            break;
        platform::WinFdSet readSet = SetOf(m_handle);
        platform::WinTimeval limit{static_cast<int32_t>(remaining),
                                   static_cast<int32_t>((remaining - static_cast<int32_t>(remaining)) * 1e6)};
        if (wsa.select(0, &readSet, nullptr, nullptr, &limit) <= 0)
            break;
        int got = wsa.recv(m_handle, piece, sizeof piece, 0);
        if (got <= 0 && !(got < 0 && wsa.WSAGetLastError() == platform::kWsaEwouldblock))
            break;
        drained += static_cast<size_t>(std::max(got, 0));
    }
}

void CSocket::Close() {
    if (m_handle == platform::kInvalidSocket)
        return;
    Wsa().closesocket(m_handle);
    Trace(kTrace, 0, "socket %d: closed", Handle(m_handle));
    m_handle = platform::kInvalidSocket;
}

WinSockAddrIn CSocket::GetAddress(bool peer) {
    while (!m_connected)
        WaitSocket(kWritable, -1, false);
    const CWinSockLibrary& wsa = Wsa();
    WinSockAddrIn address{};
    int length = sizeof address;
    auto* raw = reinterpret_cast<platform::WinSockAddr*>(&address);
    int result = peer ? wsa.getpeername(m_handle, raw, &length) : wsa.getsockname(m_handle, raw, &length);
    if (result != 0)
        throw CSocketException(wsa.WSAGetLastError());
    return address;
}

WinSockAddrIn CSocket::GetLocalAddress() {
    return GetAddress(false);
}
WinSockAddrIn CSocket::GetPeerAddress() {
    return GetAddress(true);
}
