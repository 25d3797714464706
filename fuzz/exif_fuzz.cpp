// The EXIF reader over arbitrary segment payloads, with its embedded thumbnail.
#include "pictures/exception.h"
#include "pictures/exif_reader.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CExifReader reader(data, size);
    reader.GetProperties();
    if (std::unique_ptr<IPictureReader> thumbnail = reader.TakeThumbnail()) {
        try {
            thumbnail->SetScale(8);
            std::vector<uint32_t> row(thumbnail->GetWidth());
            for (int rows = 0; rows < 64 && thumbnail->ReadRow(row); ++rows) {
            }
        } catch (const PXException&) {
        }
    }
    return 0;
}
