// The reference upload server (tools/refserver) as a child process of a test: on 127.0.0.1, a port
// of its choosing, a temporary store and statistics log, stopped (SIGTERM) and removed at the end.
// The second listener is on, so "Server" names another port than the one of "GetImageID".
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace refserver {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace refserver

class RefServer {
public:
    explicit RefServer(const std::vector<std::string>& extra = {}) {
        char dir[] = "/tmp/px-upload-e2e-XXXXXX";
        m_dir = ::mkdtemp(dir);
        std::vector<std::string> args = {
            "python3",         std::string(PX_SOURCE_DIR) + "/tools/refserver/refserver.py",
            "--port",          "0",
            "--port-file",     m_dir + "/port",
            "--store",         m_dir + "/store",
            "--stats",         m_dir + "/stats.jsonl",
            "--second-server", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        for (int i = 0; i < 200 && m_pid > 0 && m_port.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::istringstream ports(refserver::ReadFile(m_dir + "/port"));
            ports >> m_port;
        }
    }
    ~RefServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM); // only the process this test started
            ::waitpid(m_pid, nullptr, 0);
        }
        std::system(("rm -rf '" + m_dir + "'").c_str());
    }
    RefServer(const RefServer&) = delete;
    RefServer& operator=(const RefServer&) = delete;

    bool IsListening() const { return !m_port.empty(); }
    std::string Server() const { return "127.0.0.1:" + m_port; }
    const std::string& Dir() const { return m_dir; }
    std::string StoredBytes(const std::string& imageID) const {
        return refserver::ReadFile(m_dir + "/store/images/" + imageID);
    }
    std::string Index() const { return refserver::ReadFile(m_dir + "/store/index.json"); }
    std::string Port() const { return m_port; }
    std::string Stats() const { return refserver::ReadFile(m_dir + "/stats.jsonl"); }

private:
    pid_t m_pid = -1;
    std::string m_dir;
    std::string m_port;
};
