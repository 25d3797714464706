// The socket library, loaded at run time by name: its 35 entry points, looked up once by the first
// user and shared by the process until the last user releases it. The last release also drops the
// WinSock error catalogue, whose texts only matter while sockets exist.
//
// Threads: Acquire and Release may be called from any thread; the first acquisition happens before
// any thread uses sockets, and later pairs only move the count between values above 0. Get() is
// read without a lock while the library is held.
#pragma once

#include "platform/winsock.h"

class CWinSockLibrary {
public:
    // Loads the library on the first call; raises CNetworkUnavailableException when it cannot be
    // loaded, lacks an entry point, or refuses version 1.1.
    static void Acquire();
    static void Release();

    // The entry points; valid between Acquire and the matching Release.
    static const CWinSockLibrary& Get();

    platform::wsa::WSAStartupFn WSAStartup = nullptr;
    platform::wsa::AcceptFn accept = nullptr;
    platform::wsa::BindFn bind = nullptr;
    platform::wsa::CloseSocketFn closesocket = nullptr;
    platform::wsa::ConnectFn connect = nullptr;
    platform::wsa::IoctlSocketFn ioctlsocket = nullptr;
    platform::wsa::GetNameFn getpeername = nullptr;
    platform::wsa::GetNameFn getsockname = nullptr;
    platform::wsa::GetSockOptFn getsockopt = nullptr;
    platform::wsa::Swap32Fn htonl = nullptr;
    platform::wsa::Swap16Fn htons = nullptr;
    platform::wsa::InetAddrFn inet_addr = nullptr;
    platform::wsa::InetNtoaFn inet_ntoa = nullptr;
    platform::wsa::ListenFn listen = nullptr;
    platform::wsa::Swap32Fn ntohl = nullptr;
    platform::wsa::Swap16Fn ntohs = nullptr;
    platform::wsa::RecvFn recv = nullptr;
    platform::wsa::RecvFromFn recvfrom = nullptr;
    platform::wsa::SelectFn select = nullptr;
    platform::wsa::SendFn send = nullptr;
    platform::wsa::SendToFn sendto = nullptr;
    platform::wsa::SetSockOptFn setsockopt = nullptr;
    platform::wsa::ShutdownFn shutdown = nullptr;
    platform::wsa::SocketFn socket = nullptr;
    platform::wsa::GetHostByAddrFn gethostbyaddr = nullptr;
    platform::wsa::GetHostByNameFn gethostbyname = nullptr;
    platform::wsa::GetHostNameFn gethostname = nullptr;
    platform::wsa::GetServByPortFn getservbyport = nullptr;
    platform::wsa::GetServByNameFn getservbyname = nullptr;
    platform::wsa::GetProtoByNumberFn getprotobynumber = nullptr;
    platform::wsa::GetProtoByNameFn getprotobyname = nullptr;
    platform::wsa::WSACleanupFn WSACleanup = nullptr;
    platform::wsa::WSAIsBlockingFn WSAIsBlocking = nullptr;
    platform::wsa::WSAGetLastErrorFn WSAGetLastError = nullptr;
    platform::wsa::WSAFDIsSetFn WSAFDIsSet = nullptr;

private:
    // Loads one module and fills the table from it; raises on any failure.
    void Load(const char* moduleName);
    void Unload();

    platform::WinModule* m_module = nullptr;
};

// Holds the socket library for its lifetime: the control's WinSock start-up object.
class CWinSockUser {
public:
    CWinSockUser() { CWinSockLibrary::Acquire(); }
    ~CWinSockUser() { CWinSockLibrary::Release(); }
    CWinSockUser(const CWinSockUser&) = delete;
    CWinSockUser& operator=(const CWinSockUser&) = delete;
};
