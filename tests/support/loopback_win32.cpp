#include "tests/support/loopback.h"

// WinSock 2 before the standard headers, whose thread library brings in windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace testsupport {

namespace {

void StartWinSock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
}

SOCKET Handle(intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A new TCP socket that child processes do not inherit (an inherited copy would keep a closed
// connection or port open); INVALID_SOCKET when none can be made.
SOCKET NewSocket() {
    StartWinSock();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET)
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

// Whether `s` becomes readable (or ends) within `seconds`.
bool Readable(SOCKET s, double seconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit{};
    if (seconds >= 0) {
        auto micro = static_cast<long long>(std::ceil(seconds * 1e6));
        limit.tv_sec = static_cast<long>(micro / 1000000);
        limit.tv_usec = static_cast<long>(micro % 1000000);
    }
    return ::select(0, &readable, nullptr, nullptr, seconds < 0 ? nullptr : &limit) > 0;
}

} // namespace

LoopbackStream LoopbackStream::Connect(uint16_t port) {
    SOCKET s = NewSocket();
    if (s == INVALID_SOCKET)
        return LoopbackStream();
    sockaddr_in address = Loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return LoopbackStream();
    }
    return LoopbackStream(static_cast<intptr_t>(s));
}

bool LoopbackStream::SendAll(std::string_view bytes) {
    if (!IsOpen())
        return false;
    for (size_t sent = 0; sent < bytes.size();) {
        int n = ::send(Handle(m_socket), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

LoopbackStream::Received LoopbackStream::Receive(double seconds, size_t max) {
    if (!IsOpen())
        return {Status::Closed, {}};
    if (!Readable(Handle(m_socket), seconds))
        return {Status::TimedOut, {}};
    std::string bytes(max, '\0');
    int n = ::recv(Handle(m_socket), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n <= 0)
        return {Status::Closed, {}};
    bytes.resize(static_cast<size_t>(n));
    return {Status::Data, std::move(bytes)};
}

bool LoopbackStream::WaitReadable(double seconds) {
    return IsOpen() && Readable(Handle(m_socket), seconds);
}

void LoopbackStream::WaitUntilDelivered(double seconds) {
    constexpr double kDelivery = 0.05; // seconds: loopback delivers a small send well within this
    if (IsOpen())
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, kDelivery)));
}

int LoopbackStream::PendingError() {
    int error = 0;
    int length = sizeof error;
    if (!IsOpen() ||
        ::getsockopt(Handle(m_socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return -1;
    return error;
}

void LoopbackStream::ShutdownWrite() {
    if (IsOpen())
        ::shutdown(Handle(m_socket), SD_SEND);
}

void LoopbackStream::Close() {
    if (!IsOpen())
        return;
    ::closesocket(Handle(m_socket));
    m_socket = kNone;
}

void LoopbackStream::Reset() {
    if (!IsOpen())
        return;
    linger hard{1, 0};
    ::setsockopt(Handle(m_socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    ::closesocket(Handle(m_socket));
    m_socket = kNone;
}

LoopbackListener::LoopbackListener(int backlog) {
    SOCKET s = NewSocket();
    if (s == INVALID_SOCKET)
        return;
    // No other socket may take the port while this one has it.
    BOOL exclusive = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    sockaddr_in address = Loopback(0);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return;
    }
    m_socket = static_cast<intptr_t>(s);
    m_port = ntohs(address.sin_port);
}

LoopbackStream LoopbackListener::Accept(double seconds) {
    if (!IsListening() || !Readable(Handle(m_socket), seconds))
        return LoopbackStream();
    SOCKET s = ::accept(Handle(m_socket), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return LoopbackStream();
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return LoopbackStream(static_cast<intptr_t>(s));
}

bool LoopbackListener::SetReceiveBuffer(int bytes) {
    return IsListening() && ::setsockopt(Handle(m_socket), SOL_SOCKET, SO_RCVBUF,
                                         reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

void LoopbackListener::Close() {
    if (m_socket == kNone)
        return;
    ::closesocket(Handle(m_socket));
    m_socket = kNone;
}

bool WaitHandleReady(intptr_t handle, double seconds) {
    DWORD milliseconds = seconds < 0 ? INFINITE : static_cast<DWORD>(std::ceil(seconds * 1000));
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds) == WAIT_OBJECT_0;
}

} // namespace testsupport
