#include "ui/image.h"

#include "platform/draw_context.h"
#include "platform/resources.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
// Larger pictures are not module bitmaps; the bound keeps a damaged header from asking for gigabytes.
constexpr int32_t kMaxSide = 16384;

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

CUIImage::CUIImage(int width, int height)
    : m_width(std::max(width, 0)), m_height(std::max(height, 0)), m_pixels(RowBytesFor(m_width) * m_height) {}

CUIImage::CUIImage(const CUIImage& other)
    : m_width(other.m_width), m_height(other.m_height), m_pixels(other.m_pixels) {}

CUIImage& CUIImage::operator=(const CUIImage& other) {
    if (this != &other) {
        m_width = other.m_width;
        m_height = other.m_height;
        m_pixels = other.m_pixels;
        m_native.reset();
        m_changed = true;
    }
    return *this;
}

CUIImage::CUIImage(CUIImage&& other) noexcept
    : m_width(std::exchange(other.m_width, 0)), m_height(std::exchange(other.m_height, 0)),
      m_pixels(std::move(other.m_pixels)), m_native(std::move(other.m_native)), m_changed(other.m_changed) {
    other.m_pixels.clear();
}

CUIImage& CUIImage::operator=(CUIImage&& other) noexcept {
    if (this != &other) {
        // The moved-from image is left empty, so that its size still matches its buffer.
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
        m_pixels = std::move(other.m_pixels);
        other.m_pixels.clear();
        m_native = std::move(other.m_native);
        m_changed = other.m_changed;
    }
    return *this;
}
CUIImage::~CUIImage() = default;

std::optional<CUIImage> CUIImage::FromResource(uint32_t id) {
    auto bytes = platform::FindModuleResource(platform::ResourceType::Bitmap, id);
    if (!bytes)
        return std::nullopt;
    return FromDIB(*bytes);
}

std::optional<CUIImage> CUIImage::FromDIB(std::span<const uint8_t> bytes) {
    if (bytes.size() >= kFileHeaderBytes && bytes[0] == 'B' && bytes[1] == 'M')
        bytes = bytes.subspan(kFileHeaderBytes);
    if (bytes.size() < kInfoHeaderBytes)
        return std::nullopt;
    const uint8_t* header = bytes.data();
    uint32_t headerSize = U32(header);
    auto width = static_cast<int32_t>(U32(header + 4));
    auto height = static_cast<int32_t>(U32(header + 8));
    uint16_t bitCount = U16(header + 14);
    uint32_t compression = U32(header + 16);
    uint32_t colorsUsed = U32(header + 32);
    if (headerSize < kInfoHeaderBytes || headerSize > bytes.size() || bitCount != 24 || compression != 0)
        return std::nullopt;
    bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    // A 24-bit bitmap may still carry a colour table that the pixels follow.
    size_t offset = size_t(headerSize) + size_t(colorsUsed) * 4;
    size_t rowBytes = RowBytesFor(width);
    if (colorsUsed > bytes.size() || offset > bytes.size() ||
        (bytes.size() - offset) / rowBytes < size_t(height))
        return std::nullopt;
    CUIImage image(width, height);
    const uint8_t* pixels = bytes.data() + offset;
    for (int row = 0; row < height; ++row) {
        // Stored row `row`; the buffer is bottom-up.
        int bufferRow = topDown ? height - 1 - row : row;
        std::memcpy(image.m_pixels.data() + size_t(bufferRow) * rowBytes, pixels + size_t(row) * rowBytes,
                    rowBytes);
    }
    return image;
}

CUIColor CUIImage::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return {};
    const uint8_t* p = PixelAt(x, y);
    return CUIColor(p[2], p[1], p[0]);
}

void CUIImage::SetPixel(int x, int y, CUIColor color) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    uint8_t* p = PixelAt(x, y);
    p[0] = color.Blue();
    p[1] = color.Green();
    p[2] = color.Red();
    m_changed = true;
}

void CUIImage::Fill(CUIColor color) {
    FillRect({0, 0, m_width, m_height}, color);
}

void CUIImage::FillRect(const CUIRect& rect, CUIColor color) {
    CUIRect area = rect.Intersect({0, 0, m_width, m_height});
    if (area.IsEmpty())
        return;
    uint32_t packed = color.GetPacked();
    uint8_t bgr[3] = {static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                      static_cast<uint8_t>(packed)};
    for (int y = area.top; y < area.bottom; ++y) {
        uint8_t* p = PixelAt(area.left, y);
        for (int x = area.left; x < area.right; ++x, p += 3)
            std::memcpy(p, bgr, 3);
    }
    m_changed = true;
}

const platform::NativeImage& CUIImage::GetNative() const {
    if (!m_native) {
        m_native = platform::CreateNativeImage(m_width, m_height);
        m_changed = true;
    }
    if (m_changed) {
        m_native->Update(m_pixels.data(), RowBytes());
        m_changed = false;
    }
    return *m_native;
}
