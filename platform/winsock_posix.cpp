#include "platform/last_error.h"
#include "platform/system_message.h"
#include "platform/winsock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

int32_t WsaFromErrno(int error) {
    switch (error) {
    case EINTR:
        return kWsaEintr;
    case EBADF:
        return kWsaEnotsock;
    case EACCES:
    case EPERM:
        return kWsaEacces;
    case EFAULT:
        return kWsaEfault;
    case EINVAL:
        return kWsaEinval;
    case EMFILE:
    case ENFILE:
        return kWsaEmfile;
    // A non-blocking connect in progress reads as "would block", as WinSock reports it.
    case EAGAIN:
    case EINPROGRESS:
        return kWsaEwouldblock;
    case EALREADY:
        return kWsaEalready;
    case ENOTSOCK:
        return kWsaEnotsock;
    case EDESTADDRREQ:
        return kWsaEdestaddrreq;
    case EMSGSIZE:
        return kWsaEmsgsize;
    case EPROTOTYPE:
        return kWsaEprototype;
    case ENOPROTOOPT:
        return kWsaEnoprotoopt;
    case EPROTONOSUPPORT:
        return kWsaEprotonosupport;
    case ESOCKTNOSUPPORT:
        return kWsaEsocktnosupport;
    case EOPNOTSUPP:
        return kWsaEopnotsupp;
    case EPFNOSUPPORT:
        return kWsaEpfnosupport;
    case EAFNOSUPPORT:
        return kWsaEafnosupport;
    case EADDRINUSE:
        return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
        return kWsaEaddrnotavail;
    case ENETDOWN:
        return kWsaEnetdown;
    case ENETUNREACH:
        return kWsaEnetunreach;
    case ENETRESET:
        return kWsaEnetreset;
    case ECONNABORTED:
        return kWsaEconnaborted;
    // Writing after the peer reset the connection.
    case ECONNRESET:
    case EPIPE:
        return kWsaEconnreset;
    case ENOBUFS:
    case ENOMEM:
        return kWsaEnobufs;
    case EISCONN:
        return kWsaEisconn;
    case ENOTCONN:
        return kWsaEnotconn;
    case ESHUTDOWN:
        return kWsaEshutdown;
    case ETOOMANYREFS:
        return kWsaEtoomanyrefs;
    case ETIMEDOUT:
        return kWsaEtimedout;
    case ECONNREFUSED:
        return kWsaEconnrefused;
    case ELOOP:
        return kWsaEloop;
    case ENAMETOOLONG:
        return kWsaEnametoolong;
    case EHOSTDOWN:
        return kWsaEhostdown;
    case EHOSTUNREACH:
        return kWsaEhostunreach;
    case ENOTEMPTY:
        return kWsaEnotempty;
    case EUSERS:
        return kWsaEusers;
    case EDQUOT:
        return kWsaEdquot;
    case ESTALE:
        return kWsaEstale;
    case EREMOTE:
        return kWsaEremote;
    default:
        return kWsaEinval;
    }
}

// Records the failure of the last POSIX call and returns WinSock's failure value.
int Fail() {
    SetLastSocketError(WsaFromErrno(errno));
    return kSocketError;
}

int Fail(int32_t wsaError) {
    SetLastSocketError(wsaError);
    return kSocketError;
}

std::atomic<int> g_startups{0};

bool Started() {
    if (g_startups.load() > 0)
        return true;
    SetLastSocketError(kWsaNotinitialised);
    return false;
}

// A handle is a descriptor; values beyond int cannot have come from socket().
bool ToFd(WinSocket s, int& fd) {
    if (s > static_cast<WinSocket>(INT_MAX)) {
        SetLastSocketError(kWsaEnotsock);
        return false;
    }
    fd = static_cast<int>(s);
    return true;
}

