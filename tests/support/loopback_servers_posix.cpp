#include "tests/support/loopback_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

namespace {

constexpr double kRequestQuiet = 5.0; // seconds a scripted peer waits for the next bytes of a request

// The request parser of both ReadRequest forms: `receive` gets up to `max` bytes (a single byte
// while the header block is incomplete), "" when the client closed or went quiet.
template <typename Receive>
std::string ReadRequestWith(Receive receive) {
    std::string bytes;
    size_t end = std::string::npos;
    size_t length = 0;
    while (end == std::string::npos || bytes.size() < end + 4 + length) {
        std::string more = receive(end == std::string::npos ? 1 : 4096);
        if (more.empty())
            return "";
        bytes += more;
        if (end == std::string::npos && (end = bytes.find("\r\n\r\n")) != std::string::npos) {
            size_t at = bytes.find("content-length: ");
            length = at < end ? std::stoul(bytes.substr(at + 16)) : 0;
        }
    }
    return bytes;
}

} // namespace

int Listen(int backlog, uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, backlog), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

std::string ReadRequest(int fd) {
    return ReadRequestWith([fd](size_t max) -> std::string {
        if (!WaitReadable(fd, static_cast<int>(kRequestQuiet * 1000)))
            return "";
        std::string bytes(max, '\0');
        ssize_t n = ::recv(fd, bytes.data(), max, 0);
        if (n <= 0)
            return "";
        bytes.resize(static_cast<size_t>(n));
        return bytes;
    });
}

std::string ReadRequest(testsupport::LoopbackStream& stream) {
    return ReadRequestWith([&stream](size_t max) { return stream.Receive(kRequestQuiet, max).bytes; });
}

} // namespace loopback
