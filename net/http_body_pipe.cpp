#include "net/http_body_pipe.h"

#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/network_exception.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace {

using Clock = std::chrono::steady_clock;

// The time left of `timeout` seconds started at `start`: negative stays negative (no limit), and a
// limit that has passed gives 0 so that the next wait makes one attempt.
double Remaining(double timeout, Clock::time_point start) {
    if (timeout < 0)
        return timeout;
    double spent = std::chrono::duration<double>(Clock::now() - start).count();
    return std::max(0.0, timeout - spent);
}

} // namespace

CHTTPBodyPipe::CHTTPBodyPipe(Retention retention) : m_retention(retention) {}

CHTTPBodyPipe::~CHTTPBodyPipe() = default;

void CHTTPBodyPipe::Write(const void* data, size_t count) {
    CLock lock(m_lock);
    if (m_retention == Retention::Drop || m_ended || m_closed || m_broken || count == 0)
        return;
    const char* bytes = static_cast<const char*>(data);
    size_t room = kCapacity - std::min(kCapacity, m_bytes.size());
    m_bytes.insert(m_bytes.end(), bytes, bytes + std::min(count, room));
    UpdateEventsLocked();
}

size_t CHTTPBodyPipe::GetRoom() const {
    CLock lock(m_lock);
    if (m_retention == Retention::Drop || m_ended || m_closed || m_broken)
        return SIZE_MAX;
    return kCapacity - std::min(kCapacity, m_bytes.size());
}

bool CHTTPBodyPipe::WaitForRoom(double timeout) {
    Clock::time_point start = Clock::now();
    for (;;) {
        if (GetRoom() > 0)
            return true;
        double remaining = Remaining(timeout, start);
        if (!m_room.Lock(remaining) || remaining == 0)
            return GetRoom() > 0;
    }
}

void CHTTPBodyPipe::End() {
    CLock lock(m_lock);
    m_ended = true;
    UpdateEventsLocked();
}

void CHTTPBodyPipe::Reset() {
    CLock lock(m_lock);
    m_broken = m_broken || m_taken;
    m_bytes.clear();
    m_ended = false;
    m_closed = false;
    m_taken = false;
    UpdateEventsLocked();
}

size_t CHTTPBodyPipe::Read(size_t count, void* buffer, double timeout) {
    return Transfer(count, buffer, timeout, Take::Consume);
}

size_t CHTTPBodyPipe::Peek(size_t count, void* buffer, double timeout) {
    return Transfer(count, buffer, timeout, Take::Keep);
}

size_t CHTTPBodyPipe::Transfer(size_t count, void* buffer, double timeout, Take take) {
    Clock::time_point start = Clock::now();
    for (;;) {
        {
            CLock lock(m_lock);
            if (m_closed)
                throw CInputStreamClosedException();
            if (m_broken)
                throw CHTTPUnexpectedEndOfResponseException();
            if (!m_bytes.empty() || m_ended || count == 0) {
                size_t n = std::min(count, m_bytes.size());
                if (buffer != nullptr)
                    std::copy_n(m_bytes.begin(), n, static_cast<char*>(buffer));
                if (take == Take::Consume && n > 0) {
                    m_taken = true;
                    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(n));
                    UpdateEventsLocked();
                }
                return n;
            }
        }
        double remaining = Remaining(timeout, start);
        if (!m_ready.Lock(remaining) || remaining == 0) {
            // One last look: the data may have come just as the time ran out.
            CLock lock(m_lock);
            if (m_closed)
                throw CInputStreamClosedException();
            if (m_broken)
                throw CHTTPUnexpectedEndOfResponseException();
            if (m_bytes.empty())
                return 0;
        }
    }
}

bool CHTTPBodyPipe::Wait(double timeout) {
    Clock::time_point start = Clock::now();
    for (;;) {
        {
            CLock lock(m_lock);
            if (!m_bytes.empty() || m_ended || m_closed || m_broken)
                return true;
        }
        double remaining = Remaining(timeout, start);
        if (!m_ready.Lock(remaining) || remaining == 0) {
            CLock lock(m_lock);
            return !m_bytes.empty() || m_ended || m_closed || m_broken;
        }
    }
}

void CHTTPBodyPipe::Close() {
    CLock lock(m_lock);
    m_closed = true;
    m_bytes.clear();
    UpdateEventsLocked();
}

bool CHTTPBodyPipe::HasEnded() const {
    CLock lock(m_lock);
    return m_ended;
}

size_t CHTTPBodyPipe::GetCount() const {
    CLock lock(m_lock);
    return m_bytes.size();
}

void CHTTPBodyPipe::UpdateEventsLocked() {
    if (!m_bytes.empty() || m_ended || m_closed || m_broken)
        m_ready.Set();
    else
        m_ready.Reset();
    if (m_retention == Retention::Drop || m_ended || m_closed || m_broken || m_bytes.size() < kCapacity)
        m_room.Set();
    else
        m_room.Reset();
}
