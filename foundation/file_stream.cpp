#include "foundation/file_stream.h"

#include "foundation/exception.h"
#include "foundation/trace.h"
#include "platform/file_system.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kMaxDistance = std::numeric_limits<int64_t>::max();

} // namespace

CFileStream::CFileStream(std::string path, OpenMode mode)
    : m_path(std::move(path)), m_file(nullptr, &std::fclose) {
    if (mode == OpenMode::Create) {
        m_file.reset(platform::OpenFile(m_path, "wb+"));
    } else {
        m_file.reset(platform::OpenFile(m_path, "rb+"));
        if (!m_file) {
            m_file.reset(platform::OpenFile(m_path, "rb"));
            m_outputClosed = true;
        }
    }
    if (!m_file)
        throw CFileNotFoundException(m_path);
    Trace("file", 2, "opened %s%s", m_path.c_str(), m_outputClosed ? " for reading only" : "");
}

CFileStream::~CFileStream() {
    if (std::fclose(m_file.release()) != 0)
        Trace("file", 0, "closing %s failed: buffered bytes are lost", m_path.c_str());
}

void CFileStream::FlushPending() {
    if (m_last == LastOperation::Write && std::fflush(m_file.get()) != 0) {
        std::clearerr(m_file.get());
        throw CDeviceFull(m_path);
    }
    m_last = LastOperation::None;
}

void CFileStream::PrepareFor(LastOperation next) {
    if (m_last != LastOperation::None && m_last != next) {
        // After reading, a zero move is the positioning call; after writing, the flush is.
        if (m_last == LastOperation::Write)
            FlushPending();
        else
            platform::SeekFileBy(m_file.get(), 0);
    }
    std::clearerr(m_file.get());
    m_last = next;
}

size_t CFileStream::Skip(size_t count) {
    FlushPending();
    auto before = platform::TellFile(m_file.get());
    if (!before)
        return 0;
    int64_t distance = static_cast<int64_t>(std::min<uint64_t>(count, kMaxDistance - *before));
    if (!platform::SeekFileBy(m_file.get(), distance))
        return 0;
    return static_cast<size_t>(distance);
}

size_t CFileStream::Read(size_t count, void* buffer) {
    if (m_inputClosed)
        throw CInputStreamClosedException();
    if (buffer == nullptr)
        return Skip(count);
    PrepareFor(LastOperation::Read);
    size_t got = std::fread(buffer, 1, count, m_file.get());
    // The end-of-file mark would stick; a file that grows is read on at the next call.
    std::clearerr(m_file.get());
    return got;
}

size_t CFileStream::Peek(size_t count, void* buffer) {
    if (m_inputClosed)
        throw CInputStreamClosedException();
    uint64_t position = Tell();
    size_t got = Read(count, buffer);
    Seek(position);
    return got;
}

size_t CFileStream::Write(size_t count, const void* buffer) {
    if (m_outputClosed)
        throw COutputStreamClosedException();
    if (buffer == nullptr || count == 0)
        return 0;
    PrepareFor(LastOperation::Write);
    size_t written = std::fwrite(buffer, 1, count, m_file.get());
    if (written < count && std::ferror(m_file.get())) {
        std::clearerr(m_file.get());
        throw CDeviceFull(m_path);
    }
    return written;
}

void CFileStream::Flush() {
    FlushPending();
}

void CFileStream::Seek(uint64_t position) {
    FlushPending();
    if (position > static_cast<uint64_t>(kMaxDistance) ||
        !platform::SeekFile(m_file.get(), static_cast<int64_t>(position)))
        throw CIOException();
}

uint64_t CFileStream::Tell() {
    auto position = platform::TellFile(m_file.get());
    if (!position)
        throw CIOException();
    return static_cast<uint64_t>(*position);
}

uint64_t CFileStream::GetLength() {
    FlushPending();
    auto length = platform::GetOpenFileLength(m_file.get());
    if (!length)
        throw CIOException();
    return *length;
}
