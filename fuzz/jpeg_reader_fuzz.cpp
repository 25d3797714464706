// The JPEG reader over arbitrary bytes in memory: header, EXIF segment and every row at a reduced scale.
#include "pictures/exception.h"
#include "pictures/jpeg_reader.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t kMaxPixels = 1 << 22; // keeps one run short; larger pictures stop at the header
    CJPEGReader reader;
    try {
        reader.Open(data, size);
        reader.GetExifSegment();
        reader.SetScale(CJPEGReader::GetNearestScale(
            static_cast<int>(std::min<uint32_t>(std::max(reader.GetWidth(), reader.GetHeight()) / 64, 8))));
        if (uint64_t{reader.GetWidth()} * reader.GetHeight() > kMaxPixels)
            return 0;
        std::vector<uint32_t> row(reader.GetWidth());
        while (reader.ReadRow(row)) {
        }
    } catch (const PXException&) {
    }
    return 0;
}
