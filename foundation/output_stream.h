// The output side of a byte stream: files (CFileStream), HTTP requests and network connections
// implement it. Once CloseOutput has been called, every Write raises COutputStreamClosedException.
#pragma once

#include <cstddef>

class IOutputStream {
public:
    virtual ~IOutputStream() = default;

    // Writes `count` bytes from `buffer`; the number written.
    virtual size_t Write(size_t count, const void* buffer) = 0;
    virtual void Flush() = 0;
    virtual void CloseOutput() = 0;
};
