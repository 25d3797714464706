#include "net/byte_ring.h"
#include "net/network_exception.h"
#include "net/socket.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"
#include "tests/support/loopback.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using testsupport::LoopbackStream;

// A listening socket on 127.0.0.1 of the test support's plain sockets, so that it checks the layer
// under test rather than sharing its code.
class Listener {
public:
    explicit Listener(int backlog = 16) : m_listener(backlog) { EXPECT_TRUE(m_listener.IsListening()); }

    uint16_t Port() const { return m_listener.Port(); }
    LoopbackStream Accept() {
        LoopbackStream peer = m_listener.Accept(10);
        EXPECT_TRUE(peer.IsOpen());
        return peer;
    }

private:
    testsupport::LoopbackListener m_listener;
};

// A port with nothing listening: bound, then closed again.
uint16_t ClosedPort() {
    Listener listener;
    return listener.Port();
}

// Waits until the other end has taken in every byte written to `peer`, for at most five seconds.
void WaitUntilDelivered(LoopbackStream& peer) {
    peer.WaitUntilDelivered(5);
}

void SendAll(LoopbackStream& peer, const std::string& text) {
    ASSERT_TRUE(peer.SendAll(text));
}

// Values in network byte order, made from their bytes so that they do not depend on the layer under
// test.
uint16_t Network16(uint16_t value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value)};
    uint16_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}
uint32_t Network32(uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}
constexpr uint32_t kLoopback = 0x7F000001; // 127.0.0.1

std::unique_ptr<CSocket> ConnectTo(uint16_t port) {
    auto socket = std::make_unique<CSocket>(ResolveHostAddress("127.0.0.1", port));
    while (!socket->IsConnected())
        socket->Wait(CSocket::kWritable, 1.0);
    return socket;
}

class SocketTest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
    }
    void TearDown() override {
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }
};

} // namespace

TEST_F(SocketTest, ResolvesAddressesWithoutALookup) {
    platform::WinSockAddrIn address = ResolveHostAddress("127.0.0.1", 8080);
    EXPECT_EQ(address.sin_family, 2);
    EXPECT_EQ(address.sin_port, Network16(8080));
    EXPECT_EQ(address.sin_addr, Network32(kLoopback));
    // The broadcast address is the one dotted text whose value means "not an address".
    EXPECT_EQ(ResolveHostAddress("255.255.255.255", 1).sin_addr, 0xFFFFFFFFu);
    // A name from the hosts file.
    EXPECT_EQ(ResolveHostAddress("localhost", 80).sin_addr, Network32(kLoopback));
}

TEST_F(SocketTest, RefusedPortReportsTheConnectionError) {
    CSocket socket(ResolveHostAddress("127.0.0.1", ClosedPort()));
    try {
        for (int i = 0; i < 50 && !socket.IsConnected(); ++i)
            socket.Wait(CSocket::kWritable, 0.1);
        FAIL() << "a refused connection was reported as connected";
    } catch (const CSocketConnectionFailedException& e) {
        EXPECT_EQ(e.GetError(), 10061);
        EXPECT_NE(e.GetText().find("The connection was refused by the remote host."), std::string::npos);
    }
}

