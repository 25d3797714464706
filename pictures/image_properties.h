// The facts of one picture file as the properties dialog shows them: name, folder, size and time,
// format, dimensions and colour depth, the time the picture was taken, and the camera's EXIF
// properties under their readable labels (the EXIF label catalogue, message table 107).
#pragma once

#include <cstdint>
#include <map>
#include <string>

class CImageProperties {
public:
    // Built completely by its constructor, then only read.
    struct Info {
        // Raised when the file is not a picture that a known format can read.
        class NotAnImage {};

        explicit Info(const std::string& path);

        std::string name;      // the file name after the last separator
        std::string folder;    // the path before it
        std::string type;      // the format's name
        uint64_t size = 0;     // bytes
        int64_t modified = -1; // seconds since 1970
        uint32_t width = 0;
        uint32_t height = 0;
        uint32_t bitsPerPixel = 0;
        int64_t date = -1; // when the picture was taken, seconds since 1970; -1 when unknown
        std::map<std::string, std::string> properties; // label -> value text
    };
};

// "640 x 480" when both sides are non-zero, else "".
std::string FormatDimensions(uint32_t width, uint32_t height);
// "Millions (24 bits)" and the like; "" for 0 bits.
std::string FormatColourDepth(uint32_t bitsPerPixel);
