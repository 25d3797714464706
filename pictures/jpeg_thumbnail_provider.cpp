#include "pictures/jpeg_thumbnail_provider.h"

#include "foundation/thread.h"
#include "pictures/exception.h"
#include "pictures/exif_reader.h"
#include "pictures/jpeg_reader.h"
#include "pictures/picture_format_list.h"

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace {

bool IsLandscape(uint32_t width, uint32_t height) {
    return !(uint64_t{width} < uint64_t{height}); // width / height not below 1
}

// The embedded thumbnail when it is rotated like the picture; null otherwise.
std::unique_ptr<IPictureReader> OpenEmbeddedThumbnail(const CPictureFormat& format, IPictureReader& main) {
    const std::span<const uint8_t> segment = main.GetExifSegment();
    if (segment.empty())
        return nullptr;
    std::unique_ptr<CExifReader> exif = format.NewExifReader(segment.data(), segment.size());
    std::unique_ptr<IPictureReader> thumbnail = exif->TakeThumbnail();
    if (thumbnail == nullptr)
        return nullptr;
    if (IsLandscape(thumbnail->GetWidth(), thumbnail->GetHeight()) !=
        IsLandscape(main.GetWidth(), main.GetHeight()))
        return nullptr;
    return thumbnail;
}

// The source index of output index i of `count` over a source of `size`.
uint32_t SourceIndex(uint32_t size, int i, int count) {
    if (count <= 1)
        return 0;
    return static_cast<uint32_t>(uint64_t{size - 1} * static_cast<uint64_t>(i) / static_cast<uint64_t>(count - 1));
}

} // namespace

std::string CJPEGThumbnailProvider::GetTypeKey(const std::string& path) {
    // A picture's thumbnail is its own; other files share their type's answer.
    if (CPictureFormatList::Get().FindByFileName(path) != nullptr)
        return {};
    return m_next != nullptr ? m_next->GetTypeKey(path) : std::string();
}

CImagePair CJPEGThumbnailProvider::Get(const CSizeSpec& size, const std::string& path, int& flags) {
    flags &= ~kImageOutFlags;
    const CPictureFormat* format = CPictureFormatList::Get().FindByFileName(path);
    if (format != nullptr && (flags & kImageNoDecoding) != 0)
        return {};

    std::unique_ptr<IPictureReader> reader = format != nullptr ? format->OpenReader(path) : nullptr;
    if (reader == nullptr) {
        if (m_next == nullptr)
            return {};
        CImagePair image = m_next->Get(size, path, flags);
        // A picture that cannot be read keeps its icon: nothing better will come.
        if (format != nullptr && (flags & kImageComplete) != 0)
            flags |= kImageFinal;
        return image;
    }

    return MakeThumbnail(*format, std::move(reader), size.cellSize, flags);
}

CImagePair CJPEGThumbnailProvider::MakeThumbnail(const CPictureFormat& format,
                                                 std::unique_ptr<IPictureReader> reader, int cellSize,
                                                 int& flags) const {
    flags &= ~kImageOutFlags;
    std::unique_ptr<IPictureReader> thumbnail;
    try {
        thumbnail = OpenEmbeddedThumbnail(format, *reader);
    } catch (const PXException&) {
        thumbnail.reset(); // the main picture serves
    }
    if (thumbnail != nullptr)
        reader = std::move(thumbnail);

    CImagePair image;
    const bool complete = Draw(*reader, cellSize, image);
    flags |= kImageFinal | (complete ? kImageComplete : 0);
    return image;
}

