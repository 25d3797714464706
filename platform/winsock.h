// The WinSock 1.1 interface as the network layer loads it at run time: a module found by name, and
// its entry points found by name. On Linux both "ws2_32.dll" and "wsock32.dll" name one module whose
// 35 entry points are implemented over POSIX sockets, with errors reported as WinSock numbers through
// the thread's last socket error and readiness computed with poll (no limit on descriptor values).
// On Windows the names load the system's own libraries, whose entry points take these structures
// as they are (their layouts are checked against the system's at compile time).
#pragma once

#include "platform/calling_convention.h"

#include <cstddef>
#include <cstdint>

namespace platform {

using WinSocket = uintptr_t;
constexpr WinSocket kInvalidSocket = ~WinSocket(0);
constexpr int kSocketError = -1;

constexpr uint16_t kAddressFamilyInet = 2; // AF_INET
constexpr int kSocketStream = 1;           // SOCK_STREAM
constexpr long kFionbio = static_cast<long>(0x8004667EU);
constexpr long kFionread = 0x4004667F;
constexpr int kSolSocket = 0xFFFF;
constexpr int kSoError = 0x1007;
constexpr int kSoReuseAddr = 0x0004;
constexpr int kSoKeepAlive = 0x0008;
constexpr int kSoLinger = 0x0080;
constexpr int kSoSndBuf = 0x1001;
constexpr int kSoRcvBuf = 0x1002;
constexpr int kSoType = 0x1008;
constexpr int kIpProtoTcp = 6;
constexpr int kTcpNoDelay = 1;
constexpr int kMsgPeek = 2;
constexpr int kFdSetSize = 64;

// WinSock error numbers.
enum WinSockError : int32_t {
    kWsaEintr = 10004,
    kWsaEbadf = 10009,
    kWsaEacces = 10013,
    kWsaEfault = 10014,
    kWsaEinval = 10022,
    kWsaEmfile = 10024,
    kWsaEwouldblock = 10035,
    kWsaEinprogress = 10036,
    kWsaEalready = 10037,
    kWsaEnotsock = 10038,
    kWsaEdestaddrreq = 10039,
    kWsaEmsgsize = 10040,
    kWsaEprototype = 10041,
    kWsaEnoprotoopt = 10042,
    kWsaEprotonosupport = 10043,
    kWsaEsocktnosupport = 10044,
    kWsaEopnotsupp = 10045,
    kWsaEpfnosupport = 10046,
    kWsaEafnosupport = 10047,
    kWsaEaddrinuse = 10048,
    kWsaEaddrnotavail = 10049,
    kWsaEnetdown = 10050,
    kWsaEnetunreach = 10051,
    kWsaEnetreset = 10052,
    kWsaEconnaborted = 10053,
    kWsaEconnreset = 10054,
    kWsaEnobufs = 10055,
    kWsaEisconn = 10056,
    kWsaEnotconn = 10057,
    kWsaEshutdown = 10058,
    kWsaEtoomanyrefs = 10059,
    kWsaEtimedout = 10060,
    kWsaEconnrefused = 10061,
    kWsaEloop = 10062,
    kWsaEnametoolong = 10063,
    kWsaEhostdown = 10064,
    kWsaEhostunreach = 10065,
    kWsaEnotempty = 10066,
    kWsaEproclim = 10067,
    kWsaEusers = 10068,
    kWsaEdquot = 10069,
    kWsaEstale = 10070,
    kWsaEremote = 10071,
    kWsaSysnotready = 10091,
    kWsaVernotsupported = 10092,
    kWsaNotinitialised = 10093,
    kWsaEdiscon = 10101,
    kWsaHostNotFound = 11001,
    kWsaTryAgain = 11002,
    kWsaNoRecovery = 11003,
    kWsaNoData = 11004,
};

// The 16-byte IPv4 socket address: family, port in network order, four address bytes, eight zeros.
struct WinSockAddrIn {
    int16_t sin_family;
    uint16_t sin_port;
    uint32_t sin_addr; // network order
    char sin_zero[8];
};

struct WinSockAddr {
    uint16_t sa_family;
    char sa_data[14];
};

// A set of at most 64 sockets, as WinSock's select takes them (a count and an array, not a bitmap).
struct WinFdSet {
    uint32_t fd_count;
    WinSocket fd_array[kFdSetSize];
};

struct WinTimeval {
    int32_t tv_sec;
    int32_t tv_usec;
};

struct WinHostEnt {
    char* h_name;
    char** h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    char** h_addr_list;
};

struct WinServEnt {
    char* s_name;
    char** s_aliases;
    int16_t s_port;
    char* s_proto;
};

struct WinProtoEnt {
    char* p_name;
    char** p_aliases;
    int16_t p_proto;
};

struct WinWsaData {
    uint16_t wVersion;
    uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    uint16_t iMaxSockets;
    uint16_t iMaxUdpDg;
    char* lpVendorInfo;
};

struct WinLinger {
    uint16_t l_onoff;
    uint16_t l_linger;
};

// The structures above are handed to code written against WinSock, so each keeps the layout of its
// WinSock 1.1 counterpart. What does not depend on the size of a pointer holds everywhere; the rest
// is checked where pointers are 32 bits wide, as on the Windows build.
static_assert(sizeof(WinSockAddrIn) == 16 && offsetof(WinSockAddrIn, sin_port) == 2 &&
              offsetof(WinSockAddrIn, sin_addr) == 4 && sizeof(WinSockAddrIn::sin_addr) == 4 &&
              offsetof(WinSockAddrIn, sin_zero) == 8);
static_assert(sizeof(WinSockAddr) == 16 && offsetof(WinSockAddr, sa_data) == 2);
static_assert(sizeof(WinTimeval) == 8 && offsetof(WinTimeval, tv_usec) == 4);
static_assert(sizeof(WinLinger) == 4 && offsetof(WinLinger, l_linger) == 2);
static_assert(offsetof(WinWsaData, wHighVersion) == 2 && offsetof(WinWsaData, szDescription) == 4 &&
              offsetof(WinWsaData, szSystemStatus) == 261 && offsetof(WinWsaData, iMaxSockets) == 390 &&
              offsetof(WinWsaData, iMaxUdpDg) == 392);
static_assert(offsetof(WinHostEnt, h_addrtype) == 2 * sizeof(char*) &&
              offsetof(WinHostEnt, h_length) == 2 * sizeof(char*) + 2 &&
              offsetof(WinHostEnt, h_addr_list) == 3 * sizeof(char*));
static_assert(offsetof(WinServEnt, s_port) == 2 * sizeof(char*) &&
              offsetof(WinServEnt, s_proto) == 3 * sizeof(char*));
static_assert(offsetof(WinProtoEnt, p_proto) == 2 * sizeof(char*));
static_assert(offsetof(WinFdSet, fd_array) == sizeof(WinSocket) &&
              sizeof(WinFdSet) == sizeof(WinSocket) * (kFdSetSize + 1));
#if UINTPTR_MAX == 0xffffffff
static_assert(sizeof(WinSocket) == 4);
static_assert(sizeof(WinFdSet) == 260 && offsetof(WinFdSet, fd_array) == 4);
static_assert(sizeof(WinHostEnt) == 16 && offsetof(WinHostEnt, h_addrtype) == 8 &&
              offsetof(WinHostEnt, h_length) == 10 && offsetof(WinHostEnt, h_addr_list) == 12);
static_assert(sizeof(WinServEnt) == 16 && offsetof(WinServEnt, s_port) == 8 &&
              offsetof(WinServEnt, s_proto) == 12);
static_assert(sizeof(WinProtoEnt) == 12 && offsetof(WinProtoEnt, p_proto) == 8);
static_assert(sizeof(WinWsaData) == 400 && offsetof(WinWsaData, lpVendorInfo) == 396);
#endif

// An opaque module handle, as LoadLibrary returns it.
struct WinModule;

// Loads a module by file name; null (with the thread's last error set) when there is none.
WinModule* LoadModule(const char* name);
// An entry point of a loaded module by name, or null.
void* GetModuleProc(WinModule* module, const char* name);
void FreeWinModule(WinModule* module);

// Bytes written to a connected stream socket that the system still holds because the peer has not
// yet acknowledged them, so that progress can count what reached the other side rather than what
// went into a send buffer that may hold megabytes. 0 where the system does not tell. Windows tells
// only the bytes in flight (SIO_TCP_INFO, Windows 10 1703 and newer; not Wine), not what still waits
// in the socket's buffer.
uint64_t GetUnsentBytes(WinSocket s);

} // namespace platform

