// Whole uploads that must authenticate, as the control runs them: the Basic prototype receives the
// proxy credentials of the stored preferences, the endpoint carries it under "Basic" with an
// authorization listener, and an upload queue moves two pictures. The peers, all on 127.0.0.1 and
// children of the test: the reference server, demanding Basic credentials itself or not; nginx set up
// as a forward proxy that demands them with 407 and reads every refused entity; and tinyproxy with
// "BasicAuth", which refuses wrong credentials with 401 and resets a connection whose entity it left
// unread. The preferences live in a registry store of the test's own.
#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "net/http_basic_authenticate.h"
#include "net/http_connection.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "platform/registry.h"
#include "tests/support/catalogues.h"
#include "tests/support/e2e_support.h"
#include "tests/support/loopback_servers.h"
#include "tests/support/ref_server.h"
#include "tests/support/ref_server_state.h"
#include "tests/support/scoped_temp_folder.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/upload_job.h"
#include "upload/upload_queue.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using e2e::RandomBytes;

using Counts = std::map<std::string, int>;

const std::string kContinuation =
    "HTTP authorization failed. Please verify your proxy settings or try the simple upload page instead.";
const std::string kFailed = "HTTP authorization failed. Please verify your proxy settings (especially the "
                            "username and password fields) or try the simple upload page instead.";

// What the reference server's servlets were asked, from its request log: "servlet outcome" counts.
Counts ServletOutcomes(const RefServer& server) {
    Counts counts;
    refserver::Json state =
        refserver::Json::Parse(refserver::ControlExchange(server.Port(), "GET", "/_state"));
    for (const refserver::Json& request : state["log"].Items())
        ++counts[request["servlet"].AsString() + " " + request["outcome"].AsString()];
    return counts;
}

// Lines counted by their text.
Counts CountLines(const std::string& text) {
    Counts counts;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        ++counts[text.substr(at, end - at)];
    return counts;
}

// nginx as a forward proxy that lets through only requests carrying "Proxy-Authorization: Basic" for
// "user" and "password", and answers the others 407 with a challenge for the realm "proxy" (nginx
// sends that status without a reason phrase); tinyproxy demanding the same credentials. Each request
// that reached nginx is logged as its status and path.
class Proxies : public loopback::NginxAndTinyproxy {
public:
    Proxies()
        : NginxAndTinyproxy(
              "/tmp/px-auth-proxies-XXXXXX", nullptr, "$status $uri",
              [](const std::string&, uint16_t port) {
                  return "  map $http_proxy_authorization $proxy_user {\n"
                         "    \"Basic dXNlcjpwYXNzd29yZA==\" user;\n    default \"\";\n  }\n"
                         "  server {\n    listen 127.0.0.1:" +
                         std::to_string(port) +
                         ";\n    client_max_body_size 64m;\n    location / {\n"
                         "      if ($proxy_user = \"\") {\n"
                         "        add_header Proxy-Authenticate 'Basic realm=\"proxy\"' always;\n"
                         "        return 407;\n      }\n"
                         "      proxy_set_header Proxy-Authorization \"\";\n"
                         "      proxy_pass http://$http_host;\n    }\n  }\n";
              },
              "BasicAuth user password\n") {}

    uint16_t NginxPort() const {
        std::string uri = URI("");
        return static_cast<uint16_t>(std::stoi(uri.substr(uri.rfind(':') + 1)));
    }
    // The lines that nginx has logged after the first `from` bytes of its log, once there are
    // `expected` of them or two seconds have passed: it logs a request once its reply has gone out.
    Counts NginxRequests(size_t from, int expected) const {
        std::string log;
        for (int i = 0; i < 100; ++i) {
            log = AccessLog().substr(from);
            if (std::count(log.begin(), log.end(), '\n') >= expected)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return CountLines(log);
    }
    // Requests that tinyproxy has read, whatever it did with them.
    Counts TinyproxyRequests() const {
        Counts counts;
        std::string log = ProxyLog();
        const std::string mark = "]: Request (file descriptor ";
        // "Request (file descriptor 5): POST http://127.0.0.1:40663/GetImageID HTTP/1.1"
        for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
            size_t slash = log.find('/', log.find("://", at) + 3);
            size_t end = log.find(' ', slash);
            if (end == std::string::npos)
                break;
            ++counts[log.substr(slash + 1, end - slash - 1)];
        }
        return counts;
    }
};