bool CJPEGThumbnailProvider::Draw(IPictureReader& reader, int cellSize, CImagePair& image) const {
    const int cell = (std::max)(cellSize, 0);
    image.picture = CUIImage(cell, cell);
    image.mask = CUIImage(cell, cell);

    // Fit the longer side to the room inside the frame; the shorter keeps the picture's proportion.
    const uint32_t width = reader.GetWidth();
    const uint32_t height = reader.GetHeight();
    const int room = cell - 2 * m_frameWidth;
    const uint32_t longer = (std::max)(width, height);
    const uint32_t shorter = (std::min)(width, height);
    int fittedLonger = room;
    int fittedShorter = longer == 0 || room <= 0
                            ? 0
                            : static_cast<int>(uint64_t{shorter} * static_cast<uint64_t>(room) / longer);
    if (longer == 0)
        fittedLonger = 0;
    const int across = (room - fittedShorter) / 2 + m_frameWidth;
    const bool landscape = IsLandscape(width, height);
    const CUIRect area = landscape ? CUIRect::FromSize(m_frameWidth, across, fittedLonger, fittedShorter)
                                   : CUIRect::FromSize(across, m_frameWidth, fittedShorter, fittedLonger);

    if (area.Width() < 1 || area.Height() < 1) {
        image.mask.Fill(CUIColor(0, 0, 0));
        image.picture.Fill(m_frameColor);
        return true;
    }
    const CUIRect framed{area.left - m_frameWidth, area.top - m_frameWidth, area.right + m_frameWidth,
                         area.bottom + m_frameWidth};
    image.mask.Fill(CUIColor(255, 255, 255));
    image.mask.FillRect(framed, CUIColor(0, 0, 0));
    image.picture.Fill(CUIColor(0, 0, 0));
    image.picture.FillRect(framed, m_frameColor);

    bool complete = true;
    try {
        complete = Decode(reader, area, image.picture);
    } catch (const PXException&) {
        // Corrupt data: what was drawn stays, at worst the frame-coloured square.
    } catch (const std::bad_alloc&) {
        // A row buffer too large for the process: the same.
    }
    image.picture.MarkChanged();
    return complete;
}

bool CJPEGThumbnailProvider::Decode(IPictureReader& reader, const CUIRect& area, CUIImage& picture) {
    const int fittedWidth = area.Width();
    const int fittedHeight = area.Height();
    const uint32_t shorter = (std::min)(reader.GetWidth(), reader.GetHeight());
    const int reduction =
        (std::max)(1, static_cast<int>(shorter / static_cast<uint32_t>((std::max)(fittedWidth, fittedHeight))));
    reader.SetScale(CJPEGReader::GetNearestScale(reduction));
    const uint32_t scaledWidth = reader.GetWidth();
    const uint32_t scaledHeight = reader.GetHeight();

    std::vector<uint32_t> row(scaledWidth);
    std::vector<uint32_t> columns(static_cast<size_t>(fittedWidth));
    for (int j = 0; j < fittedWidth; ++j)
        columns[static_cast<size_t>(j)] = SourceIndex(scaledWidth, j, fittedWidth);

    int64_t rowsRead = 0; // rows of the scaled picture read so far; row rowsRead - 1 is in `row`
    for (int i = 0; i < fittedHeight; ++i) {
        if (IsStopRequested()) {
            reader.Abort();
            return false;
        }
        const int64_t source = SourceIndex(scaledHeight, i, fittedHeight);
        while (rowsRead <= source) {
            if (!reader.ReadRow(row))
                return true; // fewer rows than the header said: the rest stays frame-coloured
            ++rowsRead;
        }
        uint8_t* out = picture.Bits() + size_t(picture.Height() - 1 - (area.top + i)) * picture.RowBytes() +
                       size_t(area.left) * 3;
        for (int j = 0; j < fittedWidth; ++j, out += 3) {
            const uint32_t pixel = row[columns[static_cast<size_t>(j)]];
            out[0] = static_cast<uint8_t>(pixel);
            out[1] = static_cast<uint8_t>(pixel >> 8);
            out[2] = static_cast<uint8_t>(pixel >> 16);
        }
    }
    reader.Abort(); // the rows below the last one used are not needed
    return true;
}
