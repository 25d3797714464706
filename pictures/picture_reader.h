// What the picture formats hand out for one picture: its size, colour depth and EXIF segment, and its
// rows at a reduced scale. A reader serves one decode on one thread; failures are PXException objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class IPictureReader {
public:
    virtual ~IPictureReader() = default;

    // Opening reads the picture's header; a reader opened again forgets the earlier picture.
    // PXException when the file cannot be opened, PXUnsupportedException when it is not readable.
    virtual void Open(const std::string& path) = 0;
    // The bytes are copied, so the block may go as soon as this returns.
    virtual void Open(const uint8_t* data, size_t size) = 0;

    // Sizes at the current scale, rounded up. PXUninitializedException before a successful Open.
    virtual uint32_t GetWidth() const = 0;
    virtual uint32_t GetHeight() const = 0;
    virtual uint32_t GetBitsPerPixel() const = 0;

    // The payload of the picture's EXIF segment (empty when it has none), valid while the reader lives.
    virtual std::span<const uint8_t> GetExifSegment() const = 0;

    // The scale is a reduction by 1, 2, 4 or 8, set before the first row is read.
    virtual void SetScale(int denominator) = 0;
    virtual int GetScale() const = 0;

    // Reads the next row as GetWidth() pixels of 0xRRGGBB; false once every row has been read.
    virtual bool ReadRow(std::span<uint32_t> row) = 0;
    // Ends a decode early; later ReadRow calls return false.
    virtual void Abort() = 0;
};
