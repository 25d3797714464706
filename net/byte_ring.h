// A byte FIFO over one ring of memory that grows by doubling and never shrinks, so that steady
// traffic through it allocates nothing: the socket's input buffer and the body pipe keep their bytes
// in one. Appending and taking copy at most two contiguous runs each; a producer may also fill the
// free memory after the last byte in place (Claim, Commit), which saves it a copy.
//
// Threads: none of its own; its owner locks around it where several threads share it.
#pragma once

#include <cstddef>
#include <memory>

class CByteRing {
public:
    CByteRing() = default;
    CByteRing(const CByteRing&) = delete;
    CByteRing& operator=(const CByteRing&) = delete;

    size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }

    // Appends `count` bytes, growing the ring when they do not fit.
    void Append(const char* data, size_t count);
    // Copies up to `count` bytes from the front into `buffer` without taking them; returns how many.
    size_t Copy(size_t count, char* buffer) const;
    // Up to `count` bytes at the front as at most two contiguous runs, without taking them. The
    // memory stays valid while the ring does not grow, so a reader may copy from it unlocked while a
    // writer appends within the reserved capacity.
    struct Runs {
        const char* first = nullptr;
        size_t firstSize = 0;
        const char* second = nullptr;
        size_t secondSize = 0;
    };
    Runs Front(size_t count) const;
    // Drops up to `count` bytes from the front.
    void Consume(size_t count);

    // Up to `count` bytes of free memory right after the last byte, as one contiguous run (shorter
    // where the ring wraps), growing the ring when fewer than `count` bytes are free. The producer
    // writes into it, then Commit appends the first `count` bytes written. Until then the run stays
    // where it is: consuming the last byte does not move the next one to the front. A new claim
    // replaces the last; Append, growth and Clear cancel it.
    struct Space {
        char* data = nullptr;
        size_t size = 0;
    };
    Space Claim(size_t count);
    // Appends `count` bytes (at most the claimed size) written into the claimed run and ends the
    // claim; false, appending nothing, when no claim is open.
    bool Commit(size_t count);
    // Ends an open claim without appending.
    void Cancel() { m_claim = 0; }
    // Makes room for `capacity` bytes in all, so that appending up to that never moves the bytes.
    void Reserve(size_t capacity) {
        if (capacity > m_capacity)
            Grow(capacity);
    }
    // Drops everything; the memory stays for the next use.
    void Clear() {
        m_head = 0;
        m_size = 0;
        m_claim = 0;
    }
    size_t Capacity() const { return m_capacity; }

private:
    void Grow(size_t needed);

    std::unique_ptr<char[]> m_data;
    size_t m_capacity = 0; // 0 or a power of two
    size_t m_head = 0;     // index of the first byte
    size_t m_size = 0;
    size_t m_claim = 0; // the size of the open claim, 0 for none
};
