#include "pictures/jpeg_picture_format.h"

#include "pictures/jpeg_reader.h"

CRegExp CJPEGPictureFormat::GetCompiledPattern() const {
    // Compiled on first use, then shared by every copy.
    static const CRegExp pattern(kFileNamePattern);
    return pattern;
}

std::unique_ptr<IPictureReader> CJPEGPictureFormat::NewReader() const {
    return std::make_unique<CJPEGReader>();
}
