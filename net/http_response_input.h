// The byte source that a reply is parsed from: the connection's socket in production, a memory buffer
// in tests and the fuzzer. Each call makes one attempt without blocking. 0 bytes means the end of data
// unless WouldBlock says that nothing was waiting yet (a reader that keeps reading while data keeps
// coming finds the source dry now and then).
#pragma once

#include <cstddef>

class IHTTPResponseInput {
public:
    virtual ~IHTTPResponseInput() = default;

    // Up to `count` bytes into `buffer`; they stay to be read again.
    virtual size_t Peek(size_t count, void* buffer) = 0;
    // Up to `count` bytes into `buffer`, consumed; a null buffer drops them. After a Peek, a Read of
    // at most the peeked count takes exactly those bytes.
    virtual size_t Read(size_t count, void* buffer) = 0;
    // After 0 bytes: whether the data ended by a failure (a reset connection) rather than an orderly
    // close. A body that runs until the close is cut short, not complete, when it ends that way.
    virtual bool HasEndedByError() const { return false; }
    // After 0 bytes: whether nothing was waiting yet, the data having not ended.
    virtual bool WouldBlock() const { return false; }
    // Bytes held already, which a read of at most that many takes without asking the system for more
    // (0 when the source keeps none, or reads them all at the same cost).
    virtual size_t GetBufferedCount() const { return 0; }
};
