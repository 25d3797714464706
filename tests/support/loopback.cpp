// What the loopback stream is on every system: its ownership of the socket, what it builds on its
// one receive, and the listener's uses.
#include "tests/support/loopback.h"

namespace testsupport {

LoopbackStream::~LoopbackStream() {
    Close();
}

LoopbackStream::LoopbackStream(LoopbackStream&& other) noexcept : m_socket(other.m_socket) {
    other.m_socket = kNone;
}

LoopbackStream& LoopbackStream::operator=(LoopbackStream&& other) noexcept {
    if (this != &other) {
        Close();
        m_socket = other.m_socket;
        other.m_socket = kNone;
    }
    return *this;
}

std::string LoopbackStream::ReceiveExactly(size_t count, double seconds) {
    std::string bytes;
    while (bytes.size() < count) {
        Received received = Receive(seconds, count - bytes.size());
        if (received.status != Status::Data)
            break;
        bytes += received.bytes;
    }
    return bytes;
}

std::string LoopbackStream::ReceiveUntilClosed(double seconds) {
    std::string bytes;
    for (;;) {
        Received received = Receive(seconds);
        if (received.status != Status::Data)
            return bytes;
        bytes += received.bytes;
    }
}

LoopbackListener::~LoopbackListener() {
    Close();
}

uint16_t FreeLoopbackPort() {
    LoopbackListener listener(1);
    return listener.Port();
}

bool LoopbackAccepts(uint16_t port) {
    return LoopbackStream::Connect(port).IsOpen();
}

} // namespace testsupport
