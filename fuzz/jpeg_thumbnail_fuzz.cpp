// The thumbnail of arbitrary bytes taken as a JPEG picture: the EXIF segment's embedded thumbnail
// (opened from memory) when rotated like the picture, the fitting and the scaled decode into a cell.
#include "pictures/exception.h"
#include "pictures/jpeg_picture_format.h"
#include "pictures/jpeg_thumbnail_provider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const CJPEGPictureFormat format;
    static const CJPEGThumbnailProvider provider;
    std::unique_ptr<IPictureReader> reader = format.NewReader();
    try {
        reader->Open(data, size);
    } catch (const PXException&) {
        return 0;
    }
    int flags = 0;
    const CImagePair image = provider.MakeThumbnail(format, std::move(reader), 48, flags);
    if (image.picture.Width() != 48 || image.mask.Height() != 48 || (flags & kImageFinal) == 0)
        __builtin_trap();
    return 0;
}
