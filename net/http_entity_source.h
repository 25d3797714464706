// Where a request's entity comes from when it is too large to hold in memory: a source produces the
// bytes in order, knows beforehand how many it will produce (the request's content length), and can
// produce them again from the first byte when the request must go out again (an answered challenge, a
// new socket after an error).
//
// Threads: the submitter's thread creates the source and hands it to the request before Submit; from
// then on only the connection's worker reads and rewinds it.
#pragma once

#include "foundation/exception.h"

#include <cstddef>
#include <cstdint>

class IHTTPEntitySource {
public:
    virtual ~IHTTPEntitySource() = default;

    // The number of bytes the source produces from its first byte to its end; fixed for its life.
    virtual uint64_t GetLength() const = 0;
    // Up to `count` of the next bytes into `buffer`, at least one while the end has not been reached;
    // 0 at the end. Raises a CException when the bytes can no longer be produced as promised: the
    // request then fails for good rather than send a body that differs from its length.
    virtual size_t Read(size_t count, void* buffer) = 0;
    // Back to the first byte. Does no input or output itself: what can fail then fails in Read.
    virtual void Rewind() = 0;
};

// A source ended before the length it had declared. Not a network failure on purpose: the connection
// must not send the request again, which would end the same way.
class CHTTPEntityLengthException : public CException {
public:
    CHTTPEntityLengthException() : CException("EHTTPENTITYLEN") {}
};
