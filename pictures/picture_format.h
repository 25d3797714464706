// One picture format the system can read: its name, extension and file-name pattern, and the readers
// it makes for its pictures and their EXIF segments. The formats live in CPictureFormatList.
#pragma once

#include "foundation/reg_exp.h"
#include "pictures/exif_reader.h"
#include "pictures/picture_reader.h"

#include <memory>
#include <string>

class CPictureFormat {
public:
    virtual ~CPictureFormat() = default;

    virtual std::string GetName() const = 0;
    virtual std::string GetDefaultExtension() const = 0;
    // In the regular-expression syntax of CRegExp.
    virtual std::string GetFileNamePattern() const = 0;
    // A copy of the pattern compiled once, for the caller's own matching.
    virtual CRegExp GetCompiledPattern() const = 0;

    // True when a reader opens on the file.
    virtual bool CanRead(const std::string& path) const;
    // A reader of this format, not yet opened.
    virtual std::unique_ptr<IPictureReader> NewReader() const = 0;
    // A reader opened on the file; null when opening fails in any way.
    virtual std::unique_ptr<IPictureReader> OpenReader(const std::string& path) const;
    // An EXIF reader over the payload of a picture's EXIF segment.
    virtual std::unique_ptr<CExifReader> NewExifReader(const uint8_t* bytes, size_t length) const;
};
