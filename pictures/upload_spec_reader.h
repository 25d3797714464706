// Reads the upload specification file that a page names: opens it, parses it on the first request
// for its pictures, and deletes it when done with it. Since the page chooses the path, the file is
// deleted only when it proved to be an upload specification (its `upload` root parsed); a file that
// could not be read or parsed is left as it was.
//
// Failures are the parser's static texts (const char*), "Cannot open file" among them.
#pragma once

#include "foundation/file_stream.h"
#include "pictures/upload_spec_image.h"
#include "pictures/upload_spec_parser.h"

#include <memory>
#include <span>
#include <string>

class UploadSpecReader {
public:
    // Raises "Cannot open file" when the file cannot be opened for reading.
    explicit UploadSpecReader(std::string path);
    // Destroys the parser, closes the file, and deletes it when it parsed.
    ~UploadSpecReader();
    UploadSpecReader(const UploadSpecReader&) = delete;
    UploadSpecReader& operator=(const UploadSpecReader&) = delete;

    // The pictures of the `upload` root, in document order; valid while the reader lives. The first
    // call parses the whole document; later calls give the same answer, or raise the same text.
    std::span<const IUploadSpecImage* const> GetImages();

private:
    std::string m_path;
    std::unique_ptr<CFileStream> m_stream;                 // owned; the parser reads it
    std::unique_ptr<PxUploadSpecParser> m_parser;          // owns the tag tree
    const PxUploadSpecParser::UploadTag* m_root = nullptr; // set once the document parsed
    const char* m_error = nullptr;                         // set once it failed
};