// Translates a WinSock option to the POSIX one; false when it has none.
bool TranslateOption(int level, int option, int& posixLevel, int& posixOption) {
    if (level == kSolSocket) {
        posixLevel = SOL_SOCKET;
        switch (option) {
        case kSoError:
            posixOption = SO_ERROR;
            return true;
        case kSoReuseAddr:
            posixOption = SO_REUSEADDR;
            return true;
        case kSoKeepAlive:
            posixOption = SO_KEEPALIVE;
            return true;
        case kSoSndBuf:
            posixOption = SO_SNDBUF;
            return true;
        case kSoRcvBuf:
            posixOption = SO_RCVBUF;
            return true;
        case kSoType:
            posixOption = SO_TYPE;
            return true;
        default:
            return false;
        }
    }
    if (level == kIpProtoTcp && option == kTcpNoDelay) {
        posixLevel = IPPROTO_TCP;
        posixOption = TCP_NODELAY;
        return true;
    }
    return false;
}

// --- The entry points ------------------------------------------------------------------------

int WsaStartup(uint16_t version, WinWsaData* data) {
    if (data == nullptr)
        return kWsaEfault;
    // We offer 1.1 and 2.2; a caller asking for less than 1.1 cannot be served.
    uint8_t major = version & 0xff, minor = version >> 8;
    if (major < 1 || (major == 1 && minor < 1))
        return kWsaVernotsupported;
    std::memset(data, 0, sizeof *data);
    data->wVersion = major >= 2 ? 0x0202 : 0x0101;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "POSIX sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xffff;
    data->iMaxUdpDg = 65467;
    ++g_startups;
    return 0;
}

int WsaCleanup() {
    int count = g_startups.load();
    while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0)
        return Fail(kWsaNotinitialised);
    return 0;
}

int WsaIsBlocking() {
    return 0;
}

int WsaGetLastError() {
    return GetLastSocketError();
}

WinSocket Socket(int family, int type, int protocol) {
    if (!Started())
        return kInvalidSocket;
    if (family != kAddressFamilyInet) {
        SetLastSocketError(kWsaEafnosupport);
        return kInvalidSocket;
    }
    int posixType = type == kSocketStream ? SOCK_STREAM : type == 2 ? SOCK_DGRAM : -1;
    if (posixType < 0) {
        SetLastSocketError(kWsaEsocktnosupport);
        return kInvalidSocket;
    }
    int fd = ::socket(AF_INET, posixType | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        Fail();
        return kInvalidSocket;
    }
    return static_cast<WinSocket>(fd);
}

int CloseSocket(WinSocket s) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    return ::close(fd) == 0 ? 0 : Fail();
}

// A WinSock address (16 bytes, family 2) as a POSIX one.
bool ToPosix(const WinSockAddr* address, int length, sockaddr_in& out) {
    if (address == nullptr || length < static_cast<int>(sizeof(WinSockAddrIn)))
        return false;
    WinSockAddrIn in;
    std::memcpy(&in, address, sizeof in);
    if (in.sin_family != kAddressFamilyInet)
        return false;
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr;
    return true;
}

int FromPosix(const sockaddr_in& in, WinSockAddr* address, int* length) {
    if (address == nullptr || length == nullptr || *length < static_cast<int>(sizeof(WinSockAddrIn)))
        return Fail(kWsaEfault);
    WinSockAddrIn out{};
    out.sin_family = kAddressFamilyInet;
    out.sin_port = in.sin_port;
    out.sin_addr = in.sin_addr.s_addr;
    std::memcpy(address, &out, sizeof out);
    *length = sizeof out;
    return 0;
}

int Connect(WinSocket s, const WinSockAddr* address, int length) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    sockaddr_in in;
    if (!ToPosix(address, length, in))
        return Fail(kWsaEfault);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0 ? 0 : Fail();
}

int Bind(WinSocket s, const WinSockAddr* address, int length) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    sockaddr_in in;
    if (!ToPosix(address, length, in))
        return Fail(kWsaEfault);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0 ? 0 : Fail();
}