TEST_F(SocketTest, ConnectTimeOutWhenThePeerNeverAnswers) {
    // A listener that never accepts and has a full backlog drops further connection requests, so
    // the next connection stays pending: a peer that never answers, on loopback.
    Listener listener(0);
    std::vector<std::unique_ptr<CSocket>> filling;
    std::unique_ptr<CSocket> pending;
    for (int i = 0; i < 16 && !pending; ++i) {
        auto socket = std::make_unique<CSocket>(ResolveHostAddress("127.0.0.1", listener.Port()));
        if (socket->Wait(CSocket::kWritable, 0.3) == 0)
            pending = std::move(socket);
        else
            filling.push_back(std::move(socket));
    }
    ASSERT_TRUE(pending) << "the backlog never filled";

    pending->SetConnectTimeout(1.0);
    auto start = std::chrono::steady_clock::now();
    int quietWaits = 0;
    try {
        for (;;) {
            EXPECT_EQ(pending->Wait(CSocket::kWritable, 0.1), 0u);
            ++quietWaits;
        }
    } catch (const CSocketConnectionFailedException& e) {
        EXPECT_EQ(e.GetError(), 10060);
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 0.6); // the time-out counts from the connect request, made before the fill loop
    EXPECT_GE(quietWaits, 3);
    EXPECT_FALSE(pending->IsValid());
    EXPECT_FALSE(pending->IsOpenForReading());
    EXPECT_FALSE(pending->IsOpenForWriting());
    EXPECT_THROW(pending->Wait(CSocket::kReadable, 0), CSocketNotConnectedException);
}

TEST_F(SocketTest, ReadPeekAndBufferedInput) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    SendAll(peer, "HTTP/1.1 200 OK\r\n");

    char text[32] = {};
    // Wait for all of it, then peek at a part: the bytes stay.
    WaitUntilDelivered(peer);
    ASSERT_NE(socket->Wait(CSocket::kReadable, 2.0), 0u);
    ASSERT_EQ(socket->Peek(8, text, 0), 8u);
    EXPECT_EQ(std::string(text, 8), "HTTP/1.1");
    EXPECT_EQ(socket->GetBufferedCount(), 8u);
    // Buffered bytes are readable at once, even with no limit on the wait.
    EXPECT_EQ(socket->Wait(CSocket::kReadable, -1), unsigned{CSocket::kReadable});
    // A read larger than the buffer takes the buffer and what arrived since.
    ASSERT_EQ(socket->Read(12, text, 0), 12u);
    EXPECT_EQ(std::string(text, 12), "HTTP/1.1 200");
    // A null buffer drops bytes.
    EXPECT_EQ(socket->Read(3, nullptr, 0), 3u);
    ASSERT_EQ(socket->Read(sizeof text, text, 0), 2u);
    EXPECT_EQ(std::string(text, 2), "\r\n");
    // Nothing more: one attempt with time-out 0 returns nothing without blocking.
    EXPECT_EQ(socket->Read(sizeof text, text, 0), 0u);

    peer.ShutdownWrite();
    EXPECT_EQ(socket->Read(sizeof text, text, 1.0), 0u); // the end of data
}

TEST_F(SocketTest, SingleAttemptsTellADrySocketFromTheEnd) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    char text[16];
    // Nothing sent yet: one attempt finds the socket dry, which is not the end of data.
    EXPECT_EQ(socket->Read(sizeof text, text, 0), 0u);
    EXPECT_TRUE(socket->IsReadDry());
    EXPECT_EQ(socket->Peek(sizeof text, text, 0), 0u);
    EXPECT_TRUE(socket->IsReadDry());
    SendAll(peer, "abc");
    ASSERT_NE(socket->Wait(CSocket::kReadable, 2.0), 0u);
    EXPECT_EQ(socket->Read(sizeof text, text, 0), 3u);
    EXPECT_FALSE(socket->IsReadDry());
    EXPECT_EQ(socket->Read(sizeof text, text, 0), 0u);
    EXPECT_TRUE(socket->IsReadDry());
    // The orderly end reads as 0 bytes too, but not as dry.
    peer.ShutdownWrite();
    ASSERT_NE(socket->Wait(CSocket::kReadable, 2.0), 0u);
    EXPECT_EQ(socket->Read(sizeof text, text, 0), 0u);
    EXPECT_FALSE(socket->IsReadDry());

    // Pieces go out one attempt each until the peer, which reads nothing, lets the buffers fill.
    std::string piece(1024, 'w');
    size_t pieces = 0;
    while (!socket->IsWriteBlocked() && pieces < 100000) {
        size_t sent = socket->Write(piece.size(), piece.data(), 0);
        EXPECT_EQ(sent == piece.size(), !socket->IsWriteBlocked());
        ++pieces;
    }
    EXPECT_TRUE(socket->IsWriteBlocked());
    EXPECT_EQ(socket->Wait(CSocket::kWritable, 0), 0u);
}

