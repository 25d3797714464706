// Thumbnails of pictures in a recognised format: the picture (or its embedded EXIF thumbnail when that
// is rotated like the picture) fitted into the cell inside a thin frame, decoded at the DCT scale
// nearest the reduction and scaled by nearest neighbour. Files of no picture format, and pictures
// that cannot be opened, go to the next provider.
//
// Threads: any thread may call Get; the provider holds no state that a decode changes, and a decode
// polls the calling thread's stop request once per output row.
#pragma once

#include "pictures/image_provider.h"
#include "pictures/picture_format.h"
#include "pictures/picture_reader.h"
#include "ui/color.h"

#include <memory>

class CJPEGThumbnailProvider : public IImageProvider {
public:
    explicit CJPEGThumbnailProvider(IImageProvider* next = nullptr, CUIColor frameColor = {},
                                    int frameWidth = 1)
        : m_next(next), m_frameColor(frameColor), m_frameWidth(frameWidth) {}

    CImagePair Get(const CSizeSpec& size, const std::string& path, int& flags) override;
    std::string GetTypeKey(const std::string& path) override;
    IImageProvider* GetNext() const override { return m_next; }

    // The thumbnail of a picture whose reader is open: its embedded thumbnail or itself, drawn. Sets
    // the out-flags.
    CImagePair MakeThumbnail(const CPictureFormat& format, std::unique_ptr<IPictureReader> reader,
                             int cellSize, int& flags) const;

    // Draws the picture of an opened reader into a cell x cell thumbnail: fitting, frame, scale and
    // rows. Returns false when the calling thread was asked to stop before the last row; a decoding
    // error keeps what was drawn and counts as done.
    bool Draw(IPictureReader& reader, int cellSize, CImagePair& image) const;

private:
    // Fills the fitted area; false when stopped early. Throws what the reader throws.
    static bool Decode(IPictureReader& reader, const CUIRect& area, CUIImage& picture);

    IImageProvider* m_next; // borrowed
    CUIColor m_frameColor;
    int m_frameWidth;
};
