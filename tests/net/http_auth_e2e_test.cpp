// Basic authentication against real peers: tinyproxy demanding credentials of its clients, and nginx
// demanding them for one location, both from the system's packages, started by the tests as the
// current user from a temporary folder on free ports of 127.0.0.1. Skipped when they are not installed.
#include "foundation/listener_list.h"
#include "net/http_basic_authenticate.h"
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
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

size_t CountOccurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// nginx with an open location and one behind Basic authentication (realm "pixolane", user "alice",
// password "s3cret"); tinyproxy in front of it, demanding the user "user" with the password "password".
class LocalServers : public loopback::NginxAndTinyproxy {
public:
    LocalServers()
        : NginxAndTinyproxy(
              "/tmp/px-auth-e2e-XXXXXX",
              [](const std::string& d) {
                  loopback::WriteTextFile(d + "/htpasswd", "alice:{PLAIN}s3cret\n");
                  std::filesystem::permissions(d + "/htpasswd", std::filesystem::perms(0644));
              },
              "$request_uri $status",
              [](const std::string& d, uint16_t port) {
                  const std::string p = std::to_string(port);
                  return "  server {\n    listen 127.0.0.1:" + p +
                         ";\n    location = /open { return 200 \"open\\n\"; }\n"
                         "    location = /private { auth_basic \"pixolane\"; auth_basic_user_file " +
                         d + "/htpasswd; proxy_pass http://127.0.0.1:" + p + "/open; }\n  }\n";
              },
              "BasicAuth user password\n") {}
};

class FailureLog : public CTypedListener<CHTTPAuthFailedEvent> {
public:
    explicit FailureLog(std::vector<std::string>& log) : m_log(log) {}

protected:
    void OnEvent(const CHTTPAuthFailedEvent& event) override {
        m_log.push_back(std::string(event.IsProxy() ? "proxy: " : "server: ") +
                        event.GetException().GetText());
    }

private:
    std::vector<std::string>& m_log;
};

struct Outcome {
    int status = 0;
    std::string body;
    std::vector<std::string> failures;
};

const std::string kContinuation =
    "HTTP authorization failed. Please verify your proxy settings or try the simple upload page instead.";
const std::string kFailed = "HTTP authorization failed. Please verify your proxy settings (especially the "
                            "username and password fields) or try the simple upload page instead.";

class HttpAuthE2E : public CataloguesInstalled {
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

    // One POST of `entity` to `path` with a Basic prototype holding `user` and `password` for every
    // realm (none when both are empty), through tinyproxy when `proxy`. The request allows five
    // retries, so that any retry beyond the rules would show.
    static Outcome Post(const std::string& path, bool proxy, const std::string& user,
                        const std::string& password, const std::string& entity) {
        SetProxySettings(proxy ? std::unique_ptr<CProxySettings>(std::make_unique<CManualProxySettings>(
                                     "127.0.0.1", s_servers->ProxyPort()))
                               : std::make_unique<CNoProxySettings>());
        auto basic = std::make_shared<CHTTPBasicAuthenticate>();
        basic->ApplyProxyCredentials(user, password);
        CHTTPRequest request(5);
        request.Write(entity);
        Outcome outcome;
        CHTTPConnection connection(s_servers->URI(path), proxy);
        EXPECT_EQ(connection.UsesProxy(), proxy);
        connection.AddAuthenticator(basic);
        connection.GetAuthFailedListeners().AddListener(std::make_unique<FailureLog>(outcome.failures));
        std::shared_ptr<CHTTPResponse> response = connection.Submit(request, s_servers->URI(path));
        outcome.status = response->GetStatus();
        char buffer[4096];
        while (size_t n = response->Read(sizeof buffer, buffer))
            outcome.body.append(buffer, n);
        return outcome;
    }

    static LocalServers* s_servers;
};

LocalServers* HttpAuthE2E::s_servers = nullptr;

TEST_F(HttpAuthE2E, TinyproxyDemandingBasicCredentials) {
    struct Row {
        const char* what;
        const char* user;
        const char* password;
        int status;
        std::vector<std::string> failures;
        size_t requests; // that reached the proxy
    } rows[] = {
        {"the right credentials", "user", "password", 200, {}, 2},
        // refused once answered: tinyproxy refuses credentials with a 401 and a server's challenge,
        // which is final after a complete answer
        {"a wrong password", "user", "wrong", 401, {"server: " + kContinuation}, 2},
        // nothing to answer with
        {"no credentials", "", "", 407, {"proxy: " + kFailed}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        size_t before = CountOccurrences(s_servers->ProxyLog(), "Request (file descriptor");
        // tinyproxy answers a refusal without reading the entity and closes at once, which resets the
        // connection under a client still reading the close-delimited reply: a network error that the
        // connection would retry. Without an entity the close is orderly.
        Outcome x = Post("/open", true, row.user, row.password, "");
        EXPECT_EQ(x.status, row.status);
        if (row.status == 200) {
            EXPECT_EQ(x.body, "open\n");
        }
        EXPECT_EQ(x.failures, row.failures);
        // tinyproxy logs each request as it reads it, before it answers
        EXPECT_EQ(CountOccurrences(s_servers->ProxyLog(), "Request (file descriptor") - before, row.requests);
    }
}

TEST_F(HttpAuthE2E, NginxDemandingBasicCredentials) {
    struct Row {
        const char* what;
        const char* user;
        const char* password;
        int status;
        std::vector<std::string> failures;
        size_t requests; // that reached nginx at /private
    } rows[] = {
        {"the right credentials", "alice", "s3cret", 200, {}, 2},
        {"a wrong password", "alice", "wrong", 401, {"server: " + kContinuation}, 2},
        {"no credentials", "", "", 401, {"server: " + kFailed}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        size_t before = CountOccurrences(s_servers->AccessLog(), "/private ");
        Outcome x = Post("/private", false, row.user, row.password, "entity");
        EXPECT_EQ(x.status, row.status);
        if (row.status == 200) {
            EXPECT_EQ(x.body, "open\n");
        }
        EXPECT_EQ(x.failures, row.failures);
        // nginx logs a request once its reply has gone out, so the last line may come a moment later
        size_t seen = 0;
        for (int i = 0; i < 100 && (seen = CountOccurrences(s_servers->AccessLog(), "/private ") - before) <
                                       row.requests;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(seen, row.requests);
    }
}

} // namespace
