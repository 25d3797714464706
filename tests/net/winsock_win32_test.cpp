// The real WinSock library as the network layer loads it: found by name, its entry points called
// through our own types and structures. A wrong layout or calling convention shows here as wrong
// values, a crash, or a stack that drifts over many calls.
#include "platform/last_error.h"
#include "platform/system_message.h"
#include "platform/winsock.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// The entry points the tests call, found the way the network layer finds them.
struct Library {
    WinModule* module = nullptr;
    wsa::WSAStartupFn startup = nullptr;
    wsa::WSACleanupFn cleanup = nullptr;
    wsa::WSAGetLastErrorFn lastError = nullptr;
    wsa::SocketFn socket = nullptr;
    wsa::CloseSocketFn closesocket = nullptr;
    wsa::BindFn bind = nullptr;
    wsa::ListenFn listen = nullptr;
    wsa::AcceptFn accept = nullptr;
    wsa::ConnectFn connect = nullptr;
    wsa::GetNameFn getsockname = nullptr;
    wsa::GetNameFn getpeername = nullptr;
    wsa::SendFn send = nullptr;
    wsa::RecvFn recv = nullptr;
    wsa::SelectFn select = nullptr;
    wsa::WSAFDIsSetFn isSet = nullptr;
    wsa::IoctlSocketFn ioctlsocket = nullptr;
    wsa::SetSockOptFn setsockopt = nullptr;
    wsa::GetSockOptFn getsockopt = nullptr;
    wsa::Swap16Fn htons = nullptr;
    wsa::Swap16Fn ntohs = nullptr;
    wsa::Swap32Fn htonl = nullptr;
    wsa::Swap32Fn ntohl = nullptr;
    wsa::InetAddrFn inetAddr = nullptr;
    wsa::InetNtoaFn inetNtoa = nullptr;
    wsa::GetHostByNameFn gethostbyname = nullptr;
    wsa::GetServByNameFn getservbyname = nullptr;
    wsa::GetProtoByNameFn getprotobyname = nullptr;

    explicit Library(const char* name) {
        module = LoadModule(name);
        if (module == nullptr)
            return;
        Find("WSAStartup", startup);
        Find("WSACleanup", cleanup);
        Find("WSAGetLastError", lastError);
        Find("socket", socket);
        Find("closesocket", closesocket);
        Find("bind", bind);
        Find("listen", listen);
        Find("accept", accept);
        Find("connect", connect);
        Find("getsockname", getsockname);
        Find("getpeername", getpeername);
        Find("send", send);
        Find("recv", recv);
        Find("select", select);
        Find("__WSAFDIsSet", isSet);
        Find("ioctlsocket", ioctlsocket);
        Find("setsockopt", setsockopt);
        Find("getsockopt", getsockopt);
        Find("htons", htons);
        Find("ntohs", ntohs);
        Find("htonl", htonl);
        Find("ntohl", ntohl);
        Find("inet_addr", inetAddr);
        Find("inet_ntoa", inetNtoa);
        Find("gethostbyname", gethostbyname);
        Find("getservbyname", getservbyname);
        Find("getprotobyname", getprotobyname);
    }
    ~Library() { FreeWinModule(module); }

    template <typename F>
    void Find(const char* name, F& slot) {
        slot = reinterpret_cast<F>(GetModuleProc(module, name));
        EXPECT_NE(slot, nullptr) << name;
    }
};

// A started library with a listener on 127.0.0.1 and a connection to it.
class WinSock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(lib.module, nullptr);
        WinWsaData data;
        std::memset(&data, 0x5a, sizeof data);
        ASSERT_EQ(lib.startup(0x0101, &data), 0);
        started = true;
        wsaData = data;
    }
    void TearDown() override {
        for (WinSocket s : sockets)
            lib.closesocket(s);
        if (started)
            lib.cleanup();
    }

    WinSocket Open() {
        WinSocket s = lib.socket(kAddressFamilyInet, kSocketStream, 0);
        EXPECT_NE(s, kInvalidSocket);
        sockets.push_back(s);
        return s;
    }

    WinSockAddrIn Loopback(uint16_t port) {
        WinSockAddrIn address{};
        address.sin_family = kAddressFamilyInet;
        address.sin_port = lib.htons(port);
        address.sin_addr = lib.inetAddr("127.0.0.1");
        return address;
    }

    // A connected pair: the client end and the accepted end.
    void Connect(WinSocket& client, WinSocket& served) {
        WinSocket listener = Open();
        WinSockAddrIn address = Loopback(0);
        ASSERT_EQ(lib.bind(listener, reinterpret_cast<WinSockAddr*>(&address), sizeof address), 0);
        ASSERT_EQ(lib.listen(listener, 4), 0);
        int length = sizeof address;
        ASSERT_EQ(lib.getsockname(listener, reinterpret_cast<WinSockAddr*>(&address), &length), 0);
        ASSERT_EQ(length, static_cast<int>(sizeof address));
        ASSERT_NE(address.sin_port, 0);
        client = Open();
        ASSERT_EQ(lib.connect(client, reinterpret_cast<WinSockAddr*>(&address), sizeof address), 0);
        WinSockAddrIn peer{};
        length = sizeof peer;
        served = lib.accept(listener, reinterpret_cast<WinSockAddr*>(&peer), &length);
        ASSERT_NE(served, kInvalidSocket);
        sockets.push_back(served);
        EXPECT_EQ(peer.sin_family, kAddressFamilyInet);
        EXPECT_EQ(peer.sin_addr, lib.inetAddr("127.0.0.1"));
    }

    Library lib{"ws2_32.dll"};
    bool started = false;
    WinWsaData wsaData{};
    std::vector<WinSocket> sockets;
};