// What the control builds at start-up for uploading: the Basic prototype that receives the proxy
// credentials, the proxy settings from the stored preferences, and the endpoint with the prototype
// under "Basic" and an authorization listener that records every report.
class AuthEngine {
public:
    explicit AuthEngine(const PluginParameters& parameters) {
        m_basic = std::make_shared<CHTTPBasicAuthenticate>();
        CHTTPBasicAuthenticate::ReceiveProxyCredentials(m_basic);
        CNameValueDocument preferences;
        LoadPreferences(preferences);
        ApplyProxyPreferences(preferences);
        m_endpoint = UploadEndpoint::FromParameters(parameters, "Pixolane e2e");
        m_endpoint.SetListener("Basic", m_basic);
        m_endpoint.SetAuthorizationListener([this](bool proxy, const CException& error) {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(std::string(proxy ? "proxy: " : "server: ") + error.GetText());
        });
    }
    ~AuthEngine() {
        SetProxyCredentialsHook(nullptr);
        SetProxySettings(nullptr);
    }
    AuthEngine(const AuthEngine&) = delete;
    AuthEngine& operator=(const AuthEngine&) = delete;

    const UploadEndpoint& GetEndpoint() const { return m_endpoint; }
    CHTTPBasicAuthenticate& GetBasic() { return *m_basic; }
    std::vector<std::string> Reports() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    std::shared_ptr<CHTTPBasicAuthenticate> m_basic;
    UploadEndpoint m_endpoint;
    std::mutex m_mutex;
    std::vector<std::string> m_reports; // guarded by m_mutex: told on the connections' workers
};

struct Picture {
    std::string path;
    std::string bytes;
};

// How the two pictures of one run ended.
struct Outcome {
    std::vector<UploadStatus> statuses;
    std::vector<std::string> texts;   // error texts
    std::vector<std::string> stored;  // the bytes the server holds under each picture's identifier
    std::vector<std::string> reports; // what the authorization listener was told
};

class AuthE2E : public CataloguesInstalled {
protected:
    static void SetUpTestSuite() {
        if (loopback::Installed("nginx") && loopback::Installed("tinyproxy"))
            s_proxies = new Proxies();
    }
    static void TearDownTestSuite() {
        delete s_proxies;
        s_proxies = nullptr;
    }

    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_folder = std::make_unique<testsupport::ScopedTempFolder>("px-auth-e2e");
        m_dir = m_folder->Path();
        // The test's own store: the user's preferences are never read or written.
        platform::SetRegistryPath(m_dir + "/registry.db");
        CWinSockLibrary::Acquire();
        CHTTPConnection::SetRetryPauseScaleForTests(0.01);
        m_pictures = {{m_dir + "/small.jpg", RandomBytes(3000, 1)},
                      {m_dir + "/large.jpg", RandomBytes(600000, 2)}};
        for (const Picture& picture : m_pictures)
            loopback::WriteTextFile(picture.path, picture.bytes);
    }
    void TearDown() override {
        CHTTPConnection::SetRetryPauseScaleForTests(1.0);
        CWinSockLibrary::Release();
        platform::SetRegistryPath("");
        m_folder.reset();
        CataloguesInstalled::TearDown();
    }

    // Stores the proxy preferences as the preferences dialog does; port 0 stores the state "none".
    static void StoreProxyPreferences(uint16_t port, const std::string& user, const std::string& password) {
        CNameValueDocument preferences;
        SetProxyState(preferences, port != 0 ? kProxyStateManual : kProxyStateNone);
        if (port != 0)
            SetProxyAddressAndPort(preferences, "127.0.0.1", std::to_string(port));
        SetProxyUsername(preferences, user);
        SetProxyPassword(preferences, password);
        SavePreferences(preferences);
    }

    static PluginParameters Parameters(const RefServer& server) {
        PluginParameters parameters;
        parameters.d_server = server.Server();
        parameters.d_authenticationID = "auth-1";
        parameters.d_sessionID = "session-1";
        parameters.d_uid = "user-1";
        parameters.d_maxConnections = 2;
        parameters.d_timeout = 10000;
        return parameters;
    }

    // Starts the engine from the stored preferences, lets `prepare` change its Basic prototype, and
    // uploads both pictures over two connections until neither is pending.
    template <typename Prepare>
    Outcome Upload(const RefServer& server, Prepare prepare) {
        Outcome outcome;
        AuthEngine engine(Parameters(server));
        prepare(engine.GetBasic());
        {
            UploadQueue queue(Parameters(server), engine.GetEndpoint());
            std::vector<std::shared_ptr<UploadJob>> jobs;
            for (const Picture& picture : m_pictures) {
                queue.Add(picture.path, "");
                jobs.push_back(queue.Find(picture.path));
            }
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
            for (queue.Refresh(); queue.GetPendingCount() > 0 && std::chrono::steady_clock::now() < deadline;
                 queue.Refresh())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(queue.GetPendingCount(), 0u);
            for (const std::shared_ptr<UploadJob>& job : jobs) {
                outcome.statuses.push_back(job->GetStatus());
                outcome.texts.push_back(job->GetErrorText());
                const std::string& imageID = job->GetItem().GetImageID();
                outcome.stored.push_back(imageID.empty() ? "" : server.StoredBytes(imageID));
            }
        }
        outcome.reports = engine.Reports();
        return outcome;
    }
    Outcome Upload(const RefServer& server) {
        return Upload(server, [](CHTTPBasicAuthenticate&) {});
    }

    // Both pictures complete, the server holds exactly their bytes, and no failure was reported.
    void ExpectComplete(const Outcome& x) const {
        EXPECT_EQ(x.statuses, std::vector<UploadStatus>(2, UploadStatus::Complete));
        for (size_t i = 0; i < x.stored.size(); ++i)
            EXPECT_TRUE(x.stored[i] == m_pictures[i].bytes)
                << m_pictures[i].path << ": " << x.stored[i].size() << " bytes stored";
        EXPECT_TRUE(x.reports.empty());
    }
    // Both pictures failed with `text`, and each was reported once, as `report`.
    static void ExpectFailed(const Outcome& x, const std::string& text, const std::string& report) {
        EXPECT_EQ(x.statuses, std::vector<UploadStatus>(2, UploadStatus::Failed));
        EXPECT_EQ(x.texts, std::vector<std::string>(2, text));
        EXPECT_EQ(x.reports, std::vector<std::string>(2, report));
    }

    static Proxies* s_proxies;
    std::unique_ptr<testsupport::ScopedTempFolder> m_folder;
    std::string m_dir;
    std::vector<Picture> m_pictures;
};

