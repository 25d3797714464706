// Basic authentication against real peers: tinyproxy demanding credentials of its clients, and nginx
// demanding them for one location, both from the system's packages, started by the tests as the
// current user from a temporary folder on free ports of 127.0.0.1. Skipped when they are not installed.
#include "foundation/listener_list.h"
#include "foundation/network_exception.h"
#include "net/http_basic_authenticate.h"
#include "net/http_connection.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "tests/support/catalogues.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool Installed(const char* program) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t CountOccurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// A server program run in the foreground as a child of the test, stopped when the object goes.
class Child {
public:
    Child(std::vector<std::string> args, uint16_t port) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        for (int i = 0; i < 100 && m_pid > 0 && !Accepts(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Child() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM); // only the process this test started
        ::waitpid(m_pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

private:
    pid_t m_pid = -1;
};

// nginx with an open location and one behind Basic authentication (realm "pixolane", user "alice",
// password "s3cret"); tinyproxy in front of it, demanding the user "user" with the password "password".
class LocalServers {
public:
    LocalServers() {
        char dir[] = "/tmp/px-auth-e2e-XXXXXX";
        m_dir = ::mkdtemp(dir);
        // nginx's workers may run as another user when the tests run as root.
        ::chmod(m_dir.c_str(), 0755);
        m_nginxPort = FreePort();
        m_proxyPort = FreePort();
        WriteFile(m_dir + "/htpasswd", "alice:{PLAIN}s3cret\n");
        ::chmod((m_dir + "/htpasswd").c_str(), 0644);
        WriteFile(m_dir + "/nginx.conf", NginxConfig());
        WriteFile(m_dir + "/tinyproxy.conf", "Port " + std::to_string(m_proxyPort) +
                                                 "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
                                                 "Allow 127.0.0.1\nBasicAuth user password\nPidFile \"" +
                                                 m_dir + "/tinyproxy.pid\"\nLogFile \"" + m_dir +
                                                 "/tinyproxy.log\"\nLogLevel Info\n");
        m_nginx = std::make_unique<Child>(
            std::vector<std::string>{"nginx", "-c", m_dir + "/nginx.conf", "-p", m_dir + "/"}, m_nginxPort);
        m_proxy = std::make_unique<Child>(
            std::vector<std::string>{"tinyproxy", "-d", "-c", m_dir + "/tinyproxy.conf"}, m_proxyPort);
    }
    ~LocalServers() {
        m_proxy.reset();
        m_nginx.reset();
        std::string command = "rm -rf '" + m_dir + "'";
        if (std::system(command.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << m_dir;
    }

    std::string URI(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_nginxPort) + path;
    }
    uint16_t ProxyPort() const { return m_proxyPort; }
    bool Running() const { return Accepts(m_nginxPort) && Accepts(m_proxyPort); }
    // nginx's log lines: the request URI and the status.
    std::string AccessLog() const { return ReadFile(m_dir + "/access.log"); }
    std::string ProxyLog() const { return ReadFile(m_dir + "/tinyproxy.log"); }

private:
    std::string NginxConfig() const {
        const std::string& d = m_dir;
        const std::string port = std::to_string(m_nginxPort);
        return "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
               "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
               "  log_format px '$request_uri $status';\n  access_log " +
               d + "/access.log px;\n  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d +
               "/proxy;\n  fastcgi_temp_path " + d + "/fcgi;\n  uwsgi_temp_path " + d +
               "/uwsgi;\n  scgi_temp_path " + d + "/scgi;\n  server {\n    listen 127.0.0.1:" + port +
               ";\n    location = /open { return 200 \"open\\n\"; }\n"
               "    location = /private { auth_basic \"pixolane\"; auth_basic_user_file " +
               d + "/htpasswd; proxy_pass http://127.0.0.1:" + port + "/open; }\n  }\n}\n";
    }

    std::string m_dir;
    uint16_t m_nginxPort = 0;
    uint16_t m_proxyPort = 0;
    std::unique_ptr<Child> m_nginx;
    std::unique_ptr<Child> m_proxy;
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
        if (Installed("nginx") && Installed("tinyproxy"))
            s_servers = new LocalServers();
    }
    static void TearDownTestSuite() {
        delete s_servers;
        s_servers = nullptr;
    }
    void SetUp() override {
        if (s_servers == nullptr)
            GTEST_SKIP() << "nginx and tinyproxy are not installed";
        ASSERT_TRUE(s_servers->Running());
        CataloguesInstalled::SetUp();
        CWinSockLibrary::Acquire();
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
        connection.GetAuthFailedListeners().AddListener(new FailureLog(outcome.failures));
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
