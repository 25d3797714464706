// The input side of a byte stream: files (CFileStream) and network connections implement it, and the
// sender threads and the image properties read through it. Once CloseInput has been called, every
// Read and Peek raises CInputStreamClosedException.
#pragma once

#include <cstddef>

class IInputStream {
public:
    virtual ~IInputStream() = default;

    // Up to `count` bytes into `buffer`; the number delivered, 0 at the end. A null buffer drops the
    // bytes (skips them).
    virtual size_t Read(size_t count, void* buffer) = 0;
    // Like Read, but the bytes stay to be read again.
    virtual size_t Peek(size_t count, void* buffer) = 0;
    virtual void CloseInput() = 0;
};