TEST(WinSockModule, LoadsBothLibrariesByNameAndReportsWhatIsMissing) {
    for (const char* name : {"ws2_32.dll", "WSOCK32.DLL"}) {
        WinModule* module = LoadModule(name);
        ASSERT_NE(module, nullptr) << name;
        EXPECT_NE(GetModuleProc(module, "WSAStartup"), nullptr) << name;
        platform::SetLastError(0);
        EXPECT_EQ(GetModuleProc(module, "NoSuchEntryPoint"), nullptr);
        EXPECT_EQ(platform::GetLastError(), kErrorProcNotFound);
        FreeWinModule(module);
    }
    platform::SetLastError(0);
    EXPECT_EQ(LoadModule("px_no_such_library.dll"), nullptr);
    EXPECT_EQ(platform::GetLastError(), kErrorModNotFound);
    EXPECT_EQ(GetModuleProc(nullptr, "WSAStartup"), nullptr);
    FreeWinModule(nullptr); // nothing to free
}

TEST_F(WinSock, StartupFillsTheVersionRecord) {
    EXPECT_EQ(wsaData.wVersion, 0x0101);
    EXPECT_GE(wsaData.wHighVersion, 0x0101);
    // The texts end inside their fields: a shifted layout would run one into the next.
    EXPECT_NE(std::memchr(wsaData.szDescription, '\0', sizeof wsaData.szDescription), nullptr);
    EXPECT_NE(std::memchr(wsaData.szSystemStatus, '\0', sizeof wsaData.szSystemStatus), nullptr);
    EXPECT_GT(std::strlen(wsaData.szDescription), 0u);
}

TEST_F(WinSock, SocketsConnectSendAndReceiveThroughOurStructures) {
    WinSocket client, served;
    ASSERT_NO_FATAL_FAILURE(Connect(client, served));
    WinSockAddrIn peer{};
    int length = sizeof peer;
    ASSERT_EQ(lib.getpeername(client, reinterpret_cast<WinSockAddr*>(&peer), &length), 0);
    EXPECT_EQ(std::string(lib.inetNtoa(peer.sin_addr)), "127.0.0.1");

    const char text[] = "through the table";
    ASSERT_EQ(lib.send(client, text, sizeof text, 0), static_cast<int>(sizeof text));

    // select takes our set and timeout, and keeps only the ready member.
    WinFdSet readable{};
    readable.fd_count = 2;
    readable.fd_array[0] = client;
    readable.fd_array[1] = served;
    WinTimeval timeout{5, 0};
    ASSERT_EQ(lib.select(0, &readable, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(readable.fd_count, 1u);
    EXPECT_TRUE(lib.isSet(served, &readable));
    EXPECT_FALSE(lib.isSet(client, &readable));

    uint32_t pending = 0;
    ASSERT_EQ(lib.ioctlsocket(served, kFionread, &pending), 0);
    EXPECT_EQ(pending, sizeof text);
    char got[64] = {};
    ASSERT_EQ(lib.recv(served, got, sizeof got, 0), static_cast<int>(sizeof text));
    EXPECT_STREQ(got, text);

    // Nothing more to read: a non-blocking receive says so with the WinSock number.
    uint32_t on = 1;
    ASSERT_EQ(lib.ioctlsocket(served, kFionbio, &on), 0);
    EXPECT_EQ(lib.recv(served, got, sizeof got, 0), kSocketError);
    EXPECT_EQ(lib.lastError(), kWsaEwouldblock);
}

TEST_F(WinSock, OptionsTakeOurLingerAndNumbers) {
    WinSocket s = Open();
    WinLinger linger{1, 7};
    ASSERT_EQ(lib.setsockopt(s, kSolSocket, kSoLinger, reinterpret_cast<char*>(&linger), sizeof linger), 0);
    WinLinger back{0, 0};
    int length = sizeof back;
    ASSERT_EQ(lib.getsockopt(s, kSolSocket, kSoLinger, reinterpret_cast<char*>(&back), &length), 0);
    EXPECT_EQ(back.l_onoff != 0, true);
    EXPECT_EQ(back.l_linger, 7);

    int type = 0;
    length = sizeof type;
    ASSERT_EQ(lib.getsockopt(s, kSolSocket, kSoType, reinterpret_cast<char*>(&type), &length), 0);
    EXPECT_EQ(type, kSocketStream);
    int noDelay = 1;
    EXPECT_EQ(lib.setsockopt(s, kIpProtoTcp, kTcpNoDelay, reinterpret_cast<char*>(&noDelay), sizeof noDelay), 0);
}

TEST_F(WinSock, DatabaseEntriesReadThroughOurLayouts) {
    WinHostEnt* host = lib.gethostbyname("127.0.0.1");
    ASSERT_NE(host, nullptr) << lib.lastError();
    EXPECT_EQ(host->h_addrtype, kAddressFamilyInet);
    EXPECT_EQ(host->h_length, 4);
    ASSERT_NE(host->h_addr_list[0], nullptr);
    uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], 4);
    EXPECT_EQ(address, lib.inetAddr("127.0.0.1"));

    WinServEnt* service = lib.getservbyname("http", "tcp");
    ASSERT_NE(service, nullptr) << lib.lastError();
    EXPECT_EQ(lib.ntohs(static_cast<uint16_t>(service->s_port)), 80);
    EXPECT_STREQ(service->s_proto, "tcp");

    WinProtoEnt* protocol = lib.getprotobyname("tcp");
    ASSERT_NE(protocol, nullptr) << lib.lastError();
    EXPECT_EQ(protocol->p_proto, kIpProtoTcp);
}

