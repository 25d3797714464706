// A reply source in memory: bytes arrive when the caller says so, and the end of data is reported
// once the caller has closed it and everything has been taken. The response's tests and fuzz target
// feed replies through it in arbitrary splits without a network.
//
// Threads: one thread at a time.
#pragma once

#include "net/http_response_input.h"

#include <cstddef>
#include <deque>
#include <string_view>

class CHTTPMemoryInput : public IHTTPResponseInput {
public:
    // The bytes become available to the next Peek or Read.
    void Arrive(std::string_view bytes);
    // No more bytes will arrive.
    void Close() { m_closed = true; }

    // What a readiness wait on a socket would report: bytes waiting, or the end of data.
    bool IsReadable() const { return !m_bytes.empty() || m_closed; }
    size_t GetAvailable() const { return m_bytes.size(); }

    size_t Peek(size_t count, void* buffer) override;
    size_t Read(size_t count, void* buffer) override;
    bool WouldBlock() const override { return m_bytes.empty() && !m_closed; }

private:
    std::deque<char> m_bytes;
    bool m_closed = false;
};
