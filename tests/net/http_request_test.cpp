#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "net/http_entity_source.h"
#include "net/http_request.h"
#include "net/network_exception.h"
#include "net/socket.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"
#include "tests/support/e2e_support.h"
#include "tests/support/loopback.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

// A peer on 127.0.0.1 over the test support's plain sockets: accepts one connection and collects
// what arrives, so that the bytes a request writes are checked as they go over the wire.
class Peer {
public:
    Peer() : m_listener(4) {}

    std::unique_ptr<CSocket> Connect() {
        auto socket = std::make_unique<CSocket>(ResolveHostAddress("127.0.0.1", m_listener.Port()));
        m_conn = m_listener.Accept(10);
        return socket;
    }
    // Everything that has arrived within a short while.
    std::string Received() {
        std::string bytes;
        for (;;) {
            testsupport::LoopbackStream::Received received = m_conn.Receive(0.2, 4096);
            if (received.status != testsupport::LoopbackStream::Status::Data)
                break;
            bytes += received.bytes;
        }
        // Closed, so that the client's socket does not wait for more when it goes.
        m_conn.Close();
        return bytes;
    }

private:
    testsupport::LoopbackListener m_listener;
    testsupport::LoopbackStream m_conn;
};

// Writes the whole request as the connection's worker does: one step per readiness.
void WriteAll(CHTTPRequest& request, CSocket& socket) {
    for (int steps = 0; steps < 100000; ++steps) {
        socket.Wait(CSocket::kWritable, 1.0);
        if (request.WriteStep(socket))
            return;
    }
    FAIL() << "the request never reported the end";
}

// An authentication scheme that answers with fixed credentials.
class FixedAuthenticate : public CHTTPAuthenticate {
public:
    FixedAuthenticate(std::string scheme, std::string credentials)
        : m_scheme(std::move(scheme)), m_credentials(std::move(credentials)) {}
    std::unique_ptr<CHTTPAuthenticate> Clone() const override {
        return std::make_unique<FixedAuthenticate>(m_scheme, m_credentials);
    }
    std::string GetScheme() const override { return m_scheme; }
    std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse*) override {
        return std::make_unique<CHTTPAuthResponse>(m_credentials);
    }

private:
    std::string m_scheme;
    std::string m_credentials;
};

// An entity source over bytes in memory that hands out at most `piece` bytes per read, can be told to
// fail after some bytes or to end early, and counts its rewinds.
class BytesSource : public IHTTPEntitySource {
public:
    struct Log {
        int rewinds = 0;
        uint64_t produced = 0; // bytes handed out over all passes
    };

    BytesSource(std::string bytes, size_t piece, Log& log)
        : m_bytes(std::move(bytes)), m_piece(piece), m_log(log) {}
    // The source raises `CIOException` once it has produced `bytes` bytes in a pass.
    void FailAfter(uint64_t bytes) { m_failAfter = bytes; }
    // The source claims `extra` bytes more than it has.
    void ClaimMore(uint64_t extra) { m_claimed = extra; }

    uint64_t GetLength() const override { return m_bytes.size() + m_claimed; }
    size_t Read(size_t count, void* buffer) override {
        if (m_position >= m_failAfter)
            throw CIOException();
        size_t n = std::min(
            {count, m_piece, m_bytes.size() - m_position, static_cast<size_t>(m_failAfter - m_position)});
        std::memcpy(buffer, m_bytes.data() + m_position, n);
        m_position += n;
        m_log.produced += n;
        return n;
    }
    void Rewind() override {
        m_position = 0;
        ++m_log.rewinds;
    }

private:
    std::string m_bytes;
    size_t m_piece;
    Log& m_log;
    size_t m_position = 0;
    uint64_t m_failAfter = UINT64_MAX;
    uint64_t m_claimed = 0;
};

using e2e::RandomBytes;

class HttpRequest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
    }
    void TearDown() override {
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }

    // Submits the request for `uri` and returns exactly what it writes.
    std::string Wire(CHTTPRequest& request, const std::string& uri, bool viaProxy = false) {
        request.SetURI(uri, viaProxy);
        request.Submit();
        return Send(request);
    }
    std::string Send(CHTTPRequest& request) {
        Peer peer;
        std::unique_ptr<CSocket> socket = peer.Connect();
        WriteAll(request, *socket);
        return peer.Received();
    }
    // Writes the submitted request until a step raises `Exception`; its text, or "" when no step
    // raised one within `steps` (a step that reports the end is a failure of its own).
    template <class Exception>
    std::string WriteUntilRaised(CHTTPRequest& request, CSocket& socket, int steps) {
        for (int step = 0; step < steps; ++step) {
            socket.Wait(CSocket::kWritable, 1.0);
            try {
                if (request.WriteStep(socket)) {
                    ADD_FAILURE() << "the request reported its end";
                    return "";
                }
            } catch (const Exception& e) {
                return e.GetText();
            }
        }
        return "";
    }
};

