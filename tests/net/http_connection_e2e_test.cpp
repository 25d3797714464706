// The connection against real servers: nginx and tinyproxy from the system's packages, started by the
// tests as the current user from a temporary folder with configurations of their own, on free ports
// of 127.0.0.1. Skipped when the programs are not installed.
#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "net/http_challenge_answerer.h"
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/network_exception.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"
#include "tests/support/loopback_servers.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr size_t kLargeBody = 4 * 1024 * 1024 + 321;

// A body of kLargeBody bytes that compress badly, the same in every run.
std::string LargeBody() {
    std::mt19937 random(7);
    std::string large(kLargeBody, '\0');
    for (char& c : large)
        c = static_cast<char>(random());
    return large;
}

// nginx serving files for POST, a fixed answer to POST, a chunked copy of a file, and a two-round
// proxy challenge; tinyproxy in front of it. The access log gives method, URI, request length,
// content length, Via and the requests on the connection.
class LocalServers : public loopback::NginxAndTinyproxy {
public:
    LocalServers()
        : NginxAndTinyproxy(
              "/tmp/px-http-e2e-XXXXXX",
              [](const std::string& d) {
                  loopback::WriteTextFile(d + "/large.bin", Large());
                  loopback::WriteTextFile(d + "/empty", "");
              },
              "$request_method $request_uri $request_length $content_length \"$http_via\" "
              "$connection_requests",
              [](const std::string& d, uint16_t port) { return HttpBlock(d, port); }, "") {}

    static const std::string& Large() {
        static const std::string large = LargeBody();
        return large;
    }

private:
    static std::string HttpBlock(const std::string& d, uint16_t port) {
        const std::string p = std::to_string(port);
        return "  client_max_body_size 0;\n  keepalive_timeout 30;\n"
               "  server {\n"
               "    listen 127.0.0.1:" +
               p +
               ";\n"
               // nginx reads the whole entity before it passes the request on; the answer names its length.
               "    location = /post { proxy_pass http://127.0.0.1:" +
               p +
               "/count; }\n"
               "    location = /count { return 200 \"accepted $content_length\\n\"; }\n"
               // Static files answer POST through the error page of the method check.
               "    location /files/ { alias " +
               d +
               "/; error_page 405 =200 $uri; }\n"
               // Something added after the body leaves the length unknown: the reply is chunked.
               "    location /chunked/ { alias " +
               d +
               "/; error_page 405 =200 $uri; addition_types *; add_after_body /files/empty; }\n"
               "    location = /auth {\n"
               "      if ($http_proxy_authorization = \"\") { add_header Proxy-Connection close always;\n"
               "        add_header Proxy-Authenticate NTLM always; return 407; }\n"
               "      if ($http_proxy_authorization = \"NTLM T1\") {\n"
               "        add_header Proxy-Authenticate \"NTLM T2\" always; return 407; }\n"
               "      return 200 \"authorized $connection_requests\\n\";\n"
               "    }\n"
               "  }\n";
    }
};

struct Outcome {
    int status = 0;
    std::string reason;
    std::map<std::string, std::string> headers;
    std::string body;
};

Outcome Finish(CHTTPResponse& response) {
    Outcome outcome;
    outcome.status = response.GetStatus();
    outcome.reason = response.GetReason();
    outcome.headers = response.GetHeaders();
    char buffer[8192];
    while (size_t n = response.Read(sizeof buffer, buffer))
        outcome.body.append(buffer, n);
    return outcome;
}

// A scheme that answers each round with the next of its credentials; complete at the last.
class RoundsAuthenticate : public CHTTPAuthenticate {
public:
    explicit RoundsAuthenticate(std::vector<std::string> rounds) : m_rounds(std::move(rounds)) {}
    std::unique_ptr<CHTTPAuthenticate> Clone() const override {
        return std::make_unique<RoundsAuthenticate>(m_rounds);
    }
    std::string GetScheme() const override { return "NTLM"; }
    std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse*) override {
        if (m_next == m_rounds.size())
            return nullptr;
        return std::make_unique<CHTTPAuthResponse>(m_rounds[m_next++]);
    }

private:
    std::vector<std::string> m_rounds;
    size_t m_next = 0;
};

// A stand-in for the schemes' challenge answer: the one registered prototype answers every round.
class NtlmRoundsAnswerer : public IHTTPChallengeAnswerer {
public:
    bool Answer(CHTTPConnection& connection, CHTTPRequest& request, CHTTPResponse& response) override {
        CHTTPRequest::Authorization current = request.TakeAuthorization();
        if (!current.authenticator)
            current.authenticator = connection.CloneAuthenticator("NTLM", response);
        if (!current.authenticator)
            throw CHTTPAuthNoAuthenticatorException("NTLM");
        std::unique_ptr<CHTTPAuthResponse> answer = current.authenticator->Respond(current.response.get());
        if (!answer)
            throw CHTTPAuthFailedException();
        request.SetAuthorization(std::move(current.authenticator), std::move(answer),
                                 response.GetStatusNow() == 407);
        return true;
    }
};

