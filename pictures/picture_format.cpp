#include "pictures/picture_format.h"

bool CPictureFormat::CanRead(const std::string& path) const {
    return OpenReader(path) != nullptr;
}

std::unique_ptr<IPictureReader> CPictureFormat::OpenReader(const std::string& path) const {
    try {
        std::unique_ptr<IPictureReader> reader = NewReader();
        reader->Open(path);
        return reader;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<CExifReader> CPictureFormat::NewExifReader(const uint8_t* bytes, size_t length) const {
    return std::make_unique<CExifReader>(bytes, length);
}
