// The end of the provider chain: any file's icon from its content type, drawn into the cell. Files of
// one content type share their answer (the type key is the content type), which is complete but not
// final, so the cache keeps it by type.
#pragma once

#include "pictures/image_provider.h"

class CFileTypeIconProvider : public IImageProvider {
public:
    CImagePair Get(const CSizeSpec& size, const std::string& path, int& flags) override;
    std::string GetTypeKey(const std::string& path) override;
    IImageProvider* GetNext() const override { return nullptr; }
};