template <class Exception, class Body>
std::string TextOf(Body body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.GetText();
    }
    return "<nothing raised>";
}

TEST_F(HttpRequest, RequestLineHostLengthAndConnectionByteForByte) {
    struct Row {
        const char* uri;
        bool viaProxy;
        const char* entity;
        const char* expected;
    } rows[] = {
        // A direct request carries path, query and fragment as given.
        {"http://example.com/a/b?x=1&y=%20#frag", false, "hello",
         "POST /a/b?x=1&y=%20#frag HTTP/1.1\r\nHost: example.com\r\ncontent-length: 5\r\n"
         "Connection: close\r\n\r\nhello"},
        // Through a proxy the line carries the complete URI; the Host line keeps the written port.
        {"http://example.com:8080/up?id=3", true, "ab",
         "POST http://example.com:8080/up?id=3 HTTP/1.1\r\nHost: example.com:8080\r\n"
         "content-length: 2\r\nConnection: close\r\n\r\nab"},
        // Only an authority: the target is "/"; an empty entity still has its length line.
        {"http://10.1.2.3:81", false, "",
         "POST / HTTP/1.1\r\nHost: 10.1.2.3:81\r\ncontent-length: 0\r\nConnection: close\r\n\r\n"},
        // No scheme at all counts as "http"; an empty port group writes no colon.
        {"//host.example:/x", false, "",
         "POST /x HTTP/1.1\r\nHost: host.example\r\ncontent-length: 0\r\nConnection: close\r\n\r\n"},
    };
    for (const Row& row : rows) {
        CHTTPRequest request(5);
        request.Write(row.entity);
        EXPECT_EQ(Wire(request, row.uri, row.viaProxy), row.expected) << row.uri;
    }
}

TEST_F(HttpRequest, InvalidURIsAreRefusedAtSubmit) {
    const char* rows[] = {
        "https://example.com/x", // another scheme
        "HTTP://example.com/x",  // the scheme test is case-sensitive
        "http:///path",          // no host
        "http://@:80/",          // user information but no host
    };
    for (const char* uri : rows) {
        CHTTPRequest request(0);
        request.SetURI(uri, false);
        EXPECT_EQ(TextOf<CHTTPInvalidURIException>([&] { request.Submit(); }),
                  std::string("Invalid HTTP URI: ") + uri);
        EXPECT_FALSE(request.IsSubmitted()) << uri;
    }
}

TEST_F(HttpRequest, HeaderRules) {
    CHTTPRequest request(0);
    // The request writes its own length and connection lines, whatever the caller's case.
    request.AddHeader("Content-Length", "5");
    request.AddHeader("CONNECTION", "keep-alive");
    request.AddHeader("connection", "close");
    // Anything else goes out as given, in order.
    request.AddHeader("X-A", "b");
    request.AddHeader("user-agent", "Px/1.0 (linux)");
    request.Write(std::string("xyz"));
    EXPECT_EQ(Wire(request, "http://h/p"),
              "POST /p HTTP/1.1\r\nHost: h\r\ncontent-length: 3\r\nConnection: close\r\n"
              "X-A: b\r\nuser-agent: Px/1.0 (linux)\r\n\r\nxyz");
}

TEST_F(HttpRequest, HeadersWithLineBreaksAreRefused) {
    struct Row {
        const char* name;
        const char* value;
        const char* shown;
    } rows[] = {
        // A value from a page that would add a header line of its own.
        {"X-Album", "Trip\r\nX-Admin: 1", "X-Album: Trip\\r\\nX-Admin: 1"},
        // A bare LF or CR is just as much a line break to many servers.
        {"X-Album", "a\nb", "X-Album: a\\nb"},
        {"X-Album", "a\rb", "X-Album: a\\rb"},
        // In the name, even in one that would be ignored.
        {"Content-Length\r\nX-B", "1", "Content-Length\\r\\nX-B: 1"},
    };
    CHTTPRequest request(0);
    for (const Row& row : rows)
        EXPECT_EQ(TextOf<CHTTPBadHeaderException>([&] { request.AddHeader(row.name, row.value); }),
                  std::string("Internal error: invalid HTTP header: ") + row.shown);
    // Nothing of the refused headers reaches the wire.
    EXPECT_EQ(Wire(request, "http://h/"),
              "POST / HTTP/1.1\r\nHost: h\r\ncontent-length: 0\r\nConnection: close\r\n\r\n");
}

