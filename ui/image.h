// A 24-bit picture: a working buffer of bottom-up rows of blue, green, red bytes, each row padded to a
// multiple of 4 bytes, as device-independent bitmaps lay them out (decoders fill it directly), and
// the native image that drawing uses, brought up to date from the buffer only after its pixels
// changed.
#pragma once

#include "ui/color.h"
#include "ui/geometry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace platform {
class NativeImage;
}

class CUIImage {
public:
    // The resolution written into bitmap headers, in both directions.
    static constexpr int kPixelsPerMetre = 1000;

    static constexpr size_t RowBytesFor(int width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

    // A black image; a negative size counts as 0.
    CUIImage(int width, int height);
    CUIImage(const CUIImage& other);
    CUIImage& operator=(const CUIImage& other);
    CUIImage(CUIImage&&) noexcept;
    CUIImage& operator=(CUIImage&&) noexcept;
    ~CUIImage();

    // A bitmap resource of the module by id; nothing when there is none or it is not a 24-bit
    // uncompressed bitmap.
    static std::optional<CUIImage> FromResource(uint32_t id);
    // A bitmap's bytes: a bitmap-information header and its pixels (a file header before it is
    // skipped). Bottom-up and top-down rows are read.
    static std::optional<CUIImage> FromDIB(std::span<const uint8_t> bytes);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    CUISize Size() const { return {m_width, m_height}; }
    size_t RowBytes() const { return RowBytesFor(m_width); }

    // The working buffer. Writers call MarkChanged when done.
    uint8_t* Bits() { return m_pixels.data(); }
    const uint8_t* Bits() const { return m_pixels.data(); }
    void MarkChanged() { m_changed = true; }

    // Pixels by position from the top-left corner; positions outside give black and are not written.
    CUIColor GetPixel(int x, int y) const;
    void SetPixel(int x, int y, CUIColor color);
    void Fill(CUIColor color);
    void FillRect(const CUIRect& rect, CUIColor color);

    // The native image, converted from the buffer when the pixels changed since the last call.
    const platform::NativeImage& GetNative() const;

private:
    uint8_t* PixelAt(int x, int y) {
        return m_pixels.data() + size_t(m_height - 1 - y) * RowBytes() + size_t(x) * 3;
    }
    const uint8_t* PixelAt(int x, int y) const {
        return m_pixels.data() + size_t(m_height - 1 - y) * RowBytes() + size_t(x) * 3;
    }

    int m_width;
    int m_height;
    std::vector<uint8_t> m_pixels;
    mutable std::unique_ptr<platform::NativeImage> m_native;
    mutable bool m_changed = true;
};
