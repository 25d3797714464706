#include "pictures/upload_spec_reader.h"

#include "foundation/exception.h"

#include <cstdio>

UploadSpecReader::UploadSpecReader(std::string path) : m_path(std::move(path)) {
    try {
        m_stream = std::make_unique<CFileStream>(m_path, CFileStream::OpenMode::Existing);
    } catch (const CException&) {
        throw "Cannot open file";
    }
    m_parser = std::make_unique<PxUploadSpecParser>(*m_stream);
}

UploadSpecReader::~UploadSpecReader() {
    const bool parsed = m_root != nullptr;
    m_root = nullptr;
    m_parser.reset();
    m_stream.reset();
    if (parsed)
        std::remove(m_path.c_str());
}

std::span<const IUploadSpecImage* const> UploadSpecReader::GetImages() {
    if (m_parser == nullptr)
        return {};
    if (m_error != nullptr)
        throw m_error;
    if (m_root == nullptr) {
        try {
            m_root = &m_parser->Parse();
        } catch (const char* error) {
            m_error = error;
            throw;
        }
    }
    return m_root->GetImages();
}