TEST_F(HttpRequest, ClosedAndSubmittedRequestsRefuseMore) {
    CHTTPRequest request(0);
    request.CloseOutput();
    EXPECT_EQ(TextOf<COutputStreamClosedException>([&] { request.AddHeader("X-A", "b"); }),
              TextOf<COutputStreamClosedException>([] { throw COutputStreamClosedException(); }));
    EXPECT_THROW(request.Write("x"), COutputStreamClosedException);

    CHTTPRequest submitted(0);
    submitted.SetURI("http://h/", false);
    submitted.Submit();
    EXPECT_THROW(submitted.Write("x"), COutputStreamClosedException);
    EXPECT_EQ(TextOf<CHTTPRequestResubmitted>([&] { submitted.Submit(); }),
              "Internal error: HTTP request already submitted");
}

TEST_F(HttpRequest, ProgressCountsEntityBytesOnlyAndTheEventMarksTheEnd) {
    CHTTPRequest request(0);
    request.AddHeader("X-A", "b");
    std::string entity(5000, 'e');
    request.Write(entity);
    request.SetURI("http://h/", false);
    request.Submit();
    Peer peer;
    std::unique_ptr<CSocket> socket = peer.Connect();

    // Steps write at most 1024 bytes; the head (under 1024 bytes here) counts nothing.
    EXPECT_FALSE(request.WriteStep(*socket)); // request-line block
    EXPECT_EQ(request.GetEntityBytesWritten(), 0u);
    EXPECT_FALSE(request.WriteStep(*socket)); // headers
    EXPECT_EQ(request.GetEntityBytesWritten(), 0u);
    EXPECT_FALSE(request.WriteStep(*socket)); // first entity piece
    EXPECT_EQ(request.GetEntityBytesWritten(), 1024u);
    EXPECT_FALSE(request.GetCompletionEvent().IsSet());
    int steps = 0;
    while (!request.WriteStep(*socket))
        ++steps;
    EXPECT_EQ(steps, 3); // 4 more pieces, the last of which reports the end
    EXPECT_EQ(request.GetEntityBytesWritten(), 5000u);
    EXPECT_TRUE(request.GetCompletionEvent().IsSet());
    std::string wire = peer.Received();
    EXPECT_EQ(wire.size(), wire.find("\r\n\r\n") + 4 + 5000);

    // Sent again from the start: the count and the event start over.
    request.ResetWritePosition();
    EXPECT_EQ(request.GetEntityBytesWritten(), 0u);
    EXPECT_FALSE(request.GetCompletionEvent().IsSet());
    // An abort counts the whole entity and releases the waiter.
    request.Abort();
    EXPECT_TRUE(request.IsAborted());
    EXPECT_EQ(request.GetEntityBytesWritten(), 5000u);
    EXPECT_TRUE(request.GetCompletionEvent().IsSet());
    EXPECT_TRUE(request.WriteStep(*socket)); // nothing more to write
}