int Listen(WinSocket s, int backlog) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    return ::listen(fd, backlog) == 0 ? 0 : Fail();
}

WinSocket Accept(WinSocket s, WinSockAddr* address, int* length) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kInvalidSocket;
    sockaddr_in in{};
    socklen_t size = sizeof in;
    int accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&in), &size, SOCK_CLOEXEC);
    if (accepted < 0) {
        Fail();
        return kInvalidSocket;
    }
    if (address != nullptr && FromPosix(in, address, length) != 0) {
        ::close(accepted);
        return kInvalidSocket;
    }
    return static_cast<WinSocket>(accepted);
}

int IoctlSocket(WinSocket s, long command, uint32_t* argument) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    if (argument == nullptr)
        return Fail(kWsaEfault);
    if (command == kFionbio) {
        int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0)
            return Fail();
        flags = *argument != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
        return ::fcntl(fd, F_SETFL, flags) == 0 ? 0 : Fail();
    }
    if (command == kFionread) {
        int pending = 0;
        if (::ioctl(fd, FIONREAD, &pending) != 0)
            return Fail();
        *argument = static_cast<uint32_t>(pending);
        return 0;
    }
    return Fail(kWsaEinval);
}

int GetName(WinSocket s, WinSockAddr* address, int* length, bool peer) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    sockaddr_in in{};
    socklen_t size = sizeof in;
    int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&in), &size)
                      : ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &size);
    if (result != 0)
        return Fail();
    return FromPosix(in, address, length);
}

int GetPeerName(WinSocket s, WinSockAddr* address, int* length) {
    return GetName(s, address, length, true);
}
int GetSockName(WinSocket s, WinSockAddr* address, int* length) {
    return GetName(s, address, length, false);
}

int GetSockOpt(WinSocket s, int level, int option, char* value, int* length) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    if (value == nullptr || length == nullptr || *length < static_cast<int>(sizeof(int)))
        return Fail(kWsaEfault);
    int posixLevel, posixOption;
    if (!TranslateOption(level, option, posixLevel, posixOption))
        return Fail(kWsaEnoprotoopt);
    int result = 0;
    socklen_t size = sizeof result;
    if (::getsockopt(fd, posixLevel, posixOption, &result, &size) != 0)
        return Fail();
    if (posixOption == SO_ERROR && result != 0)
        result = WsaFromErrno(result);
    if (posixOption == SO_TYPE)
        result = result == SOCK_STREAM ? kSocketStream : 2;
    std::memcpy(value, &result, sizeof result);
    *length = sizeof result;
    return 0;
}

int SetSockOpt(WinSocket s, int level, int option, const char* value, int length) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    if (level == kSolSocket && option == kSoLinger) {
        if (value == nullptr || length < static_cast<int>(sizeof(WinLinger)))
            return Fail(kWsaEfault);
        WinLinger in;
        std::memcpy(&in, value, sizeof in);
        linger posix{in.l_onoff != 0, in.l_linger};
        return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &posix, sizeof posix) == 0 ? 0 : Fail();
    }
    if (value == nullptr || length < static_cast<int>(sizeof(int)))
        return Fail(kWsaEfault);
    int posixLevel, posixOption;
    if (!TranslateOption(level, option, posixLevel, posixOption) || posixOption == SO_ERROR ||
        posixOption == SO_TYPE)
        return Fail(kWsaEnoprotoopt);
    int setting;
    std::memcpy(&setting, value, sizeof setting);
    return ::setsockopt(fd, posixLevel, posixOption, &setting, sizeof setting) == 0 ? 0 : Fail();
}

uint32_t Htonl(uint32_t value) {
    return htonl(value);
}
uint16_t Htons(uint16_t value) {
    return htons(value);
}
uint32_t Ntohl(uint32_t value) {
    return ntohl(value);
}
uint16_t Ntohs(uint16_t value) {
    return ntohs(value);
}