namespace platform {

// Signatures of the 35 entry points, as the network layer calls them through its table.
namespace wsa {
using WSAStartupFn = int(PX_SYSTEM_CALL*)(uint16_t version, WinWsaData* data);
using AcceptFn = WinSocket(PX_SYSTEM_CALL*)(WinSocket s, WinSockAddr* address, int* length);
using BindFn = int(PX_SYSTEM_CALL*)(WinSocket s, const WinSockAddr* address, int length);
using CloseSocketFn = int(PX_SYSTEM_CALL*)(WinSocket s);
using ConnectFn = int(PX_SYSTEM_CALL*)(WinSocket s, const WinSockAddr* address, int length);
using IoctlSocketFn = int(PX_SYSTEM_CALL*)(WinSocket s, long command, uint32_t* argument);
using GetNameFn = int(PX_SYSTEM_CALL*)(WinSocket s, WinSockAddr* address, int* length);
using GetSockOptFn = int(PX_SYSTEM_CALL*)(WinSocket s, int level, int option, char* value, int* length);
using Swap32Fn = uint32_t(PX_SYSTEM_CALL*)(uint32_t value);
using Swap16Fn = uint16_t(PX_SYSTEM_CALL*)(uint16_t value);
using InetAddrFn = uint32_t(PX_SYSTEM_CALL*)(const char* text);
using InetNtoaFn = char*(PX_SYSTEM_CALL*)(uint32_t address);
using ListenFn = int(PX_SYSTEM_CALL*)(WinSocket s, int backlog);
using RecvFn = int(PX_SYSTEM_CALL*)(WinSocket s, char* buffer, int length, int flags);
using RecvFromFn = int(PX_SYSTEM_CALL*)(WinSocket s, char* buffer, int length, int flags, WinSockAddr* from,
                                        int* fromLength);
using SelectFn = int(PX_SYSTEM_CALL*)(int count, WinFdSet* read, WinFdSet* write, WinFdSet* except,
                                      const WinTimeval* timeout);
using SendFn = int(PX_SYSTEM_CALL*)(WinSocket s, const char* data, int length, int flags);
using SendToFn = int(PX_SYSTEM_CALL*)(WinSocket s, const char* data, int length, int flags,
                                      const WinSockAddr* to, int toLength);
using SetSockOptFn = int(PX_SYSTEM_CALL*)(WinSocket s, int level, int option, const char* value, int length);
using ShutdownFn = int(PX_SYSTEM_CALL*)(WinSocket s, int how);
using SocketFn = WinSocket(PX_SYSTEM_CALL*)(int family, int type, int protocol);
using GetHostByAddrFn = WinHostEnt*(PX_SYSTEM_CALL*)(const char* address, int length, int type);
using GetHostByNameFn = WinHostEnt*(PX_SYSTEM_CALL*)(const char* name);
using GetHostNameFn = int(PX_SYSTEM_CALL*)(char* name, int length);
using GetServByPortFn = WinServEnt*(PX_SYSTEM_CALL*)(int port, const char* protocol);
using GetServByNameFn = WinServEnt*(PX_SYSTEM_CALL*)(const char* name, const char* protocol);
using GetProtoByNumberFn = WinProtoEnt*(PX_SYSTEM_CALL*)(int number);
using GetProtoByNameFn = WinProtoEnt*(PX_SYSTEM_CALL*)(const char* name);
using WSACleanupFn = int(PX_SYSTEM_CALL*)();
using WSAIsBlockingFn = int(PX_SYSTEM_CALL*)();
using WSAGetLastErrorFn = int(PX_SYSTEM_CALL*)();
using WSAFDIsSetFn = int(PX_SYSTEM_CALL*)(WinSocket s, WinFdSet* set);
} // namespace wsa

} // namespace platform
