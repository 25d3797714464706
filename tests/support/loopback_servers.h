// Real servers from the system's packages, started by a test on 127.0.0.1: nginx with the
// locations a test gives, and tinyproxy in front of it. Each runs in the foreground as a child of
// the test, with its configuration, logs and temporary files in a folder of its own that goes with
// the object. Also the few descriptor-based helpers of the scripted peers that predate
// testsupport::LoopbackStream; new tests use that instead.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/scoped_temp_folder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace loopback {

// A port that nothing listens on at the moment of asking.
inline uint16_t FreePort() {
    return testsupport::FreeLoopbackPort();
}

// A socket descriptor listening on 127.0.0.1 on a port of the system's choosing, which `port`
// receives. (On Windows the descriptor is the WinSock socket's value.)
int Listen(int backlog, uint16_t& port);

// Whether descriptor `fd` has something to read (or has ended) within `ms` milliseconds.
bool WaitReadable(int fd, int ms);

namespace detail {

constexpr double kRequestQuiet = 5.0; // seconds a scripted peer waits for the next bytes of a request

// The request parser of both ReadRequest forms: `receive` gets up to `max` bytes (a single byte
// while the header block is incomplete), "" when the client closed or went quiet.
template <typename Receive>
std::string ReadRequestWith(Receive receive) {
    std::string bytes;
    size_t end = std::string::npos;
    size_t length = 0;
    while (end == std::string::npos || bytes.size() < end + 4 + length) {
        std::string more = receive(end == std::string::npos ? 1 : 4096);
        if (more.empty())
            return "";
        bytes += more;
        if (end == std::string::npos && (end = bytes.find("\r\n\r\n")) != std::string::npos) {
            size_t at = bytes.find("content-length: ");
            length = at < end ? std::stoul(bytes.substr(at + 16)) : 0;
        }
    }
    return bytes;
}

} // namespace detail

// One request of a scripted peer (header block and a body of its lower-case "content-length"), or ""
// when the client closed or went quiet for 5 seconds. The header block is read a byte at a time so
// that nothing of a following request is taken.
std::string ReadRequest(int fd);
inline std::string ReadRequest(testsupport::LoopbackStream& stream) {
    return detail::ReadRequestWith(
        [&stream](size_t max) { return stream.Receive(detail::kRequestQuiet, max).bytes; });
}

inline bool Accepts(uint16_t port) {
    return testsupport::LoopbackAccepts(port);
}

inline bool Installed(const char* program) {
    return !testsupport::FindProgram(program, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}).empty();
}

inline void WriteTextFile(const std::string& path, const std::string& text) {
    testsupport::WriteWholeFile(path, text);
}

inline std::string ReadTextFile(const std::string& path) {
    return testsupport::ReadWholeFile(path);
}

// A server program run in the foreground as a child of the test, until it accepts on `port` (or
// five seconds pass); stopped when the object goes.
class Child {
public:
    Child(std::vector<std::string> args, uint16_t port) : m_process(std::move(args)) {
        for (int i = 0;
             i < 100 && m_process.GetState() == testsupport::ChildProcess::State::Running && !Accepts(port);
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

private:
    testsupport::ChildProcess m_process;
};

// nginx and tinyproxy on free ports. `prepare` writes whatever files the locations serve into the
// folder; `httpBlock` gives the lines inside nginx's http block after the common ones (log format
// name "px", temporary paths), the server's "listen" line included, from the folder as the servers
// see it (testsupport::HostPath) and nginx's port;
// `proxyLines` are added to tinyproxy's configuration.
class NginxAndTinyproxy {
public:
    using Prepare = std::function<void(const std::string& dir)>;
    using HttpBlock = std::function<std::string(const std::string& dir, uint16_t port)>;

    // `folderTemplate` names the folder as a pattern ("/tmp/name-XXXXXX"): its last part without
    // the X's becomes the folder's prefix.
    NginxAndTinyproxy(const char* folderTemplate, const Prepare& prepare, const std::string& logFormat,
                      const HttpBlock& httpBlock, const std::string& proxyLines)
        : m_folder(FolderPrefix(folderTemplate)) {
        if (m_folder.Path().empty())
            return;
        const std::string& d = m_folder.Path();
        // nginx's workers may run as another user when the tests run as root.
        std::error_code ignored;
        std::filesystem::permissions(d, std::filesystem::perms(0755), std::filesystem::perm_options::replace,
                                     ignored);
        if (prepare)
            prepare(d);
        // The servers are Linux programs: the paths in their configuration are theirs.
        const std::string h = testsupport::HostPath(d);
        m_nginxPort = FreePort();
        m_proxyPort = FreePort();
        // Under Wine the folder lies in the prefix, whose parents may be closed to other users (a
        // private home or checkout): the workers then run as the user who started nginx.
#ifdef _WIN32
        const std::string workerUser = "user root;\n";
#else
        const std::string workerUser;
#endif
        WriteTextFile(d + "/nginx.conf",
                      workerUser + "daemon off;\nworker_processes 1;\npid " + h + "/nginx.pid;\nerror_log " + h +
                          "/error.log;\nevents { worker_connections 64; }\nhttp {\n" + "  log_format px '" +
                          logFormat + "';\n  access_log " + h + "/access.log px;\n  client_body_temp_path " +
                          h + "/body;\n  proxy_temp_path " + h + "/proxy;\n  fastcgi_temp_path " + h +
                          "/fcgi;\n  uwsgi_temp_path " + h + "/uwsgi;\n  scgi_temp_path " + h + "/scgi;\n" +
                          httpBlock(h, m_nginxPort) + "}\n");
        WriteTextFile(d + "/tinyproxy.conf",
                      "Port " + std::to_string(m_proxyPort) +
                          "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n" + proxyLines +
                          "PidFile \"" + h + "/tinyproxy.pid\"\nLogFile \"" + h +
                          "/tinyproxy.log\"\nLogLevel Info\n");
        m_nginx = std::make_unique<Child>(
            std::vector<std::string>{"nginx", "-c", h + "/nginx.conf", "-p", h + "/"}, m_nginxPort);
        m_proxy = std::make_unique<Child>(
            std::vector<std::string>{"tinyproxy", "-d", "-c", h + "/tinyproxy.conf"}, m_proxyPort);
    }
    ~NginxAndTinyproxy() {
        // The servers first: their folder goes after them.
        m_proxy.reset();
        m_nginx.reset();
    }
    NginxAndTinyproxy(const NginxAndTinyproxy&) = delete;
    NginxAndTinyproxy& operator=(const NginxAndTinyproxy&) = delete;

    std::string URI(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_nginxPort) + path;
    }
    uint16_t ProxyPort() const { return m_proxyPort; }
    bool Running() const { return Accepts(m_nginxPort) && Accepts(m_proxyPort); }
    std::string AccessLog() const { return ReadTextFile(m_folder.Path() + "/access.log"); }
    std::string ProxyLog() const { return ReadTextFile(m_folder.Path() + "/tinyproxy.log"); }

private:
    static std::string FolderPrefix(const std::string& folderTemplate) {
        std::string name = std::filesystem::path(folderTemplate).filename().string();
        while (!name.empty() && (name.back() == 'X' || name.back() == '-'))
            name.pop_back();
        return name.empty() ? "px-servers" : name;
    }

    testsupport::ScopedTempFolder m_folder;
    uint16_t m_nginxPort = 0;
    uint16_t m_proxyPort = 0;
    std::unique_ptr<Child> m_nginx;
    std::unique_ptr<Child> m_proxy;
};

} // namespace loopback
