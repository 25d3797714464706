#include "upload/upload_image_body.h"

#include "foundation/exception.h"
#include "foundation/file_stream.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

PxUploadImageBody::PxUploadImageBody(std::string head, std::string path, uint64_t offset, uint64_t fileSize,
                                     std::string tail)
    : d_head(std::move(head)), d_path(std::move(path)), d_offset(offset), d_fileSize(fileSize),
      d_tail(std::move(tail)) {
    CFileStream file(d_path, CFileStream::OpenMode::Existing);
    if (d_offset > d_fileSize)
        throw PxTruncatedUploadException(d_path);
    CheckSize(file.GetLength());
}

PxUploadImageBody::~PxUploadImageBody() = default;

uint64_t PxUploadImageBody::GetLength() const {
    return d_head.size() + (d_fileSize - d_offset) + d_tail.size();
}

void PxUploadImageBody::Rewind() {
    d_position = 0;
    // Opened again on the next pass, so that the file is measured again.
    d_file.reset();
}

size_t PxUploadImageBody::Read(size_t count, void* buffer) {
    char* out = static_cast<char*>(buffer);
    const uint64_t fileStart = d_head.size();
    const uint64_t fileEnd = fileStart + (d_fileSize - d_offset);
    size_t produced = 0;
    while (produced < count && d_position < GetLength()) {
        size_t wanted = count - produced;
        size_t got;
        if (d_position < fileStart) {
            got = static_cast<size_t>(std::min<uint64_t>(wanted, fileStart - d_position));
            std::memcpy(out + produced, d_head.data() + d_position, got);
        } else if (d_position < fileEnd) {
            got = ReadFile(static_cast<size_t>(std::min<uint64_t>(wanted, fileEnd - d_position)),
                           out + produced);
        } else {
            uint64_t at = d_position - fileEnd;
            got = static_cast<size_t>(std::min<uint64_t>(wanted, d_tail.size() - at));
            std::memcpy(out + produced, d_tail.data() + at, got);
        }
        d_position += got;
        produced += got;
    }
    return produced;
}

size_t PxUploadImageBody::ReadFile(size_t count, char* out) {
    if (!d_file)
        OpenFile();
    size_t got = d_file->Read(std::min(count, kFileBlock), out);
    // The size was checked on opening: reading less means the file has been cut since.
    if (got == 0)
        throw PxTruncatedUploadException(d_path);
    if (d_position + got == d_head.size() + (d_fileSize - d_offset))
        CheckFileEnd();
    return got;
}

void PxUploadImageBody::OpenFile() {
    auto file = std::make_unique<CFileStream>(d_path, CFileStream::OpenMode::Existing);
    CheckSize(file->GetLength());
    file->Seek(d_offset + (d_position - d_head.size()));
    d_file = std::move(file);
}

// The last byte has been read: the file must end there, and the path must still name a file of the
// size measured (a file removed or replaced while it was being read is no longer the picture).
void PxUploadImageBody::CheckFileEnd() {
    char extra;
    if (d_file->Peek(1, &extra) != 0)
        throw PxChangedUploadException(d_path);
    d_file.reset();
    std::error_code error;
    uintmax_t size = std::filesystem::file_size(d_path, error);
    if (error)
        throw CFileNotFoundException(d_path);
    CheckSize(size);
}

void PxUploadImageBody::CheckSize(uint64_t size) const {
    if (size < d_fileSize)
        throw PxTruncatedUploadException(d_path);
    if (size > d_fileSize)
        throw PxChangedUploadException(d_path);
}
