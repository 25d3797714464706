#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

int Fd(intptr_t socket) {
    return static_cast<int>(socket);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int Milliseconds(double seconds) {
    if (seconds < 0)
        return -1;
    return static_cast<int>(std::ceil(seconds * 1000));
}

// Whether `fd` becomes readable within `seconds`; a signal that interrupts the wait does not end it
// early.
bool Readable(int fd, double seconds) {
    pollfd p{fd, POLLIN, 0};
    int result;
    do
        result = ::poll(&p, 1, Milliseconds(seconds));
    while (result < 0 && errno == EINTR);
    return result > 0;
}

} // namespace

LoopbackStream LoopbackStream::Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return LoopbackStream();
    sockaddr_in address = Loopback(port);
    int result;
    do
        result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return LoopbackStream();
    }
    return LoopbackStream(fd);
}

bool LoopbackStream::SendAll(std::string_view bytes) {
    if (!IsOpen())
        return false;
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(Fd(m_socket), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

LoopbackStream::Received LoopbackStream::Receive(double seconds, size_t max) {
    if (!IsOpen())
        return {Status::Closed, {}};
    if (!Readable(Fd(m_socket), seconds))
        return {Status::TimedOut, {}};
    std::string bytes(max, '\0');
    ssize_t n;
    do
        n = ::recv(Fd(m_socket), bytes.data(), bytes.size(), 0);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return {Status::Closed, {}};
    bytes.resize(static_cast<size_t>(n));
    return {Status::Data, std::move(bytes)};
}

bool LoopbackStream::WaitReadable(double seconds) {
    return IsOpen() && Readable(Fd(m_socket), seconds);
}

void LoopbackStream::WaitUntilDelivered(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (IsOpen()) {
        int unacknowledged = 0;
        if (::ioctl(Fd(m_socket), SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0 ||
            std::chrono::steady_clock::now() >= deadline)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int LoopbackStream::PendingError() {
    int error = 0;
    socklen_t length = sizeof error;
    if (!IsOpen() || ::getsockopt(Fd(m_socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return -1;
    return error;
}

void LoopbackStream::ShutdownWrite() {
    if (IsOpen())
        ::shutdown(Fd(m_socket), SHUT_WR);
}

void LoopbackStream::Close() {
    if (!IsOpen())
        return;
    ::close(Fd(m_socket));
    m_socket = kNone;
}

void LoopbackStream::Reset() {
    if (!IsOpen())
        return;
    linger hard{1, 0};
    ::setsockopt(Fd(m_socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(Fd(m_socket));
    m_socket = kNone;
}

LoopbackListener::LoopbackListener(int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return;
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return;
    }
    m_socket = fd;
    m_port = ntohs(address.sin_port);
}

LoopbackStream LoopbackListener::Accept(double seconds) {
    if (!IsListening() || !Readable(Fd(m_socket), seconds))
        return LoopbackStream();
    int fd;
    do
        fd = ::accept(Fd(m_socket), nullptr, nullptr);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? LoopbackStream() : LoopbackStream(fd);
}

bool LoopbackListener::SetReceiveBuffer(int bytes) {
    return IsListening() && ::setsockopt(Fd(m_socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

void LoopbackListener::Close() {
    if (m_socket == kNone)
        return;
    ::close(Fd(m_socket));
    m_socket = kNone;
}

bool WaitHandleReady(intptr_t handle, double seconds) {
    return Readable(Fd(handle), seconds);
}

} // namespace testsupport
