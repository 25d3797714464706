// The reference upload server (tools/refserver) as a child process of a test: on 127.0.0.1, a port
// of its choosing, a temporary store and statistics log, asked to stop and removed at the end.
// The second listener is on, so "Server" names another port than the one of "GetImageID".
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/scoped_temp_folder.h"

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace refserver {

inline std::string ReadFile(const std::string& path) {
    return testsupport::ReadWholeFile(path);
}

} // namespace refserver

class RefServer {
public:
    explicit RefServer(const std::vector<std::string>& extra = {}) : m_folder("px-upload-e2e") {
        const std::string& dir = m_folder.Path();
        std::vector<std::string> args = {
            "python3",         std::string(PX_SOURCE_DIR) + "/tools/refserver/refserver.py",
            "--port",          "0",
            "--port-file",     dir + "/port",
            "--store",         dir + "/store",
            "--stats",         dir + "/stats.jsonl",
            "--second-server", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_process = std::make_unique<testsupport::ChildProcess>(std::move(args));
        // The server writes its ports once it listens on them.
        for (int i = 0;
             i < 200 && m_port.empty() && m_process->GetState() == testsupport::ChildProcess::State::Running;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::istringstream ports(refserver::ReadFile(dir + "/port"));
            ports >> m_port;
        }
    }
    ~RefServer() {
        m_process.reset(); // the server first: its folder goes after it
    }
    RefServer(const RefServer&) = delete;
    RefServer& operator=(const RefServer&) = delete;

    bool IsListening() const { return !m_port.empty(); }
    std::string Server() const { return "127.0.0.1:" + m_port; }
    const std::string& Dir() const { return m_folder.Path(); }
    std::string StoredBytes(const std::string& imageID) const {
        return refserver::ReadFile(Dir() + "/store/images/" + imageID);
    }
    std::string Index() const { return refserver::ReadFile(Dir() + "/store/index.json"); }
    std::string Port() const { return m_port; }
    std::string Stats() const { return refserver::ReadFile(Dir() + "/stats.jsonl"); }

private:
    testsupport::ScopedTempFolder m_folder;
    std::unique_ptr<testsupport::ChildProcess> m_process;
    std::string m_port;
};
