// A thread-safe byte FIFO with an end-of-data mark, through which a reply's body passes from the
// connection's worker thread (the writer) to the thread that submitted the request (the reader). The
// pipe holds at most kCapacity bytes; the writer asks for room before it reads more from the network,
// so a reader that falls behind slows the transfer down instead of letting memory grow.
//
// Threads: one writer thread calls Write, GetRoom, WaitForRoom, End and Reset; any thread may read,
// peek, wait and close. Every member below m_lock is guarded by it. The two events mirror conditions on
// those members and are changed only under m_lock, so a waiter that sees an event set re-checks the
// condition under the lock.
#pragma once

#include "foundation/event.h"
#include "foundation/mutex.h"

#include <cstddef>
#include <deque>

class CHTTPBodyPipe {
public:
    // What the pipe does with written bytes: keep them for a reader, or count and drop them (a body
    // that nobody will read, such as the reply to a request that is about to be sent again).
    enum class Retention { Keep, Drop };

    static constexpr size_t kCapacity = 256 * 1024; // bytes held for a reader that has not caught up

    explicit CHTTPBodyPipe(Retention retention = Retention::Keep);
    ~CHTTPBodyPipe();
    CHTTPBodyPipe(const CHTTPBodyPipe&) = delete;
    CHTTPBodyPipe& operator=(const CHTTPBodyPipe&) = delete;

    // --- writer ---
    // Appends the bytes; they are dropped when the pipe drops, has ended or its reader has closed it.
    // Never writes beyond the room the writer was given, so callers pass at most GetRoom() bytes.
    void Write(const void* data, size_t count);
    // How many bytes a Write may add now; unlimited (SIZE_MAX) when bytes are dropped.
    size_t GetRoom() const;
    // Waits until GetRoom() is above 0; false when the time ran out (seconds, negative = no limit).
    bool WaitForRoom(double timeout);
    // Marks the end of data: readers get what is left, then 0.
    void End();
    // Empty and open again, for a new attempt at the reply. When the reader has already taken bytes
    // of the abandoned attempt, the pipe breaks instead: its reader could not tell the two attempts
    // apart, so every later read raises CHTTPUnexpectedEndOfResponseException and writes are dropped
    // from then on.
    void Reset();

    // --- reader ---
    // Waits up to `timeout` seconds for data or the end, then delivers up to `count` bytes (a null
    // buffer drops them). 0 at the end of data or when the time ran out. Raises
    // CInputStreamClosedException after Close, and CHTTPUnexpectedEndOfResponseException once the
    // pipe has broken (see Reset).
    size_t Read(size_t count, void* buffer, double timeout);
    // Like Read, but the bytes stay.
    size_t Peek(size_t count, void* buffer, double timeout);
    // True when data is waiting, the data has ended or the reader has closed the pipe within
    // `timeout` seconds.
    bool Wait(double timeout);
    // The reader gives up: reads raise CInputStreamClosedException and writes are dropped until Reset.
    void Close();

    bool HasEnded() const;
    size_t GetCount() const;
    // Set while Wait would return true at once, for readers that wait on several objects.
    CEvent& GetReadyEvent() { return m_ready; }

private:
    enum class Take { Consume, Keep };
    size_t Transfer(size_t count, void* buffer, double timeout, Take take);
    // Brings both events in line with the members; called with m_lock held.
    void UpdateEventsLocked();

    const Retention m_retention;
    mutable CMutex m_lock;
    std::deque<char> m_bytes; // at most kCapacity
    bool m_ended = false;
    bool m_closed = false; // by the reader
    bool m_taken = false;  // the reader has consumed bytes since the last Reset
    bool m_broken = false; // Reset came after the reader had taken bytes
    CEvent m_ready{false}; // m_bytes not empty, m_ended, m_closed or m_broken
    CEvent m_room{true};   // GetRoom() > 0
};
