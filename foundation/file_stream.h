// A file as an input and an output stream, through the runtime library's buffered file, with absolute
// 64-bit positions (files of 4 GiB and more keep their true positions and length). A file that can only
// be read opens with its output side closed.
//
// One thread at a time uses a stream; the sender threads each open their own.
#pragma once

#include "foundation/input_stream.h"
#include "foundation/output_stream.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class CFileStream : public IInputStream, public IOutputStream {
public:
    enum class OpenMode {
        Existing, // read and write an existing file, or only read it when it cannot be written
        Create,   // create the file, or cut an existing one to length 0, and read and write it
    };

    // Raises CFileNotFoundException with the path when the file cannot be opened (folders included).
    CFileStream(std::string path, OpenMode mode);
    // Closes the file; buffered bytes that cannot be written then are lost (Flush reports that).
    ~CFileStream() override;
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;

    // A short read (end of file, or an error) returns fewer bytes and raises nothing. With a null buffer
    // the position moves forward by `count`, past the end too, and the distance moved is returned.
    size_t Read(size_t count, void* buffer) override;
    // Reads like Read, then puts the position back.
    size_t Peek(size_t count, void* buffer) override;
    void CloseInput() override { m_inputClosed = true; }

    // Raises CDeviceFull with the path when fewer bytes were written and the file reports an error.
    size_t Write(size_t count, const void* buffer) override;
    // Raises CDeviceFull when buffered bytes cannot be written. Allowed after CloseOutput, to push out
    // what was written before it.
    void Flush() override;
    void CloseOutput() override { m_outputClosed = true; }

    // Absolute positions. Seeking past the end is allowed: reads there return nothing. A position the
    // system cannot reach raises CIOException.
    void Seek(uint64_t position);
    uint64_t Tell();
    // Flushes, then the file's length.
    uint64_t GetLength();

    const std::string& GetPath() const { return m_path; }
    bool IsInputClosed() const { return m_inputClosed; }
    bool IsOutputClosed() const { return m_outputClosed; }

private:
    // The buffered file may not go from writing straight to reading or back without a flush or a
    // positioning call in between; the stream remembers the last direction to put one there.
    enum class LastOperation { None, Read, Write };

    void PrepareFor(LastOperation next);
    void FlushPending();
    size_t Skip(size_t count);

    std::string m_path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file; // owned; closed with the stream
    bool m_inputClosed = false;
    bool m_outputClosed = false;
    LastOperation m_last = LastOperation::None;
};
