// Real servers from the system's packages, started by a test on 127.0.0.1: nginx with the
// locations a test gives, and tinyproxy in front of it. Each runs in the foreground as a child of
// the test, with its configuration, logs and temporary files in a folder of its own that goes with
// the object.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
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

namespace loopback {

// A port that nothing listens on at the moment of asking.
inline uint16_t FreePort() {
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

// A socket listening on 127.0.0.1 on a port of the system's choosing, which `port` receives.
inline int Listen(int backlog, uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, backlog), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Whether `fd` has something to read (or has ended) within `ms` milliseconds.
inline bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// One request of a scripted peer (header block and a body of its lower-case "content-length"), or ""
// when the client closed or went quiet for 5 seconds. The header block is read a byte at a time so
// that nothing of a following request is taken.
inline std::string ReadRequest(int fd) {
    std::string bytes;
    char c[4096];
    size_t end = std::string::npos;
    size_t length = 0;
    while (end == std::string::npos || bytes.size() < end + 4 + length) {
        if (!WaitReadable(fd, 5000))
            return "";
        ssize_t n = ::recv(fd, c, end == std::string::npos ? 1 : sizeof c, 0);
        if (n <= 0)
            return "";
        bytes.append(c, static_cast<size_t>(n));
        if (end == std::string::npos && (end = bytes.find("\r\n\r\n")) != std::string::npos) {
            size_t at = bytes.find("content-length: ");
            length = at < end ? std::stoul(bytes.substr(at + 16)) : 0;
        }
    }
    return bytes;
}

inline bool Accepts(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

inline bool Installed(const char* program) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

inline void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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

// nginx and tinyproxy on free ports. `prepare` writes whatever files the locations serve into the
// folder; `httpBlock` gives the lines inside nginx's http block after the common ones (log format
// name "px", temporary paths), the server's "listen" line included, from the folder and nginx's port;
// `proxyLines` are added to tinyproxy's configuration.
class NginxAndTinyproxy {
public:
    using Prepare = std::function<void(const std::string& dir)>;
    using HttpBlock = std::function<std::string(const std::string& dir, uint16_t port)>;

    NginxAndTinyproxy(const char* folderTemplate, const Prepare& prepare, const std::string& logFormat,
                      const HttpBlock& httpBlock, const std::string& proxyLines) {
        std::string pattern = folderTemplate;
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a folder from " << folderTemplate;
            return;
        }
        m_dir = pattern;
        // nginx's workers may run as another user when the tests run as root.
        ::chmod(m_dir.c_str(), 0755);
        if (prepare)
            prepare(m_dir);
        m_nginxPort = FreePort();
        m_proxyPort = FreePort();
        const std::string& d = m_dir;
        WriteTextFile(d + "/nginx.conf",
                      "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
                          "/error.log;\nevents { worker_connections 64; }\nhttp {\n" + "  log_format px '" +
                          logFormat + "';\n  access_log " + d + "/access.log px;\n  client_body_temp_path " +
                          d + "/body;\n  proxy_temp_path " + d + "/proxy;\n  fastcgi_temp_path " + d +
                          "/fcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n  scgi_temp_path " + d + "/scgi;\n" +
                          httpBlock(d, m_nginxPort) + "}\n");
        WriteTextFile(d + "/tinyproxy.conf",
                      "Port " + std::to_string(m_proxyPort) +
                          "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n" + proxyLines +
                          "PidFile \"" + d + "/tinyproxy.pid\"\nLogFile \"" + d +
                          "/tinyproxy.log\"\nLogLevel Info\n");
        m_nginx = std::make_unique<Child>(
            std::vector<std::string>{"nginx", "-c", d + "/nginx.conf", "-p", d + "/"}, m_nginxPort);
        m_proxy = std::make_unique<Child>(
            std::vector<std::string>{"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}, m_proxyPort);
    }
    ~NginxAndTinyproxy() {
        m_proxy.reset();
        m_nginx.reset();
        if (m_dir.empty())
            return;
        std::string command = "rm -rf '" + m_dir + "'";
        if (std::system(command.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << m_dir;
    }
    NginxAndTinyproxy(const NginxAndTinyproxy&) = delete;
    NginxAndTinyproxy& operator=(const NginxAndTinyproxy&) = delete;

    std::string URI(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_nginxPort) + path;
    }
    uint16_t ProxyPort() const { return m_proxyPort; }
    bool Running() const { return Accepts(m_nginxPort) && Accepts(m_proxyPort); }
    std::string AccessLog() const { return ReadTextFile(m_dir + "/access.log"); }
    std::string ProxyLog() const { return ReadTextFile(m_dir + "/tinyproxy.log"); }

private:
    std::string m_dir;
    uint16_t m_nginxPort = 0;
    uint16_t m_proxyPort = 0;
    std::unique_ptr<Child> m_nginx;
    std::unique_ptr<Child> m_proxy;
};

} // namespace loopback
