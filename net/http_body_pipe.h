// A thread-safe byte FIFO with an end-of-data mark, through which a reply's body passes from the
// connection's worker thread (the writer) to the thread that submitted the request (the reader). The
// pipe holds at most kCapacity bytes; the writer asks for room before it reads more from the network,
// so a reader that falls behind slows the transfer down instead of letting memory grow. The writer may
// receive straight into the pipe's memory (GetSpace, Commit), so that a network piece is copied once.
//
// Waking a reader costs a context switch, far more than moving one network piece, so the pipe wakes
// its reader only for a batch (kBatch bytes), when the writer flushes (it must before it blocks on
// anything else), and when the data ends or fails. A reader that looks without waiting sees every byte.
//
// Threads: one writer thread calls Write, GetSpace, Commit, Flush, GetRoom, WaitForRoom, End, Fail,
// Break and Reset; any thread may read, peek, wait and close. m_lock guards every member below it. The
// two events mirror conditions on those members and are changed only under m_lock, so a waiter that
// sees an event set re-checks the condition under the lock. Bytes are copied in and out without
// m_lock, so that neither side sleeps on the lock behind the other's copy: m_readLock lets one reader
// at a time copy from the front; the writer fills the claimed free run after the last byte, which no
// reader touches; the ring grows (which moves the bytes) and drops bytes only once no reader is
// copying (m_copying).
#pragma once

#include "foundation/event.h"
#include "net/byte_ring.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>

class CHTTPBodyPipe {
public:
    // What the pipe does with written bytes: keep them for a reader, or count and drop them (a body
    // that nobody will read, such as the reply to a request that is about to be sent again).
    enum class Retention { Keep, Drop };

    static constexpr size_t kCapacity = 1024 * 1024; // bytes held for a reader that has not caught up
    static constexpr size_t kBatch = 256 * 1024;     // bytes that wake a reader without a flush

    explicit CHTTPBodyPipe(Retention retention = Retention::Keep);
    ~CHTTPBodyPipe();
    CHTTPBodyPipe(const CHTTPBodyPipe&) = delete;
    CHTTPBodyPipe& operator=(const CHTTPBodyPipe&) = delete;

    // --- writer ---
    // Appends the bytes; they are dropped when the pipe drops, has ended or its reader has closed it.
    // Never writes beyond the room the writer was given, so callers pass at most GetRoom() bytes. Wakes
    // the reader once a batch is waiting.
    void Write(const void* data, size_t count);
    // Free memory for up to `count` bytes as one run (shorter where the ring wraps, empty when the
    // pipe is full), for the writer to fill and then Commit; nothing else of the writer's may come
    // between. When the pipe drops bytes, a scratch run of at most kScratch bytes.
    struct Space {
        char* data = nullptr;
        size_t size = 0;
    };
    Space GetSpace(size_t count);
    // Appends the first `count` bytes written into the last space, as Write would; 0 just ends it.
    void Commit(size_t count);
    // Wakes the reader for whatever is waiting. The writer calls it before it blocks, so that no byte
    // sits unannounced while the writer waits.
    void Flush();
    // How many bytes a Write may add now; unlimited (SIZE_MAX) when bytes are dropped.
    size_t GetRoom() const;
    // Waits until GetRoom() is above 0; false when the time ran out (seconds, negative = no limit).
    bool WaitForRoom(double timeout);
    // Marks the end of data: readers get what is left, then 0.
    void End();
    // The body will not be complete. A reader that has taken bytes since the last Reset finds the
    // pipe broken (see Break); otherwise what is left is dropped and the data ends at once.
    void Fail();
    // Every later read raises CHTTPUnexpectedEndOfResponseException, and writes are dropped, until the
    // pipe is destroyed: the reader must never take a cut body for a whole one.
    void Break();
    // Empty and open again, for a new attempt at the reply. When the reader has already taken bytes
    // of the abandoned attempt, the pipe breaks instead (see Break): its reader could not tell the two
    // attempts apart.
    void Reset();

    // --- reader ---
    // Waits up to `timeout` seconds for data or the end, then delivers up to `count` bytes (a null
    // buffer drops them). 0 at the end of data or when the time ran out. Raises
    // CInputStreamClosedException after Close, and CHTTPUnexpectedEndOfResponseException once the
    // pipe has broken.
    size_t Read(size_t count, void* buffer, double timeout);
    // Like Read, but the bytes stay.
    size_t Peek(size_t count, void* buffer, double timeout);
    // True when data is waiting, the data has ended, the pipe has broken or the reader has closed it
    // within `timeout` seconds.
    bool Wait(double timeout);
    // The reader gives up: reads raise CInputStreamClosedException and writes are dropped until Reset.
    void Close();

    bool HasEnded() const;
    bool IsBroken() const;
    size_t GetCount() const;
    // Set once waiting data has been announced (a batch or a flush), the data has ended, the pipe has
    // broken or the reader has closed it; Wait then returns true at once. For readers that wait on
    // several objects.
    CEvent& GetReadyEvent() { return m_ready; }

private:
    enum class Take { Consume, Keep };
    size_t Transfer(size_t count, void* buffer, double timeout, Take take);
    bool IsReadyLocked() const { return !m_bytes.Empty() || m_ended || m_closed || m_broken; }
    bool DropsLocked() const { return m_retention == Retention::Drop || m_ended || m_closed || m_broken; }
    // Brings both events in line with the members; called with m_lock held. Events change only when
    // their condition does, so that steady traffic costs no event operations.
    void UpdateEventsLocked();
    // Drops every byte once no reader is copying; called with `lock` (on m_lock) held.
    void ClearLocked(std::unique_lock<std::mutex>& lock);
    size_t RoomLocked() const { return kCapacity - (std::min)(kCapacity, m_bytes.Size()); }
    // Grows the ring, once no reader is copying from it, so that `count` more bytes fit; called with
    // `lock` (on m_lock) held, which the wait may release.
    void GrowLocked(std::unique_lock<std::mutex>& lock, size_t count);
    // After bytes were added: announces a batch and brings the events in line.
    void AddedLocked();

    static constexpr size_t kScratch = 1024;

    const Retention m_retention;
    std::mutex m_readLock;     // held by the reader that takes bytes
    mutable std::mutex m_lock; // held briefly; never waited on together with other objects
    CByteRing m_bytes;         // at most kCapacity, grown on demand
    bool m_copying = false;    // a reader is copying from the front of m_bytes without m_lock
    std::condition_variable m_copied;
    bool m_announced = false; // the reader has been woken for the bytes now waiting
    bool m_ended = false;
    bool m_closed = false; // by the reader
    bool m_taken = false;  // the reader has consumed bytes since the last Reset
    bool m_broken = false;
    bool m_readySet = false;  // mirrors m_ready
    bool m_roomSet = true;    // mirrors m_room
    CEvent m_ready{false};    // (m_bytes not empty and m_announced), m_ended, m_closed or m_broken
    CEvent m_room{true};      // GetRoom() > 0
    char m_scratch[kScratch]; // the writer's, where dropped bytes are received
};