Proxies* AuthE2E::s_proxies = nullptr;

TEST_F(AuthE2E, ProxyDemandingBasicAnsweredFromTheStoredPreferences) {
    // In the test's own body: a skip ends only the function that says it.
    if (s_proxies == nullptr)
        GTEST_SKIP() << "nginx and tinyproxy are not installed";
    ASSERT_TRUE(s_proxies->Running());
    struct Row {
        const char* what;
        const char* user;
        const char* password;
        std::string report; // each picture's one report; none when they complete
        Counts proxied;     // requests that reached nginx, for both pictures together
        Counts served;      // what the reference server's servlets were asked
    } rows[] = {
        // every message is challenged once, answered with the preferences' credentials and passed on
        {"the right credentials",
         "user",
         "password",
         "",
         {{"407 /GetImageID", 2}, {"200 /GetImageID", 2}, {"407 /UploadImage", 2}, {"200 /UploadImage", 2}},
         {{"GetImageID ok", 2}, {"UploadImage ok", 2}}},
        // refused once answered: the second 407 is final, told once per connection, never retried
        // although the identifier query allows five retries, and the picture goes no further
        {"a wrong password", "user", "wrong", "proxy: " + kContinuation, {{"407 /GetImageID", 4}}, {}},
        // nothing to answer with: the first 407 is final
        {"no credentials", "", "", "proxy: " + kFailed, {{"407 /GetImageID", 2}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RefServer server;
        ASSERT_TRUE(server.IsListening());
        StoreProxyPreferences(s_proxies->NginxPort(), row.user, row.password);
        size_t logBefore = s_proxies->AccessLog().size();
        Outcome x = Upload(server);
        if (row.report.empty())
            ExpectComplete(x);
        else // with the final reply's reason phrase, which nginx leaves empty for 407
            ExpectFailed(x, "\r\n", row.report);
        int expected = 0;
        for (const auto& [line, count] : row.proxied)
            expected += count;
        EXPECT_EQ(s_proxies->NginxRequests(logBefore, expected), row.proxied);
        EXPECT_EQ(ServletOutcomes(server), row.served);
    }
}

TEST_F(AuthE2E, ServerDemandingBasicAnsweredForItsRealm) {
    struct Row {
        const char* what;
        const char* realm; // of the credentials set on the prototype
        const char* password;
        std::string report; // each picture's one report; none when they complete
        Counts served;
    } rows[] = {
        // each message is refused once, then answered with the credentials of the server's realm
        {"the right credentials for the realm",
         "photo upload",
         "s3cret",
         "",
         {{"GetImageID unauthorized", 2},
          {"GetImageID ok", 2},
          {"UploadImage unauthorized", 2},
          {"UploadImage ok", 2}}},
        // the default realm answers a realm without credentials of its own
        {"the right credentials for every realm",
         "",
         "s3cret",
         "",
         {{"GetImageID unauthorized", 2},
          {"GetImageID ok", 2},
          {"UploadImage unauthorized", 2},
          {"UploadImage ok", 2}}},
        // refused once answered: the second 401 is final and told once per connection
        {"a wrong password",
         "photo upload",
         "wrong",
         "server: " + kContinuation,
         {{"GetImageID unauthorized", 4}}},
        // credentials only for another realm: nothing to answer with
        {"credentials for another realm",
         "elsewhere",
         "s3cret",
         "server: " + kFailed,
         {{"GetImageID unauthorized", 2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RefServer server({"--basic-auth", "alice:s3cret", "--basic-realm", "photo upload"});
        ASSERT_TRUE(server.IsListening());
        StoreProxyPreferences(0, "", "");
        Outcome x = Upload(server, [&row](CHTTPBasicAuthenticate& basic) {
            basic.SetCredentials(row.realm, "alice", row.password);
        });
        if (row.report.empty())
            ExpectComplete(x);
        else // with the final reply's reason phrase: the 401 carries no fields
            ExpectFailed(x, "Unauthorized\r\n", row.report);
        EXPECT_EQ(ServletOutcomes(server), row.served);
    }
}

// Counts of what tinyproxy read since `before`.
Counts Since(const Counts& now, const Counts& before) {
    Counts added;
    for (const auto& [servlet, count] : now) {
        auto earlier = before.find(servlet);
        if (int n = count - (earlier != before.end() ? earlier->second : 0); n > 0)
            added[servlet] = n;
    }
    return added;
}

// tinyproxy refuses wrong credentials with 401 and a challenge of its own ("Basic realm=Tinyproxy"),
// so the failure is told as the server's, and closes without reading the entity, which resets the
// connection under the client's reading of the refusal, or not, as the timing goes: the cut reply is a
// network error that the identifier query retries, and each retry is challenged and refused anew. How
// many rounds run varies; what stays is checked.
TEST_F(AuthE2E, TinyproxyRefusingAWrongPassword) {
    // In the test's own body: a skip ends only the function that says it.
    if (s_proxies == nullptr)
        GTEST_SKIP() << "nginx and tinyproxy are not installed";
    ASSERT_TRUE(s_proxies->Running());
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    StoreProxyPreferences(s_proxies->ProxyPort(), "user", "wrong");
    Counts before = s_proxies->TinyproxyRequests();
    Outcome x = Upload(server);
    EXPECT_EQ(x.statuses, std::vector<UploadStatus>(2, UploadStatus::Failed));
    for (const std::string& text : x.texts) {
        // the refusal delivered whole, or the reply that the last allowed attempt found cut
        EXPECT_TRUE(text == "Unauthorized\r\n" || text == "The reply from the HTTP server was truncated\r\n")
            << text;
    }
    // At least one report per picture, at most one per attempt that the identifier query allows.
    EXPECT_GE(x.reports.size(), 2u);
    EXPECT_LE(x.reports.size(), 12u);
    EXPECT_EQ(x.reports, std::vector<std::string>(x.reports.size(), "server: " + kContinuation));
    // Nothing got past the proxy, the pictures went no further than their identifier query, and no
    // attempt sent more than the request and its answer.
    Counts proxied = Since(s_proxies->TinyproxyRequests(), before);
    EXPECT_EQ(proxied.size(), 1u);
    EXPECT_GE(proxied["GetImageID"], 4);
    EXPECT_LE(proxied["GetImageID"], 24);
    EXPECT_TRUE(ServletOutcomes(server).empty());
}

// tinyproxy answers a request without credentials with 407 and resets the connection, having left the
// entity unread: the cut reply to an answered challenge must send the request again on a new socket,
// not count as a network failure (the picture data allows no retry).
TEST_F(AuthE2E, TinyproxyAcceptingTheRightCredentials) {
    // In the test's own body: a skip ends only the function that says it.
    if (s_proxies == nullptr)
        GTEST_SKIP() << "nginx and tinyproxy are not installed";
    ASSERT_TRUE(s_proxies->Running());
    RefServer server;
    ASSERT_TRUE(server.IsListening());
    StoreProxyPreferences(s_proxies->ProxyPort(), "user", "password");
    Counts before = s_proxies->TinyproxyRequests();
    Outcome x = Upload(server);
    ExpectComplete(x);
    // Each message is challenged and sent again with the credentials; a request cut while tinyproxy
    // refuses it unread is retried as the message allows, so the counts vary, but whatever passed the
    // proxy was served.
    EXPECT_GE(Since(s_proxies->TinyproxyRequests(), before)["GetImageID"], 4);
    Counts served = ServletOutcomes(server);
    EXPECT_EQ(served["UploadImage ok"], 2);
    for (const auto& [request, count] : served)
        EXPECT_TRUE(request.ends_with(" ok")) << request;
}

} // namespace
