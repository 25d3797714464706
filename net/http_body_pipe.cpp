#include "net/http_body_pipe.h"

#include "foundation/exception.h"
#include "net/network_exception.h"

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
    std::unique_lock lock(m_lock);
    size_t accepted = std::min(count, RoomLocked());
    if (DropsLocked() || accepted == 0)
        return;
    GrowLocked(lock, accepted);
    if (DropsLocked()) // the reader closed the pipe while the ring waited to grow
        return;
    m_bytes.Append(static_cast<const char*>(data), accepted);
    AddedLocked();
}

CHTTPBodyPipe::Space CHTTPBodyPipe::GetSpace(size_t count) {
    std::unique_lock lock(m_lock);
    size_t accepted = std::min(count, RoomLocked());
    if (!DropsLocked() && accepted > 0)
        GrowLocked(lock, accepted);
    if (DropsLocked()) {
        m_bytes.Cancel();
        return {m_scratch, std::min(count, kScratch)};
    }
    CByteRing::Space run = m_bytes.Claim(accepted);
    return {run.data, run.size};
}

void CHTTPBodyPipe::Commit(size_t count) {
    std::lock_guard lock(m_lock);
    // Bytes received into the scratch run, or after the reader closed the pipe, go.
    if (DropsLocked()) {
        m_bytes.Cancel();
        return;
    }
    if (m_bytes.Commit(count) && count > 0)
        AddedLocked();
}

void CHTTPBodyPipe::GrowLocked(std::unique_lock<std::mutex>& lock, size_t count) {
    if (m_bytes.Capacity() - m_bytes.Size() >= count)
        return;
    m_copied.wait(lock, [&] { return !m_copying; });
    m_bytes.Reserve(m_bytes.Size() + count);
}

void CHTTPBodyPipe::AddedLocked() {
    if (m_bytes.Size() >= kBatch)
        m_announced = true;
    UpdateEventsLocked();
}

void CHTTPBodyPipe::Flush() {
    std::lock_guard lock(m_lock);
    if (m_bytes.Empty() || m_announced)
        return;
    m_announced = true;
    UpdateEventsLocked();
}

size_t CHTTPBodyPipe::GetRoom() const {
    std::lock_guard lock(m_lock);
    if (DropsLocked())
        return SIZE_MAX;
    return RoomLocked();
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
    std::lock_guard lock(m_lock);
    m_ended = true;
    UpdateEventsLocked();
}

void CHTTPBodyPipe::Fail() {
    std::unique_lock lock(m_lock);
    if (m_taken) {
        m_broken = true;
    } else {
        ClearLocked(lock);
        m_ended = true;
    }
    UpdateEventsLocked();
}

void CHTTPBodyPipe::Break() {
    std::lock_guard lock(m_lock);
    m_broken = true;
    UpdateEventsLocked();
}

void CHTTPBodyPipe::Reset() {
    std::unique_lock lock(m_lock);
    m_broken = m_broken || m_taken;
    ClearLocked(lock);
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
            std::lock_guard reader(m_readLock);
            std::unique_lock lock(m_lock);
            if (m_closed)
                throw CInputStreamClosedException();
            if (m_broken)
                throw CHTTPUnexpectedEndOfResponseException();
            if (!m_bytes.Empty() || m_ended || count == 0) {
                size_t n = std::min(count, m_bytes.Size());
                if (buffer != nullptr && n > 0) {
                    CByteRing::Runs runs = m_bytes.Front(n);
                    m_copying = true;
                    lock.unlock();
                    char* to = static_cast<char*>(buffer);
                    std::copy_n(runs.first, runs.firstSize, to);
                    std::copy_n(runs.second, runs.secondSize, to + runs.firstSize);
                    lock.lock();
                    m_copying = false;
                    m_copied.notify_all();
                }
                if (take == Take::Consume && n > 0) {
                    m_taken = true;
                    m_bytes.Consume(n);
                    if (m_bytes.Empty())
                        m_announced = false;
                    UpdateEventsLocked();
                }
                return n;
            }
        }
        double remaining = Remaining(timeout, start);
        if (!m_ready.Lock(remaining) || remaining == 0) {
            // One last look: the data may have come just as the time ran out.
            std::lock_guard lock(m_lock);
            if (m_closed)
                throw CInputStreamClosedException();
            if (m_broken)
                throw CHTTPUnexpectedEndOfResponseException();
            if (m_bytes.Empty() && !m_ended)
                return 0;
        }
    }
}

bool CHTTPBodyPipe::Wait(double timeout) {
    Clock::time_point start = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(m_lock);
            if (IsReadyLocked())
                return true;
        }
        double remaining = Remaining(timeout, start);
        if (!m_ready.Lock(remaining) || remaining == 0) {
            std::lock_guard lock(m_lock);
            return IsReadyLocked();
        }
    }
}

void CHTTPBodyPipe::Close() {
    std::unique_lock lock(m_lock);
    m_closed = true;
    ClearLocked(lock);
    UpdateEventsLocked();
}

void CHTTPBodyPipe::ClearLocked(std::unique_lock<std::mutex>& lock) {
    m_copied.wait(lock, [&] { return !m_copying; });
    m_bytes.Clear();
    m_announced = false;
}

bool CHTTPBodyPipe::HasEnded() const {
    std::lock_guard lock(m_lock);
    return m_ended;
}

bool CHTTPBodyPipe::IsBroken() const {
    std::lock_guard lock(m_lock);
    return m_broken;
}

size_t CHTTPBodyPipe::GetCount() const {
    std::lock_guard lock(m_lock);
    return m_bytes.Size();
}

void CHTTPBodyPipe::UpdateEventsLocked() {
    bool ready = (!m_bytes.Empty() && m_announced) || m_ended || m_closed || m_broken;
    if (ready != m_readySet) {
        m_readySet = ready;
        if (ready)
            m_ready.Set();
        else
            m_ready.Reset();
    }
    bool room = DropsLocked() || m_bytes.Size() < kCapacity;
    if (room != m_roomSet) {
        m_roomSet = room;
        if (room)
            m_room.Set();
        else
            m_room.Reset();
    }
}
