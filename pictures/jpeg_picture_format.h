// The JPEG picture format: ".jpg", ".jpeg" and ".jpe" files of any letter case, read by CJPEGReader.
#pragma once

#include "pictures/picture_format.h"

class CJPEGPictureFormat : public CPictureFormat {
public:
    static constexpr const char* kFileNamePattern = "\\.[jJ][pP]<[eE]?[gG]|[eE]>$";

    std::string GetName() const override { return "JPEG"; }
    std::string GetDefaultExtension() const override { return ".jpg"; }
    std::string GetFileNamePattern() const override { return kFileNamePattern; }
    CRegExp GetCompiledPattern() const override;
    std::unique_ptr<IPictureReader> NewReader() const override;
};
