#include "platform/last_error.h"
#include "platform/winsock.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <type_traits>

namespace platform {

// The network layer hands our structures straight to the system's entry points, so each must be
// the system's own, byte for byte.
static_assert(sizeof(WinSocket) == sizeof(SOCKET) && kInvalidSocket == INVALID_SOCKET);
static_assert(kSocketError == SOCKET_ERROR && kFdSetSize == FD_SETSIZE);
static_assert(kAddressFamilyInet == AF_INET && kSocketStream == SOCK_STREAM);
static_assert(kFionbio == static_cast<long>(FIONBIO) && kFionread == static_cast<long>(FIONREAD));
static_assert(kSolSocket == SOL_SOCKET && kSoError == SO_ERROR && kSoReuseAddr == SO_REUSEADDR &&
              kSoKeepAlive == SO_KEEPALIVE && kSoLinger == SO_LINGER && kSoSndBuf == SO_SNDBUF &&
              kSoRcvBuf == SO_RCVBUF && kSoType == SO_TYPE);
static_assert(kIpProtoTcp == IPPROTO_TCP && kTcpNoDelay == TCP_NODELAY && kMsgPeek == MSG_PEEK);
static_assert(kWsaEwouldblock == WSAEWOULDBLOCK && kWsaEconnrefused == WSAECONNREFUSED &&
              kWsaEconnreset == WSAECONNRESET && kWsaNotinitialised == WSANOTINITIALISED &&
              kWsaVernotsupported == WSAVERNOTSUPPORTED && kWsaHostNotFound == WSAHOST_NOT_FOUND &&
              kWsaNoData == WSANO_DATA && kWsaEdiscon == WSAEDISCON && kWsaEtimedout == WSAETIMEDOUT);

#define PX_SAME_LAYOUT(ours, theirs, ...)                                                         \
    static_assert(sizeof(ours) == sizeof(theirs) && alignof(ours) == alignof(theirs), #ours)
#define PX_SAME_OFFSET(ours, field, theirs, theirField)                                           \
    static_assert(offsetof(ours, field) == offsetof(theirs, theirField) &&                         \
                      sizeof(ours::field) == sizeof(theirs::theirField),                           \
                  #ours "::" #field)

PX_SAME_LAYOUT(WinSockAddrIn, sockaddr_in);
PX_SAME_OFFSET(WinSockAddrIn, sin_family, sockaddr_in, sin_family);
PX_SAME_OFFSET(WinSockAddrIn, sin_port, sockaddr_in, sin_port);
PX_SAME_OFFSET(WinSockAddrIn, sin_addr, sockaddr_in, sin_addr);
PX_SAME_OFFSET(WinSockAddrIn, sin_zero, sockaddr_in, sin_zero);
PX_SAME_LAYOUT(WinSockAddr, sockaddr);
PX_SAME_OFFSET(WinSockAddr, sa_family, sockaddr, sa_family);
PX_SAME_OFFSET(WinSockAddr, sa_data, sockaddr, sa_data);
PX_SAME_LAYOUT(WinFdSet, fd_set);
PX_SAME_OFFSET(WinFdSet, fd_count, fd_set, fd_count);
PX_SAME_OFFSET(WinFdSet, fd_array, fd_set, fd_array);
PX_SAME_LAYOUT(WinTimeval, timeval);
PX_SAME_OFFSET(WinTimeval, tv_sec, timeval, tv_sec);
PX_SAME_OFFSET(WinTimeval, tv_usec, timeval, tv_usec);
PX_SAME_LAYOUT(WinHostEnt, hostent);
PX_SAME_OFFSET(WinHostEnt, h_name, hostent, h_name);
PX_SAME_OFFSET(WinHostEnt, h_aliases, hostent, h_aliases);
PX_SAME_OFFSET(WinHostEnt, h_addrtype, hostent, h_addrtype);
PX_SAME_OFFSET(WinHostEnt, h_length, hostent, h_length);
PX_SAME_OFFSET(WinHostEnt, h_addr_list, hostent, h_addr_list);
PX_SAME_LAYOUT(WinServEnt, servent);
PX_SAME_OFFSET(WinServEnt, s_name, servent, s_name);
PX_SAME_OFFSET(WinServEnt, s_aliases, servent, s_aliases);
PX_SAME_OFFSET(WinServEnt, s_port, servent, s_port);
PX_SAME_OFFSET(WinServEnt, s_proto, servent, s_proto);
PX_SAME_LAYOUT(WinProtoEnt, protoent);
PX_SAME_OFFSET(WinProtoEnt, p_name, protoent, p_name);
PX_SAME_OFFSET(WinProtoEnt, p_aliases, protoent, p_aliases);
PX_SAME_OFFSET(WinProtoEnt, p_proto, protoent, p_proto);
PX_SAME_LAYOUT(WinWsaData, WSADATA);
PX_SAME_OFFSET(WinWsaData, wVersion, WSADATA, wVersion);
PX_SAME_OFFSET(WinWsaData, wHighVersion, WSADATA, wHighVersion);
PX_SAME_OFFSET(WinWsaData, szDescription, WSADATA, szDescription);
PX_SAME_OFFSET(WinWsaData, szSystemStatus, WSADATA, szSystemStatus);
PX_SAME_OFFSET(WinWsaData, iMaxSockets, WSADATA, iMaxSockets);
PX_SAME_OFFSET(WinWsaData, iMaxUdpDg, WSADATA, iMaxUdpDg);
PX_SAME_OFFSET(WinWsaData, lpVendorInfo, WSADATA, lpVendorInfo);
PX_SAME_LAYOUT(WinLinger, linger);
PX_SAME_OFFSET(WinLinger, l_onoff, linger, l_onoff);
PX_SAME_OFFSET(WinLinger, l_linger, linger, l_linger);

#undef PX_SAME_LAYOUT
#undef PX_SAME_OFFSET

// Our entry-point types must be the system's own: same arguments, same result, same convention
// (__stdcall on 32 bits, which a default pointer would get wrong). The system's declarations are
// matched with our structures in their places.
namespace {
template <typename Ours, typename Theirs>
constexpr bool kSameCall = std::is_same_v<Ours, Theirs>;

using SystemStartup = int(WSAAPI*)(uint16_t, WinWsaData*);
static_assert(kSameCall<wsa::WSAStartupFn, SystemStartup>);
static_assert(kSameCall<wsa::WSACleanupFn, decltype(&::WSACleanup)>);
static_assert(kSameCall<wsa::WSAGetLastErrorFn, decltype(&::WSAGetLastError)>);
static_assert(kSameCall<wsa::CloseSocketFn, decltype(&::closesocket)>);
static_assert(kSameCall<wsa::ListenFn, decltype(&::listen)>);
static_assert(kSameCall<wsa::ShutdownFn, decltype(&::shutdown)>);
static_assert(kSameCall<wsa::SocketFn, decltype(&::socket)>);
static_assert(kSameCall<wsa::RecvFn, decltype(&::recv)>);
static_assert(kSameCall<wsa::SendFn, decltype(&::send)>);
static_assert(kSameCall<wsa::GetSockOptFn, decltype(&::getsockopt)>);
static_assert(kSameCall<wsa::SetSockOptFn, decltype(&::setsockopt)>);
static_assert(kSameCall<wsa::GetHostByNameFn, WinHostEnt*(WSAAPI*)(const char*)>);
static_assert(kSameCall<wsa::GetHostNameFn, decltype(&::gethostname)>);
static_assert(kSameCall<wsa::WSAIsBlockingFn, int(WSAAPI*)()>);
static_assert(kSameCall<wsa::InetAddrFn, uint32_t(WSAAPI*)(const char*)>);
static_assert(kSameCall<wsa::Swap16Fn, decltype(&::htons)>);
static_assert(kSameCall<wsa::Swap32Fn, uint32_t(WSAAPI*)(uint32_t)>);
} // namespace

// A module handle is the HMODULE itself.
WinModule* LoadModule(const char* name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HMODULE module = ::LoadLibraryA(name);
    if (module == nullptr) {
        // Callers read the failure through our own last error, as on every system.
        SetLastError(::GetLastError());
        return nullptr;
    }
    return reinterpret_cast<WinModule*>(module);
}

void* GetModuleProc(WinModule* module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    FARPROC proc = ::GetProcAddress(reinterpret_cast<HMODULE>(module), name);
    if (proc == nullptr) {
        SetLastError(::GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(proc);
}

void FreeWinModule(WinModule* module) {
    if (module != nullptr)
        ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

// Windows tells the bytes sent but not yet acknowledged through kSioTcpInfo, from Windows 10
// version 1703 on; older systems (and Wine) refuse the request, and then nothing counts as unsent.
// What still waits in the socket's send buffer before going out is not part of that count, unlike
// Linux's, but a send returns on Windows once the stack has taken the data, so little waits there.
// WSAIoctl is looked up in the socket library the network layer has loaded, so that this layer
// does not tie the program to it.
namespace {

// SIO_TCP_INFO's request and answer (version 0), which the system headers declare only when built
// for that Windows version and newer; the program itself must start on older ones.
constexpr DWORD kSioTcpInfo = IOC_INOUT | IOC_VENDOR | 39;

struct TcpInfoV0 {
    int32_t state;
    ULONG mss;
    ULONG64 connectionTimeMs;
    BOOLEAN timestampsEnabled;
    ULONG rttUs;
    ULONG minRttUs;
    ULONG bytesInFlight;
    ULONG cwnd;
    ULONG sndWnd;
    ULONG rcvWnd;
    ULONG rcvBuf;
    ULONG64 bytesOut;
    ULONG64 bytesIn;
    ULONG bytesReordered;
    ULONG bytesRetrans;
    ULONG fastRetrans;
    ULONG dupAcksIn;
    ULONG timeoutEpisodes;
    UCHAR synRetrans;
};
static_assert(offsetof(TcpInfoV0, bytesInFlight) == 28 && sizeof(TcpInfoV0) == 88);

} // namespace

uint64_t GetUnsentBytes(WinSocket s) {
    using WsaIoctlFn = int(WSAAPI*)(SOCKET, DWORD, void*, DWORD, void*, DWORD, DWORD*, WSAOVERLAPPED*,
                                    LPWSAOVERLAPPED_COMPLETION_ROUTINE);
    HMODULE library = ::GetModuleHandleA("ws2_32.dll");
    if (library == nullptr || s == kInvalidSocket)
        return 0;
    auto ioctl = reinterpret_cast<WsaIoctlFn>(reinterpret_cast<void*>(::GetProcAddress(library, "WSAIoctl")));
    if (ioctl == nullptr)
        return 0;
    // The request fails on older systems with their own socket error; the caller's must survive it.
    int savedError = ::WSAGetLastError();
    DWORD version = 0;
    TcpInfoV0 info{};
    DWORD returned = 0;
    int result = ioctl(static_cast<SOCKET>(s), kSioTcpInfo, &version, sizeof version, &info, sizeof info,
                       &returned, nullptr, nullptr);
    ::WSASetLastError(savedError);
    if (result != 0 || returned < offsetof(TcpInfoV0, bytesInFlight) + sizeof info.bytesInFlight)
        return 0;
    return info.bytesInFlight;
}

} // namespace platform