uint32_t InetAddr(const char* text) {
    if (text == nullptr)
        return INADDR_NONE;
    return ::inet_addr(text);
}

char* InetNtoa(uint32_t address) {
    thread_local char text[INET_ADDRSTRLEN];
    in_addr in{address};
    return const_cast<char*>(::inet_ntop(AF_INET, &in, text, sizeof text));
}

int ClampLength(int length) {
    return std::max(length, 0);
}

int Recv(WinSocket s, char* buffer, int length, int flags) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    int posixFlags = (flags & kMsgPeek) != 0 ? MSG_PEEK : 0;
    ssize_t got = ::recv(fd, buffer, static_cast<size_t>(ClampLength(length)), posixFlags);
    return got < 0 ? Fail() : static_cast<int>(got);
}

int RecvFrom(WinSocket s, char* buffer, int length, int flags, WinSockAddr* from, int* fromLength) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    sockaddr_in in{};
    socklen_t size = sizeof in;
    int posixFlags = (flags & kMsgPeek) != 0 ? MSG_PEEK : 0;
    ssize_t got = ::recvfrom(fd, buffer, static_cast<size_t>(ClampLength(length)), posixFlags,
                             reinterpret_cast<sockaddr*>(&in), &size);
    if (got < 0)
        return Fail();
    if (from != nullptr && FromPosix(in, from, fromLength) != 0)
        return kSocketError;
    return static_cast<int>(got);
}

int Send(WinSocket s, const char* data, int length, int /*flags*/) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    // A peer that went away is an error to report, never a signal that ends the process.
    ssize_t sent = ::send(fd, data, static_cast<size_t>(ClampLength(length)), MSG_NOSIGNAL);
    return sent < 0 ? Fail() : static_cast<int>(sent);
}

int SendTo(WinSocket s, const char* data, int length, int /*flags*/, const WinSockAddr* to, int toLength) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    sockaddr_in in;
    if (!ToPosix(to, toLength, in))
        return Fail(kWsaEfault);
    ssize_t sent = ::sendto(fd, data, static_cast<size_t>(ClampLength(length)), MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr*>(&in), sizeof in);
    return sent < 0 ? Fail() : static_cast<int>(sent);
}

int Shutdown(WinSocket s, int how) {
    int fd;
    if (!Started() || !ToFd(s, fd))
        return kSocketError;
    int posixHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : how == 2 ? SHUT_RDWR : -1;
    if (posixHow < 0)
        return Fail(kWsaEinval);
    return ::shutdown(fd, posixHow) == 0 ? 0 : Fail();
}

