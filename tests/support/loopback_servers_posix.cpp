#include "tests/support/loopback_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

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
    return detail::ReadRequestWith([fd](size_t max) -> std::string {
        if (!WaitReadable(fd, static_cast<int>(detail::kRequestQuiet * 1000)))
            return "";
        std::string bytes(max, '\0');
        ssize_t n = ::recv(fd, bytes.data(), max, 0);
        if (n <= 0)
            return "";
        bytes.resize(static_cast<size_t>(n));
        return bytes;
    });
}

} // namespace loopback
