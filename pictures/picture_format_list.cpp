#include "pictures/picture_format_list.h"

#include "pictures/jpeg_picture_format.h"

CPictureFormatList& CPictureFormatList::Get() {
    static CPictureFormatList list;
    return list;
}

CPictureFormatList::CPictureFormatList() {
    m_formats.push_back(std::make_unique<CJPEGPictureFormat>());
}

void CPictureFormatList::Add(std::unique_ptr<CPictureFormat> format) {
    std::lock_guard lock(m_mutex);
    m_formats.push_back(std::move(format));
}

// The formats are never removed, so the lookups match and open files outside the lock.
std::vector<const CPictureFormat*> CPictureFormatList::Snapshot() const {
    std::lock_guard lock(m_mutex);
    std::vector<const CPictureFormat*> formats;
    for (const auto& format : m_formats)
        formats.push_back(format.get());
    return formats;
}

const CPictureFormat* CPictureFormatList::FindByFileName(const std::string& name) const {
    for (const CPictureFormat* format : Snapshot()) {
        CRegExp pattern = format->GetCompiledPattern();
        if (pattern.Match(name, 0))
            return format;
    }
    return nullptr;
}

const CPictureFormat* CPictureFormatList::FindByContent(const std::string& path) const {
    for (const CPictureFormat* format : Snapshot()) {
        if (format->CanRead(path))
            return format;
    }
    return nullptr;
}