TEST_F(WinSock, FailuresReportWinSockNumbers) {
    // A port that nothing listens on: bound, then closed again.
    WinSocket probe = Open();
    WinSockAddrIn address = Loopback(0);
    ASSERT_EQ(lib.bind(probe, reinterpret_cast<WinSockAddr*>(&address), sizeof address), 0);
    int length = sizeof address;
    ASSERT_EQ(lib.getsockname(probe, reinterpret_cast<WinSockAddr*>(&address), &length), 0);
    WinSocket s = Open();
    lib.closesocket(probe);
    sockets.erase(sockets.begin());
    EXPECT_EQ(lib.connect(s, reinterpret_cast<WinSockAddr*>(&address), sizeof address), kSocketError);
    EXPECT_EQ(lib.lastError(), kWsaEconnrefused);
    EXPECT_EQ(lib.gethostbyname("no-such-host.invalid"), nullptr);
    EXPECT_TRUE(lib.lastError() == kWsaHostNotFound || lib.lastError() == kWsaNoData) << lib.lastError();
}

// Each call through a pointer of the wrong convention would leave the stack four or more bytes off;
// a hundred thousand of them, optimised, cannot go unnoticed.
TEST_F(WinSock, ManyCallsKeepTheStackBalanced) {
    WinSocket client, served;
    ASSERT_NO_FATAL_FAILURE(Connect(client, served));
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < 100000; ++i) {
        uint16_t port = static_cast<uint16_t>(i);
        sum = sum + lib.ntohs(lib.htons(port)) + (lib.ntohl(lib.htonl(i)) - i);
        if (lib.ntohs(lib.htons(port)) != port || lib.ntohl(lib.htonl(i)) != i)
            FAIL() << i;
    }
    EXPECT_EQ(lib.inetAddr("1.2.3.4"), lib.htonl(0x01020304));
    char byte = 'x', got = 0;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(lib.send(client, &byte, 1, 0), 1) << i;
        ASSERT_EQ(lib.recv(served, &got, 1, 0), 1) << i;
        ASSERT_EQ(got, 'x');
    }
    EXPECT_GT(sum, 0u);
}

TEST_F(WinSock, UnsentBytesStayWithinWhatWasSentAndKeepTheLastError) {
    EXPECT_EQ(GetUnsentBytes(kInvalidSocket), 0u);
    WinSocket client, served;
    ASSERT_NO_FATAL_FAILURE(Connect(client, served));
    std::vector<char> data(256 * 1024, 'u');
    uint32_t on = 1;
    ASSERT_EQ(lib.ioctlsocket(client, kFionbio, &on), 0);
    uint64_t sent = 0;
    for (int i = 0; i < 64; ++i) {
        int n = lib.send(client, data.data(), static_cast<int>(data.size()), 0);
        if (n == kSocketError)
            break;
        sent += static_cast<uint64_t>(n);
    }
    int error = lib.lastError();
    uint64_t unsent = GetUnsentBytes(client);
    EXPECT_LE(unsent, sent);
    EXPECT_EQ(lib.lastError(), error) << "asking must not change the socket's last error";
    // Once the peer has read everything, nothing is waiting for acknowledgement.
    std::vector<char> sink(64 * 1024);
    uint64_t read = 0;
    while (read < sent) {
        int n = lib.recv(served, sink.data(), static_cast<int>(sink.size()), 0);
        ASSERT_GT(n, 0);
        read += static_cast<uint64_t>(n);
    }
    for (int i = 0; i < 100 && GetUnsentBytes(client) != 0; ++i)
        ::Sleep(10);
    EXPECT_EQ(GetUnsentBytes(client), 0u);
}

} // namespace
