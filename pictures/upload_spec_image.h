// What the control sees of one picture of an upload specification: its file name and its properties
// ("Image.AlbumName" and keys beginning with "Image.ViewProperties."), in ascending key order.
#pragma once

#include <map>
#include <string>

class IUploadSpecImage {
public:
    using PropertyMap = std::map<std::string, std::string>;

    virtual ~IUploadSpecImage() = default;
    virtual const std::string& GetFileName() const = 0;
    virtual PropertyMap::const_iterator GetFirstProperty() const = 0;
    virtual PropertyMap::const_iterator GetPropertiesEnd() const = 0;
};
