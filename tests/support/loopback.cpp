// What the loopback stream builds on its one receive, the same on every system.
#include "tests/support/loopback.h"

namespace testsupport {

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

} // namespace testsupport