TEST_F(SocketTest, PeerResetEndsReadsAndFailsWrites) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    peer.Reset();

    char text[16];
    EXPECT_EQ(socket->Read(sizeof text, text, 1.0), 0u); // a reset reads as the end
    // The first send after a reset may still be accepted locally; the next ones must fail.
    std::string block(1024, 'x');
    EXPECT_THROW(
        {
            for (int i = 0; i < 100; ++i)
                socket->Write(block.size(), block.data(), 1.0);
        },
        CSocketNotConnectedException);
}

TEST_F(SocketTest, ClosedDirectionsRefuseUse) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    socket->ShutdownWrite();
    EXPECT_THROW(socket->Write(1, "x", 0), COutputStreamClosedException);
    char byte;
    EXPECT_EQ(peer.Receive(10).status, LoopbackStream::Status::Closed); // the peer sees the end of our data
    socket->ShutdownRead();
    EXPECT_THROW(socket->Read(1, &byte, 0), CInputStreamClosedException);
    EXPECT_THROW(socket->Peek(1, &byte, 0), CInputStreamClosedException);
}

TEST_F(SocketTest, AddressesOfBothEnds) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    platform::WinSockAddrIn remote = socket->GetPeerAddress();
    platform::WinSockAddrIn local = socket->GetLocalAddress();
    EXPECT_EQ(remote.sin_port, Network16(listener.Port()));
    EXPECT_EQ(remote.sin_addr, Network32(kLoopback));
    EXPECT_EQ(local.sin_addr, Network32(kLoopback));
    EXPECT_NE(local.sin_port, 0);
}

TEST_F(SocketTest, DrainOnDestructionReadsUntilThePeerCloses) {
    // The peer keeps sending after the socket is told to go, then ends its side. A socket closed with
    // bytes left unread resets the connection, which the peer sees as a failed send or as an error
    // instead of the orderly end; one that drained them all ends it cleanly.
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    constexpr size_t kChunk = 4096;
    constexpr int kChunks = 8;
    size_t sent = 0;
    std::thread sender([&peer, &sent] {
        std::string chunk(kChunk, 'y');
        for (int i = 0; i < kChunks; ++i) {
            if (peer.SendAll(chunk))
                sent += chunk.size();
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a slow peer
        }
        peer.ShutdownWrite();
    });
    auto start = std::chrono::steady_clock::now();
    socket.reset();
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sender.join();
    EXPECT_LT(elapsed, CSocket::kDrainSeconds);
    EXPECT_EQ(sent, kChunk * kChunks);
    // The socket is gone: its end of the connection must have been orderly, with nothing unread.
    EXPECT_EQ(peer.PendingError(), 0);
    EXPECT_EQ(peer.Receive(0).status, LoopbackStream::Status::Closed);
}

TEST_F(SocketTest, DrainIsBoundedWhenThePeerStaysOpen) {
    Listener listener;
    auto socket = ConnectTo(listener.Port());
    LoopbackStream peer = listener.Accept();
    auto start = std::chrono::steady_clock::now();
    socket.reset(); // the peer never closes: the drain gives up after its bound
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, CSocket::kDrainSeconds - 0.1);
    EXPECT_LT(elapsed, CSocket::kDrainSeconds + 2.0);
}

