// Peers that take the request and then stop making progress: silent, answering "100 Continue" for
// ever, or sending a reply body without end. The connection must give up on each within its idle
// time-out and retries, or at its bound on reply bodies, and must not mistake a slow but moving
// reply for a stall.
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/network_exception.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "platform/winsock.h"
#include "tests/support/loopback.h"
#include "tests/support/network_ready.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::LoopbackListener;
using testsupport::LoopbackStream;

// Serves connection after connection, one at a time, with `serve`, until the object goes. A serve
// function returns once the client has closed or the peer is told to stop.
class StallingPeer {
public:
    using Serve = std::function<void(LoopbackStream&, const std::atomic<bool>& stop)>;

    explicit StallingPeer(Serve serve) : m_serve(std::move(serve)) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                LoopbackStream stream = m_listener.Accept(0.05);
                if (!stream.IsOpen())
                    continue;
                ++m_connections;
                m_serve(stream, m_stop);
            }
        });
    }
    ~StallingPeer() {
        m_stop = true;
        m_thread.join();
    }

    std::string URI() const { return "http://127.0.0.1:" + std::to_string(m_listener.Port()) + "/up"; }
    int Connections() const { return m_connections; }

private:
    LoopbackListener m_listener;
    Serve m_serve;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// Reads the client's bytes and calls `tick` about every 50 ms until the client closes or the peer
// stops; `tick` returns false to stop sending (a send that fails ends the connection too).
void ReadAndTick(LoopbackStream& stream, const std::atomic<bool>& stop, const std::function<bool()>& tick) {
    bool ticking = true;
    while (!stop) {
        LoopbackStream::Received got = stream.Receive(0.05);
        if (got.status == LoopbackStream::Status::Closed)
            return;
        if (ticking)
            ticking = tick();
    }
}

struct Result {
    int status = 0;
    std::string reason;
    std::string body;
    int lastErrorCode = 0;
    double seconds = 0;
};

Result Exchange(const std::string& uri, int maxRetries, double idleTimeout, uint64_t maxBody = 0) {
    Clock::time_point start = Clock::now();
    CHTTPRequest request(maxRetries);
    request.Write("data");
    CHTTPConnection connection(uri, false);
    connection.SetIdleTimeout(idleTimeout);
    connection.SetMaxReplyBody(maxBody);
    std::shared_ptr<CHTTPResponse> response = connection.Submit(request, uri);
    Result result;
    result.status = response->GetStatus();
    result.reason = response->GetReason();
    char buffer[4096];
    try {
        while (size_t n = response->Read(sizeof buffer, buffer))
            result.body.append(buffer, n);
    } catch (const CException& e) {
        result.body += std::string("<") + e.GetCode() + ">";
    }
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(20);
         connection.GetState() != CHTTPConnection::State::Done && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    result.lastErrorCode = connection.GetLastErrorCode();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

class HttpConnectionStall : public NetworkReadyFastRetries {};

// Far above the idle time-outs and retries of these tests, far below "for ever".
constexpr double kGivesUpWithin = 15.0;

TEST_F(HttpConnectionStall, SilentAndEndlesslyContinuingPeersFailAsANetworkTimeout) {
    const std::string timedOut = CSocketException(platform::kWsaEtimedout).GetText();
    struct Case {
        const char* name;
        std::function<bool(LoopbackStream&)> tick;
    } cases[] = {
        {"silent", [](LoopbackStream&) { return true; }},
        {"100 Continue for ever",
         [](LoopbackStream& stream) { return stream.SendAll("HTTP/1.1 100 Continue\r\n\r\n"); }},
        {"one 100 Continue, then silence",
         [](LoopbackStream& stream) {
             stream.SendAll("HTTP/1.1 100 Continue\r\n\r\n");
             return false;
         }},
    };
    for (const Case& c : cases) {
        StallingPeer peer([&c](LoopbackStream& stream, const std::atomic<bool>& stop) {
            ReadAndTick(stream, stop, [&] { return c.tick(stream); });
        });
        Result x = Exchange(peer.URI(), 1, 0.5);
        EXPECT_EQ(x.status, 0) << c.name;
        EXPECT_EQ(x.reason, timedOut) << c.name;
        EXPECT_EQ(x.lastErrorCode, platform::kWsaEtimedout) << c.name;
        EXPECT_EQ(x.body, "") << c.name;
        // The retry went out on a new connection, and timed out again.
        EXPECT_EQ(peer.Connections(), 2) << c.name;
        EXPECT_GE(x.seconds, 2 * 0.5) << c.name;
        EXPECT_LT(x.seconds, kGivesUpWithin) << c.name;
    }
}

TEST_F(HttpConnectionStall, AReplyThatKeepsMovingIsNotAStall) {
    // Five pieces 0.3 s apart: twice the idle time-out in all, never idle for the whole of it.
    StallingPeer peer([](LoopbackStream& stream, const std::atomic<bool>& stop) {
        int ticks = 0;
        ReadAndTick(stream, stop, [&] {
            ++ticks;
            if (ticks == 1)
                return stream.SendAll("HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n");
            if (ticks % 6 != 0)
                return true;
            stream.SendAll("x");
            return ticks < 30;
        });
    });
    Result x = Exchange(peer.URI(), 0, 0.5);
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "xxxxx");
    EXPECT_EQ(x.lastErrorCode, 0);
    EXPECT_EQ(peer.Connections(), 1);
}

TEST_F(HttpConnectionStall, EndlessBodiesStopAtTheBound) {
    const std::string endless(1024, 'e');
    struct Case {
        const char* name;
        std::string head;
        std::string piece;
    } cases[] = {
        {"until close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", endless},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "400\r\n" + endless + "\r\n"},
    };
    constexpr uint64_t kBound = 16 * 1024;
    for (const Case& c : cases) {
        StallingPeer peer([&c](LoopbackStream& stream, const std::atomic<bool>& stop) {
            bool headSent = false;
            // The peer sends as fast as it can (bounded so that the test ends whatever happens).
            int pieces = 0;
            ReadAndTick(stream, stop, [&] {
                if (!headSent) {
                    headSent = true;
                    return stream.SendAll(c.head);
                }
                for (int i = 0; i < 64; ++i)
                    if (!stream.SendAll(c.piece))
                        return false;
                return (pieces += 64) < 64 * 1024;
            });
        });
        Result x = Exchange(peer.URI(), 0, 5.0, kBound);
        EXPECT_EQ(x.lastErrorCode, 0) << c.name;
        // Either the failure reached the submitter before the reply did, or the body broke off.
        if (x.status == 200) {
            ASSERT_GE(x.body.size(), 2u) << c.name;
            EXPECT_EQ(x.body.back(), '>') << c.name;
            EXPECT_LE(x.body.size(), kBound + 64) << c.name;
        } else {
            EXPECT_EQ(x.reason, CHTTPResponseTooBigException().GetText()) << c.name;
        }
        EXPECT_LT(x.seconds, kGivesUpWithin) << c.name;
    }
}

} // namespace