// select over poll: each socket of the three sets is polled once; on return every set keeps only
// its ready members and the result counts memberships, as WinSock's does.
int Select(int /*count*/, WinFdSet* readSet, WinFdSet* writeSet, WinFdSet* exceptSet,
           const WinTimeval* timeout) {
    if (!Started())
        return kSocketError;
    WinFdSet* sets[3] = {readSet, writeSet, exceptSet};
    std::vector<pollfd> polled;
    for (WinFdSet* set : sets) {
        if (set == nullptr)
            continue;
        if (set->fd_count > kFdSetSize)
            return Fail(kWsaEinval);
        for (uint32_t i = 0; i < set->fd_count; ++i) {
            int fd;
            if (!ToFd(set->fd_array[i], fd))
                return kSocketError;
            if (std::none_of(polled.begin(), polled.end(), [&](const pollfd& p) { return p.fd == fd; }))
                polled.push_back({fd, 0, 0});
        }
    }
    if (polled.empty())
        return Fail(kWsaEinval); // WinSock refuses a select on no socket at all
    for (pollfd& p : polled) {
        auto in = [&](WinFdSet* set) {
            return set != nullptr && std::find(set->fd_array, set->fd_array + set->fd_count,
                                               static_cast<WinSocket>(p.fd)) != set->fd_array + set->fd_count;
        };
        if (in(readSet))
            p.events |= POLLIN;
        if (in(writeSet))
            p.events |= POLLOUT;
        if (in(exceptSet))
            p.events |= POLLPRI;
    }
    int milliseconds = -1;
    if (timeout != nullptr) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0)
            return Fail(kWsaEinval);
        int64_t ms = int64_t{timeout->tv_sec} * 1000 + (timeout->tv_usec + 999) / 1000;
        milliseconds = static_cast<int>(std::min<int64_t>(ms, INT_MAX));
    }
    int ready;
    do {
        ready = ::poll(polled.data(), polled.size(), milliseconds);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return Fail();

    auto revents = [&](WinSocket s) {
        for (const pollfd& p : polled) {
            if (static_cast<WinSocket>(p.fd) == s)
                return p.revents;
        }
        return short{0};
    };
    int total = 0;
    for (int which = 0; which < 3; ++which) {
        WinFdSet* set = sets[which];
        if (set == nullptr)
            continue;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < set->fd_count; ++i) {
            short r = revents(set->fd_array[i]);
            // A closed or failed connection is readable (recv then reports it); a failed connect
            // shows in the exception set.
            bool isReady = which == 0   ? (r & (POLLIN | POLLHUP | POLLERR)) != 0
                           : which == 1 ? (r & POLLOUT) != 0 && (r & POLLERR) == 0
                                        : (r & (POLLPRI | POLLERR)) != 0;
            if (isReady)
                set->fd_array[kept++] = set->fd_array[i];
        }
        set->fd_count = kept;
        total += static_cast<int>(kept);
    }
    return total;
}

int WsaFdIsSet(WinSocket s, WinFdSet* set) {
    if (set == nullptr)
        return 0;
    uint32_t count = std::min<uint32_t>(set->fd_count, kFdSetSize);
    return std::find(set->fd_array, set->fd_array + count, s) != set->fd_array + count ? 1 : 0;
}

// Host entries live in per-thread storage until the thread's next look-up, as WinSock keeps them.
struct HostStorage {
    WinHostEnt entry;
    std::string name;
    std::vector<uint32_t> addresses;
    std::vector<char*> addressList;
    char* noAliases[1] = {nullptr};
};

WinHostEnt* FillHost(HostStorage& storage, std::string name, std::vector<uint32_t> addresses) {
    storage.name = std::move(name);
    storage.addresses = std::move(addresses);
    storage.addressList.clear();
    for (uint32_t& address : storage.addresses)
        storage.addressList.push_back(reinterpret_cast<char*>(&address));
    storage.addressList.push_back(nullptr);
    storage.entry = {storage.name.data(), storage.noAliases, kAddressFamilyInet, 4,
                     storage.addressList.data()};
    return &storage.entry;
}

int32_t WsaFromResolver(int error) {
    switch (error) {
    case EAI_NONAME:
        return kWsaHostNotFound;
    case EAI_AGAIN:
        return kWsaTryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return kWsaNoData;
#endif
    case EAI_MEMORY:
        return kWsaEnobufs;
    case EAI_SYSTEM:
        return WsaFromErrno(errno);
    default:
        return kWsaNoRecovery;
    }
}

