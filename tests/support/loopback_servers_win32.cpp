// WinSock 2 first: the test headers bring in windows.h through the thread library.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include "tests/support/loopback_servers.h"

#include <mutex>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace loopback {

namespace {

SOCKET Handle(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}

} // namespace

int Listen(int backlog, uint16_t& port) {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(s, backlog), 0);
    int length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return static_cast<int>(s);
}

bool WaitReadable(int fd, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Handle(fd), &readable);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, ms < 0 ? nullptr : &limit) > 0;
}

std::string ReadRequest(int fd) {
    return detail::ReadRequestWith([fd](size_t max) -> std::string {
        if (!WaitReadable(fd, static_cast<int>(detail::kRequestQuiet * 1000)))
            return "";
        std::string bytes(max, '\0');
        int n = ::recv(Handle(fd), bytes.data(), static_cast<int>(max), 0);
        if (n <= 0)
            return "";
        bytes.resize(static_cast<size_t>(n));
        return bytes;
    });
}

} // namespace loopback
