// The body of an "UploadImage" request as an entity source, so that a picture of any size goes out in
// bounded memory: the form fields and part headers come from memory, the picture's bytes are read from
// its file, from the offset the server holds, as they go out, and the closing boundary follows.
//
// The body's length is fixed when it is made, from the size the picture was measured with. The file
// must keep that size from then until its last byte has been read, on every pass (a request sent again
// reads it again): a file that shrinks, grows or vanishes fails the body with the matching text rather
// than let a body go out whose bytes differ from its declared length.
//
// Threads: made on the submitter's thread; read and rewound only by the connection's worker.
#pragma once

#include "upload/upload_exception.h"
#include "net/http_entity_source.h"

#include <cstdint>
#include <memory>
#include <string>

class CFileStream;

// %1 = the path of a picture whose file has grown since its size was measured.
class PxChangedUploadException : public PxNameUploadException {
public:
    explicit PxChangedUploadException(std::string file)
        : PxNameUploadException("EUPLOADDIFF", std::move(file)) {}
};

class PxUploadImageBody : public IHTTPEntitySource {
public:
    // The file is read in blocks of at most this size.
    static constexpr size_t kFileBlock = 16384;

    // `head`: the bytes before the file's; `tail`: those after. The file part is the bytes of `path`
    // from `offset` to `fileSize`. Measures the file now: raises CFileNotFoundException when it cannot
    // be opened, PxTruncatedUploadException when it is shorter than `fileSize` or `offset` lies beyond
    // `fileSize`, and PxChangedUploadException when it is longer than `fileSize`.
    PxUploadImageBody(std::string head, std::string path, uint64_t offset, uint64_t fileSize,
                      std::string tail);
    ~PxUploadImageBody() override;
    PxUploadImageBody(const PxUploadImageBody&) = delete;
    PxUploadImageBody& operator=(const PxUploadImageBody&) = delete;

    uint64_t GetLength() const override;
    // Raises what the constructor raises when the file no longer has the size it was measured with,
    // or cannot be opened any more, at the start of its bytes or after their end.
    size_t Read(size_t count, void* buffer) override;
    void Rewind() override;

private:
    // Up to `count` file bytes at the current position; opens the file first, and checks and closes it
    // after its last byte.
    size_t ReadFile(size_t count, char* out);
    void OpenFile();
    void CheckFileEnd();
    // Raises the failure for a file of `size` bytes when that is not the size measured.
    void CheckSize(uint64_t size) const;

    const std::string d_head;
    const std::string d_path;
    const uint64_t d_offset;
    const uint64_t d_fileSize;
    const std::string d_tail;
    uint64_t d_position = 0;             // bytes of the body produced since the first or the last Rewind
    std::unique_ptr<CFileStream> d_file; // open only while the file part is being read
};
