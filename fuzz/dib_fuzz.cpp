// Bitmap bytes as a resource or a file holds them, read into a 24-bit image.
#include "ui/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto image = CUIImage::FromDIB({data, size}))
        image->GetPixel(image->Width() - 1, 0);
    return 0;
}
