// A minimal HTTP peer for the upload tests: it listens on 127.0.0.1, reads each request whole (header
// block and content-length body), records its bytes, answers with a scripted reply and closes. Replies
// are used in order; the last one repeats.
#pragma once

#include "tests/support/loopback_servers.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class RawHttpPeer {
public:
    // A 200 reply with a length-delimited body.
    static std::string Ok(const std::string& body, const std::string& extraHeaders = "") {
        return Reply(200, "OK", body, extraHeaders);
    }
    static std::string Reply(int status, const std::string& reason, const std::string& body,
                             const std::string& extraHeaders = "") {
        return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
               "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    // With no replies the peer records each request and never answers, holding the connection open
    // until it is destroyed.
    explicit RawHttpPeer(std::vector<std::string> replies) : m_replies(std::move(replies)) {
        m_listener = loopback::Listen(8, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~RawHttpPeer() {
        m_stop = true;
        m_thread.join();
        for (int fd : m_held)
            ::close(fd);
        ::close(m_listener);
    }
    RawHttpPeer(const RawHttpPeer&) = delete;
    RawHttpPeer& operator=(const RawHttpPeer&) = delete;

    uint16_t Port() const { return m_port; }
    std::string Server() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Waits up to ten seconds for `count` requests; returns those recorded.
    std::vector<std::string> WaitForRequests(size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_requests.size() >= count; });
        return m_requests;
    }
    size_t RequestCount() {
        std::lock_guard lock(m_mutex);
        return m_requests.size();
    }

private:
    static bool Readable(int fd, int milliseconds) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, milliseconds) > 0;
    }

    void Serve() {
        size_t served = 0;
        while (!m_stop) {
            if (!Readable(m_listener, 50))
                continue;
            int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string request = ReadRequest(fd);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            m_changed.notify_all();
            if (m_replies.empty()) {
                m_held.push_back(fd);
                continue;
            }
            const std::string& reply = m_replies[std::min(served++, m_replies.size() - 1)];
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            char c[256];
            while (Readable(fd, 2000) && ::recv(fd, c, sizeof c, 0) > 0) {
            }
            ::close(fd);
        }
    }

    static std::string ReadRequest(int fd) {
        std::string bytes;
        size_t expected = std::string::npos;
        char buffer[4096];
        while (bytes.size() < expected && Readable(fd, 5000)) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(n));
            size_t end = bytes.find("\r\n\r\n");
            if (end != std::string::npos && expected == std::string::npos) {
                size_t at = bytes.find("content-length: ");
                size_t length = at == std::string::npos ? 0 : std::stoul(bytes.substr(at + 16));
                expected = end + 4 + length;
            }
        }
        return bytes;
    }

    std::vector<std::string> m_replies;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_requests;
    std::vector<int> m_held; // the serving thread's: connections left unanswered
};