TEST_F(HttpRequest, AuthorizationEndsTheHeaderSectionAndUnsubmits) {
    CHTTPRequest request(0);
    request.AddHeader("X-A", "b");
    request.Write("body");
    request.SetURI("http://h/p", false);
    request.Submit();

    request.SetAuthorization(std::make_unique<FixedAuthenticate>("Basic", "dTpw"),
                             std::make_unique<CHTTPAuthResponse>("dTpw"), false);
    EXPECT_FALSE(request.IsSubmitted());
    EXPECT_FALSE(request.IsNtlmKeepAlive()); // only NTLM to a proxy keeps the connection
    request.Submit();
    EXPECT_EQ(Send(request), "POST /p HTTP/1.1\r\nHost: h\r\ncontent-length: 4\r\nConnection: close\r\n"
                             "X-A: b\r\nAuthorization: Basic dTpw\r\n\r\nbody");

    // Taking it back hands the pieces over and leaves a request without the block.
    CHTTPRequest::Authorization taken = request.TakeAuthorization();
    ASSERT_TRUE(taken.authenticator && taken.response);
    EXPECT_EQ(taken.authenticator->GetScheme(), "Basic");
    EXPECT_EQ(taken.response->GetCredentials(), "dTpw");
    EXPECT_FALSE(request.TakeAuthorization().authenticator); // nothing stored any more

    // NTLM answering a proxy: the request line is rebuilt with the keep-alive line.
    request.SetAuthorization(std::make_unique<FixedAuthenticate>("NTLM", "TlRMTVNTUA=="),
                             std::make_unique<CHTTPAuthResponse>("TlRMTVNTUA=="), true);
    EXPECT_TRUE(request.IsNtlmKeepAlive());
    EXPECT_TRUE(request.IsProxyAuthorization());
    request.Submit();
    EXPECT_EQ(Send(request), "POST /p HTTP/1.1\r\nHost: h\r\ncontent-length: 4\r\nConnection: Keep-Alive\r\n"
                             "X-A: b\r\nProxy-Authorization: NTLM TlRMTVNTUA==\r\n\r\nbody");

    // Without an answer the block is empty and submit closes the header section again.
    request.SetAuthorization(nullptr, nullptr, false);
    request.Submit();
    EXPECT_EQ(Send(request), "POST /p HTTP/1.1\r\nHost: h\r\ncontent-length: 4\r\nConnection: Keep-Alive\r\n"
                             "X-A: b\r\n\r\nbody");
}

// --- Entities from a source ---------------------------------------------------------------------

TEST_F(HttpRequest, SourceEntityGoesOutAsTheWrittenOneByteForByte) {
    struct Row {
        size_t size;
        size_t piece;
        const char* what;
    } rows[] = {
        {0, 1, "an empty entity: its length line says 0"},
        {5, 5, "smaller than one network piece"},
        {CHTTPRequest::kEntityWindow, 4096, "exactly one window"},
        {3 * CHTTPRequest::kEntityWindow + 77, 1000, "several windows, reads shorter than asked"},
        {70000, 1, "a source that hands out one byte at a time"},
    };
    for (const Row& row : rows) {
        std::string entity = RandomBytes(row.size, static_cast<unsigned>(row.size));
        CHTTPRequest written(0);
        written.AddHeader("X-A", "b");
        written.Write(entity);

        BytesSource::Log log;
        CHTTPRequest sourced(0);
        sourced.AddHeader("X-A", "b");
        sourced.SetEntitySource(std::make_unique<BytesSource>(entity, row.piece, log));
        std::string expected = Wire(written, "http://h/up");
        EXPECT_NE(expected.find("\r\ncontent-length: " + std::to_string(row.size) + "\r\n"),
                  std::string::npos)
            << row.what;
        EXPECT_EQ(Wire(sourced, "http://h/up"), expected) << row.what;
        EXPECT_EQ(log.produced, row.size) << row.what;
        EXPECT_EQ(sourced.GetEntityBytesWritten(), row.size) << row.what;
    }
}

TEST_F(HttpRequest, SourceEntityStartsOverWhenSentAgain) {
    const std::string entity = RandomBytes(3 * CHTTPRequest::kEntityWindow + 5, 7);
    BytesSource::Log log;
    CHTTPRequest request(0);
    request.SetEntitySource(std::make_unique<BytesSource>(entity, 4096, log));
    const std::string first = Wire(request, "http://h/");
    ASSERT_EQ(first.substr(first.size() - entity.size()), entity);

    // Sent again whole, as after a new socket: the same bytes, read from the source's start.
    request.ResetWritePosition();
    EXPECT_EQ(request.GetEntityBytesWritten(), 0u);
    EXPECT_EQ(Send(request), first);
    EXPECT_EQ(log.rewinds, 1);
    EXPECT_EQ(log.produced, 2 * entity.size());

    // An answered challenge unsubmits and adds a block; the entity goes out from its start again.
    request.SetAuthorization(std::make_unique<FixedAuthenticate>("Basic", "dTpw"),
                             std::make_unique<CHTTPAuthResponse>("dTpw"), false);
    request.Submit();
    std::string again = Send(request);
    EXPECT_NE(again.find("\r\nAuthorization: Basic dTpw\r\n\r\n"), std::string::npos);
    EXPECT_EQ(again.substr(again.size() - entity.size()), entity);
    EXPECT_EQ(log.rewinds, 2);

    // A reset while the window still holds the first bytes needs no read at all for them.
    BytesSource::Log smallLog;
    CHTTPRequest small(0);
    small.SetEntitySource(std::make_unique<BytesSource>("tiny entity", 4096, smallLog));
    std::string tiny = Wire(small, "http://h/");
    small.ResetWritePosition();
    EXPECT_EQ(Send(small), tiny);
    EXPECT_EQ(smallLog.rewinds, 0);
    EXPECT_EQ(smallLog.produced, 11u);
}