WinHostEnt* GetHostByName(const char* name) {
    if (!Started())
        return nullptr;
    if (name == nullptr) {
        SetLastSocketError(kWsaEfault);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    int error = ::getaddrinfo(name, nullptr, &hints, &found);
    if (error != 0) {
        SetLastSocketError(WsaFromResolver(error));
        return nullptr;
    }
    std::vector<uint32_t> addresses;
    std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : name;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        uint32_t address = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    thread_local HostStorage storage;
    return FillHost(storage, std::move(canonical), std::move(addresses));
}

WinHostEnt* GetHostByAddr(const char* address, int length, int type) {
    if (!Started())
        return nullptr;
    if (address == nullptr || length < 4 || type != kAddressFamilyInet) {
        SetLastSocketError(kWsaEfault);
        return nullptr;
    }
    sockaddr_in in{};
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr.s_addr, address, 4);
    char host[NI_MAXHOST];
    int error = ::getnameinfo(reinterpret_cast<sockaddr*>(&in), sizeof in, host, sizeof host, nullptr, 0,
                              NI_NAMEREQD);
    if (error != 0) {
        SetLastSocketError(WsaFromResolver(error));
        return nullptr;
    }
    thread_local HostStorage storage;
    return FillHost(storage, host, {in.sin_addr.s_addr});
}

int GetHostName(char* name, int length) {
    if (!Started())
        return kSocketError;
    if (name == nullptr || length <= 0)
        return Fail(kWsaEfault);
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return Fail();
    if (std::strlen(host) + 1 > static_cast<size_t>(length))
        return Fail(kWsaEfault);
    std::strcpy(name, host);
    return 0;
}

struct ServiceStorage {
    WinServEnt entry;
    std::string name;
    std::string protocol;
    char* noAliases[1] = {nullptr};
};

WinServEnt* FillService(const servent* found) {
    thread_local ServiceStorage storage;
    if (found == nullptr) {
        SetLastSocketError(kWsaNoData);
        return nullptr;
    }
    storage.name = found->s_name;
    storage.protocol = found->s_proto;
    storage.entry = {storage.name.data(), storage.noAliases, static_cast<int16_t>(found->s_port),
                     storage.protocol.data()};
    return &storage.entry;
}

WinServEnt* GetServByName(const char* name, const char* protocol) {
    if (!Started() || name == nullptr)
        return nullptr;
    servent result, *found = nullptr;
    char buffer[1024];
    ::getservbyname_r(name, protocol, &result, buffer, sizeof buffer, &found);
    return FillService(found);
}

WinServEnt* GetServByPort(int port, const char* protocol) {
    if (!Started())
        return nullptr;
    servent result, *found = nullptr;
    char buffer[1024];
    ::getservbyport_r(port, protocol, &result, buffer, sizeof buffer, &found);
    return FillService(found);
}

struct ProtocolStorage {
    WinProtoEnt entry;
    std::string name;
    char* noAliases[1] = {nullptr};
};

WinProtoEnt* FillProtocol(const protoent* found) {
    thread_local ProtocolStorage storage;
    if (found == nullptr) {
        SetLastSocketError(kWsaNoData);
        return nullptr;
    }
    storage.name = found->p_name;
    storage.entry = {storage.name.data(), storage.noAliases, static_cast<int16_t>(found->p_proto)};
    return &storage.entry;
}

WinProtoEnt* GetProtoByName(const char* name) {
    if (!Started() || name == nullptr)
        return nullptr;
    protoent result, *found = nullptr;
    char buffer[1024];
    ::getprotobyname_r(name, &result, buffer, sizeof buffer, &found);
    return FillProtocol(found);
}

WinProtoEnt* GetProtoByNumber(int number) {
    if (!Started())
        return nullptr;
    protoent result, *found = nullptr;
    char buffer[1024];
    ::getprotobynumber_r(number, &result, buffer, sizeof buffer, &found);
    return FillProtocol(found);
}

struct Export {
    const char* name;
    void* proc;
};

template <typename F>
void* Proc(F function) {
    return reinterpret_cast<void*>(function);
}

