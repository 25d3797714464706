// A minimal HTTP peer for the upload tests: it listens on 127.0.0.1, reads each request whole (header
// block and content-length body), records its bytes, answers with a scripted reply and closes. Replies
// are used in order; the last one repeats.
#pragma once

#include "tests/support/loopback.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
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
    explicit RawHttpPeer(std::vector<std::string> replies) : m_replies(std::move(replies)), m_listener(8) {
        m_port = m_listener.Port();
        m_thread = std::thread([this] { Serve(); });
    }
    ~RawHttpPeer() {
        m_stop = true;
        m_thread.join();
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
    void Serve() {
        size_t served = 0;
        while (!m_stop) {
            testsupport::LoopbackStream connection = m_listener.Accept(0.05);
            if (!connection.IsOpen())
                continue;
            std::string request = ReadRequest(connection);
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            m_changed.notify_all();
            if (m_replies.empty()) {
                m_held.push_back(std::move(connection));
                continue;
            }
            const std::string& reply = m_replies[std::min(served++, m_replies.size() - 1)];
            connection.SendAll(reply);
            connection.ShutdownWrite();
            while (connection.Receive(2).status == testsupport::LoopbackStream::Status::Data) {
            }
        }
    }

    static std::string ReadRequest(testsupport::LoopbackStream& connection) {
        std::string bytes;
        size_t expected = std::string::npos;
        while (bytes.size() < expected) {
            testsupport::LoopbackStream::Received received = connection.Receive(5, 4096);
            if (received.status != testsupport::LoopbackStream::Status::Data)
                break;
            bytes += received.bytes;
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
    testsupport::LoopbackListener m_listener;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_requests;
    std::vector<testsupport::LoopbackStream> m_held; // the serving thread's: connections left unanswered
};