class HttpConnectionE2E : public CataloguesInstalled {
protected:
    static void SetUpTestSuite() {
        if (loopback::Installed("nginx") && loopback::Installed("tinyproxy"))
            s_servers = new LocalServers();
    }
    static void TearDownTestSuite() {
        delete s_servers;
        s_servers = nullptr;
    }
    void SetUp() override {
        if (s_servers == nullptr)
            GTEST_SKIP() << "nginx and tinyproxy are not installed";
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
        // After what TearDown undoes, which runs whenever the servers exist.
        ASSERT_TRUE(s_servers->Running());
    }
    void TearDown() override {
        if (s_servers == nullptr)
            return;
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
        CataloguesInstalled::TearDown();
    }

    // One POST of `entity` to `path`, through tinyproxy when `proxy`.
    static Outcome Post(const std::string& path, const std::string& entity, bool proxy = false,
                        uint64_t* entityBytes = nullptr) {
        CHTTPRequest request(0);
        request.Write(entity);
        CHTTPConnection connection(s_servers->URI(path), proxy);
        EXPECT_EQ(connection.UsesProxy(), proxy);
        std::shared_ptr<CHTTPResponse> response = connection.Submit(request, s_servers->URI(path));
        Outcome outcome = Finish(*response);
        if (entityBytes != nullptr)
            *entityBytes = request.GetEntityBytesWritten();
        return outcome;
    }
    // The last log line that starts with `start`; nginx writes it once the reply has gone out, so
    // it may come a moment after the client has read the reply.
    static std::string LogLine(const std::string& start) {
        std::string found;
        for (int i = 0; i < 100 && found.empty(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::istringstream log(s_servers->AccessLog());
            std::string line;
            while (std::getline(log, line))
                if (line.rfind(start, 0) == 0)
                    found = line;
        }
        return found;
    }

    static LocalServers* s_servers;
};

LocalServers* HttpConnectionE2E::s_servers = nullptr;

TEST_F(HttpConnectionE2E, LargeBodiesByLengthAndChunked) {
    struct Row {
        const char* path;
        const char* framing; // the header that frames the reply
    } rows[] = {
        {"/files/large.bin", "content-length"},
        {"/chunked/large.bin", "transfer-encoding"},
    };
    for (const Row& row : rows) {
        Outcome x = Post(row.path, "x");
        EXPECT_EQ(x.status, 200) << row.path;
        EXPECT_EQ(x.headers.count(row.framing), 1u) << row.path;
        EXPECT_EQ(x.body.size(), s_servers->Large().size()) << row.path;
        EXPECT_TRUE(x.body == s_servers->Large()) << row.path;
    }
    EXPECT_EQ(Post("/files/large.bin", "x").headers["content-length"], std::to_string(kLargeBody));
    EXPECT_EQ(Post("/chunked/large.bin", "x").headers["transfer-encoding"], "chunked");
}

TEST_F(HttpConnectionE2E, PostIsAcceptedWhole) {
    std::string entity(1024 * 1024 + 17, 'p');
    uint64_t written = 0;
    Outcome x = Post("/post?id=1", entity, false, &written);
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "accepted 1048593\n");
    EXPECT_EQ(written, entity.size());
    // nginx read the announced length: request line and headers plus the whole entity.
    std::istringstream line(LogLine("POST /post?id=1 "));
    std::string method, uri;
    size_t requestLength = 0, contentLength = 0;
    line >> method >> uri >> requestLength >> contentLength;
    EXPECT_EQ(method, "POST");
    EXPECT_EQ(uri, "/post?id=1");
    EXPECT_EQ(contentLength, entity.size());
    EXPECT_GT(requestLength, entity.size());
}

TEST_F(HttpConnectionE2E, ThroughTinyproxyWithTheAbsoluteURI) {
    SetProxySettings(std::make_unique<CManualProxySettings>("127.0.0.1", s_servers->ProxyPort()));
    Outcome x = Post("/post?via=proxy", "through", true);
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.body, "accepted 7\n");
    EXPECT_NE(x.headers["via"].find("tinyproxy"), std::string::npos) << x.headers["via"];
    // The proxy took the absolute URI and passed the request on with its own Via line.
    std::string line = LogLine("POST /post?via=proxy ");
    EXPECT_NE(line.find(" 7 \"1.1 "), std::string::npos) << line;
    EXPECT_NE(line.find("tinyproxy"), std::string::npos) << line;
}

TEST_F(HttpConnectionE2E, ProxyChallengeRoundsKeepTheConnectionAlive) {
    CHTTPRequest request(0);
    request.Write("data");
    CHTTPConnection connection(s_servers->URI("/auth"), false);
    connection.SetChallengeAnswerer(std::make_unique<NtlmRoundsAnswerer>());
    connection.AddAuthenticator(std::make_shared<RoundsAuthenticate>(std::vector<std::string>{"T1", "T3"}));
    std::shared_ptr<CHTTPResponse> response = connection.Submit(request, s_servers->URI("/auth"));
    Outcome x = Finish(*response);
    EXPECT_EQ(x.status, 200);
    // The first challenge said "proxy-connection: close"; the two rounds after it shared one
    // kept-alive connection, whose second request this was.
    EXPECT_EQ(x.body, "authorized 2\n");
}

} // namespace