TEST(ByteRing, KeepsOrderAcrossWrapsAndGrowth) {
    // Against a plain model, with appends, in-place fills and takes of odd sizes that wrap round and
    // grow the ring. A fill claims its run, the consumer may take bytes (even all of them) before the
    // producer commits, and the producer commits only part of what it claimed.
    CByteRing ring;
    std::deque<char> model;
    unsigned seed = 7;
    char next = 0;
    auto take = [&](size_t size) {
        std::vector<char> out(size);
        size_t copied = ring.Copy(size, out.data());
        ASSERT_EQ(copied, std::min(size, model.size()));
        ASSERT_TRUE(
            std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(copied), model.begin()));
        CByteRing::Runs runs = ring.Front(size);
        ASSERT_EQ(runs.firstSize + runs.secondSize, copied);
        ring.Consume(size);
        model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(copied));
    };
    for (int round = 0; round < 6000; ++round) {
        seed = seed * 1103515245u + 12345u;
        size_t size = (seed >> 16) % 3000;
        switch ((seed >> 8) % 4) {
        case 0:
            take(size);
            break;
        case 1: {
            CByteRing::Space space = ring.Claim(size);
            ASSERT_LE(space.size, size);
            ASSERT_TRUE(size == 0 || space.size > 0);
            size_t filled = space.size - space.size / 3;
            for (size_t i = 0; i < filled; ++i)
                space.data[i] = static_cast<char>(next + static_cast<char>(i));
            take((seed >> 4) % 2 == 0 ? model.size() : size / 2); // the run must stay put meanwhile
            ASSERT_EQ(ring.Commit(filled), size > 0);
            for (size_t i = 0; i < filled; ++i)
                model.push_back(next++);
            break;
        }
        default: {
            std::vector<char> bytes(size);
            for (char& c : bytes)
                c = next++;
            ring.Append(bytes.data(), bytes.size());
            model.insert(model.end(), bytes.begin(), bytes.end());
        }
        }
        ASSERT_EQ(ring.Size(), model.size());
    }
    // Reserved room never moves the bytes.
    CByteRing reserved;
    reserved.Reserve(8192);
    reserved.Append("x", 1);
    const char* at = reserved.Front(1).first;
    std::string filler(8191, 'y');
    reserved.Append(filler.data(), filler.size());
    EXPECT_EQ(reserved.Front(1).first, at);
    EXPECT_EQ(reserved.Capacity(), 8192u);
}

TEST(ByteRing, ClaimsEndWhenTheirRunIsGone) {
    // A claim whose run moved or was dropped must not append whatever lies there now.
    CByteRing ring;
    ring.Append("ab", 2);
    CByteRing::Space space = ring.Claim(2);
    std::memcpy(space.data, "cd", 2);
    ring.Clear();
    EXPECT_FALSE(ring.Commit(2));
    EXPECT_EQ(ring.Size(), 0u);

    ring.Claim(4);
    ring.Append("gh", 2); // appended instead: the run now holds these
    EXPECT_FALSE(ring.Commit(4));
    ring.Claim(4);
    ring.Reserve(2 * ring.Capacity()); // grown: the run moved
    EXPECT_FALSE(ring.Commit(4));
    EXPECT_EQ(ring.Size(), 2u);

    ring.Claim(1);
    ring.Cancel();
    EXPECT_FALSE(ring.Commit(1));
    // Where the ring wraps, the run stops at its end.
    CByteRing wrapping;
    wrapping.Reserve(4096);
    wrapping.Append(std::string(4000, 'w').data(), 4000);
    wrapping.Consume(3000);
    EXPECT_EQ(wrapping.Claim(500).size, 96u);
    EXPECT_TRUE(wrapping.Commit(96));
    EXPECT_EQ(wrapping.Claim(500).size, 500u);
    EXPECT_EQ(wrapping.Capacity(), 4096u);
}

TEST(WinSockLibrary, ReferenceCountedLoadAndCatalogueRelease) {
    SetSocketMessageTable(std::make_unique<CMessageTable>());
    {
        CWinSockUser first;
        CWinSockUser second;
        EXPECT_NE(CWinSockLibrary::Get().socket, nullptr);
    }
    // The last release unloads the library and drops the WinSock catalogue.
    EXPECT_EQ(CWinSockLibrary::Get().socket, nullptr);
    EXPECT_EQ(GetSocketMessageTable(), nullptr);
}