TEST_F(HttpRequest, SourceFailureEndsTheRequestForGood) {
    const std::string entity = RandomBytes(50000, 9);
    BytesSource::Log log;
    auto source = std::make_unique<BytesSource>(entity, 4096, log);
    source->FailAfter(20000);
    CHTTPRequest request(0);
    request.SetEntitySource(std::move(source));
    request.SetURI("http://h/", false);
    request.Submit();
    Peer peer;
    std::unique_ptr<CSocket> socket = peer.Connect();

    EXPECT_EQ(WriteUntilRaised<CIOException>(request, *socket, 1000), "I/O error");
    ASSERT_TRUE(request.GetEntityFailure());
    EXPECT_THROW(std::rethrow_exception(request.GetEntityFailure()), CIOException);
    // Only the bytes the source produced went out: fewer than the length line promised.
    std::string wire = peer.Received();
    EXPECT_NE(wire.find("content-length: 50000\r\n"), std::string::npos);
    EXPECT_EQ(wire.size() - (wire.find("\r\n\r\n") + 4), 20000u);
    EXPECT_EQ(request.GetEntityBytesWritten(), 20000u);
    EXPECT_FALSE(request.GetCompletionEvent().IsSet());

    // Sent again, it fails at once, before a byte goes out.
    request.ResetWritePosition();
    EXPECT_THROW(request.WriteStep(*socket), CIOException);
    EXPECT_EQ(request.GetEntityBytesWritten(), 0u);
}

TEST_F(HttpRequest, SourceThatEndsBeforeItsLengthFails) {
    BytesSource::Log log;
    auto source = std::make_unique<BytesSource>(RandomBytes(3000, 3), 4096, log);
    source->ClaimMore(1);
    CHTTPRequest request(0);
    request.SetEntitySource(std::move(source));
    request.SetURI("http://h/", false);
    request.Submit();
    Peer peer;
    std::unique_ptr<CSocket> socket = peer.Connect();
    EXPECT_EQ(WriteUntilRaised<CHTTPEntityLengthException>(request, *socket, 100),
              "Internal error: the HTTP request body ended before its declared length");
    std::string wire = peer.Received();
    EXPECT_NE(wire.find("content-length: 3001\r\n"), std::string::npos);
    EXPECT_EQ(wire.size() - (wire.find("\r\n\r\n") + 4), 3000u);
}

TEST_F(HttpRequest, SourceAndWrittenEntityDoNotMix) {
    BytesSource::Log log;
    CHTTPRequest sourced(0);
    sourced.SetEntitySource(std::make_unique<BytesSource>("abc", 4096, log));
    EXPECT_EQ(TextOf<CHTTPBadEntityException>([&] { sourced.Write("x"); }),
              "Internal error: no HTTP entity allowed");
    EXPECT_THROW(sourced.SetEntitySource(std::make_unique<BytesSource>("d", 1, log)),
                 CHTTPBadEntityException);
    // Headers still go in before the submit.
    sourced.AddHeader("X-A", "b");

    CHTTPRequest written(0);
    written.Write("x");
    EXPECT_THROW(written.SetEntitySource(std::make_unique<BytesSource>("abc", 1, log)),
                 CHTTPBadEntityException);
    written.CloseOutput();
    CHTTPRequest closed(0);
    closed.CloseOutput();
    EXPECT_THROW(closed.SetEntitySource(std::make_unique<BytesSource>("abc", 1, log)),
                 COutputStreamClosedException);

    // An abort counts the source's whole length, none of which was read.
    sourced.SetURI("http://h/", false);
    sourced.Submit();
    sourced.Abort();
    EXPECT_EQ(sourced.GetEntityBytesWritten(), 3u);
    EXPECT_EQ(log.produced, 0u);
}

} // namespace