const Export kExports[] = {
    {"WSAStartup", Proc<wsa::WSAStartupFn>(WsaStartup)},
    {"accept", Proc<wsa::AcceptFn>(Accept)},
    {"bind", Proc<wsa::BindFn>(Bind)},
    {"closesocket", Proc<wsa::CloseSocketFn>(CloseSocket)},
    {"connect", Proc<wsa::ConnectFn>(Connect)},
    {"ioctlsocket", Proc<wsa::IoctlSocketFn>(IoctlSocket)},
    {"getpeername", Proc<wsa::GetNameFn>(GetPeerName)},
    {"getsockname", Proc<wsa::GetNameFn>(GetSockName)},
    {"getsockopt", Proc<wsa::GetSockOptFn>(GetSockOpt)},
    {"htonl", Proc<wsa::Swap32Fn>(Htonl)},
    {"htons", Proc<wsa::Swap16Fn>(Htons)},
    {"inet_addr", Proc<wsa::InetAddrFn>(InetAddr)},
    {"inet_ntoa", Proc<wsa::InetNtoaFn>(InetNtoa)},
    {"listen", Proc<wsa::ListenFn>(Listen)},
    {"ntohl", Proc<wsa::Swap32Fn>(Ntohl)},
    {"ntohs", Proc<wsa::Swap16Fn>(Ntohs)},
    {"recv", Proc<wsa::RecvFn>(Recv)},
    {"recvfrom", Proc<wsa::RecvFromFn>(RecvFrom)},
    {"select", Proc<wsa::SelectFn>(Select)},
    {"send", Proc<wsa::SendFn>(Send)},
    {"sendto", Proc<wsa::SendToFn>(SendTo)},
    {"setsockopt", Proc<wsa::SetSockOptFn>(SetSockOpt)},
    {"shutdown", Proc<wsa::ShutdownFn>(Shutdown)},
    {"socket", Proc<wsa::SocketFn>(Socket)},
    {"gethostbyaddr", Proc<wsa::GetHostByAddrFn>(GetHostByAddr)},
    {"gethostbyname", Proc<wsa::GetHostByNameFn>(GetHostByName)},
    {"gethostname", Proc<wsa::GetHostNameFn>(GetHostName)},
    {"getservbyport", Proc<wsa::GetServByPortFn>(GetServByPort)},
    {"getservbyname", Proc<wsa::GetServByNameFn>(GetServByName)},
    {"getprotobynumber", Proc<wsa::GetProtoByNumberFn>(GetProtoByNumber)},
    {"getprotobyname", Proc<wsa::GetProtoByNameFn>(GetProtoByName)},
    {"WSACleanup", Proc<wsa::WSACleanupFn>(WsaCleanup)},
    {"WSAIsBlocking", Proc<wsa::WSAIsBlockingFn>(WsaIsBlocking)},
    {"WSAGetLastError", Proc<wsa::WSAGetLastErrorFn>(WsaGetLastError)},
    {"__WSAFDIsSet", Proc<wsa::WSAFDIsSetFn>(WsaFdIsSet)},
};
static_assert(std::size(kExports) == 35);

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

uint64_t GetUnsentBytes(WinSocket s) {
    int fd;
    int unsent = 0;
    if (!ToFd(s, fd) || ::ioctl(fd, TIOCOUTQ, &unsent) != 0 || unsent < 0)
        return 0;
    return static_cast<uint64_t>(unsent);
}

// The one module that stands for the socket libraries.
struct WinModule {
    const char* name;
};

namespace {
WinModule g_socketModule{"ws2_32.dll"};
} // namespace

WinModule* LoadModule(const char* name) {
    // Module names are case-insensitive, as on Windows.
    if (name != nullptr &&
        (EqualsIgnoringCase(name, "ws2_32.dll") || EqualsIgnoringCase(name, "wsock32.dll")))
        return &g_socketModule;
    SetLastError(kErrorModNotFound);
    return nullptr;
}

void* GetModuleProc(WinModule* module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    for (const Export& e : kExports) {
        if (std::strcmp(e.name, name) == 0)
            return e.proc;
    }
    SetLastError(kErrorProcNotFound);
    return nullptr;
}

void FreeWinModule(WinModule* /*module*/) {}

} // namespace platform
