#include "pictures/image_properties.h"

#include "foundation/file_stream.h"
#include "foundation/message_table.h"
#include "foundation/path.h"
#include "foundation/string_format.h"
#include "pictures/picture_format_list.h"
#include "platform/resources.h"

#include <charconv>
#include <memory>
#include <mutex>

namespace {

constexpr uint32_t kStringDimensions = 10015;  // "%1 x %2"
constexpr uint32_t kStringColourDepth = 10016; // "%2 (%1 bits)"
constexpr uint32_t kStringMonochrome = 10017;
constexpr uint32_t kStringHundreds = 10018;
constexpr uint32_t kStringThousands = 10019;
constexpr uint32_t kStringMillions = 10020;
constexpr uint32_t kStringTens = 10021;

// The EXIF label catalogue, loaded once it can be and kept for the life of the process; an empty one
// stands in while the module's resources lack it.
const CMessageTable& ExifCatalogue() {
    static std::mutex mutex;
    static std::unique_ptr<const CMessageTable> loaded; // guarded by mutex until set, then never changed
    static const CMessageTable empty;
    std::lock_guard lock(mutex);
    if (loaded == nullptr)
        loaded = LoadMessageTable(kExifMessageTable);
    return loaded != nullptr ? *loaded : empty;
}

// Adds the camera's properties; a failure keeps what was read before it.
void ReadExif(const CPictureFormat& format, const IPictureReader& reader, CImageProperties::Info& info) {
    try {
        std::span<const uint8_t> segment = reader.GetExifSegment();
        std::unique_ptr<CExifReader> exif = format.NewExifReader(segment.data(), segment.size());
        const CMessageTable& catalogue = ExifCatalogue();
        for (const auto& [key, value] : exif->GetProperties()) {
            if (key == "Date") {
                int64_t date = -1;
                std::from_chars(value.data(), value.data() + value.size(), date);
                info.date = date;
                continue;
            }
            std::string label = key;
            std::string text = value;
            catalogue.LookupValue(label, text);
            info.properties[label] = text;
        }
    } catch (...) {
    }
}

} // namespace

CImageProperties::Info::Info(const std::string& path) {
    try {
        const CPictureFormat* format = CPictureFormatList::Get().FindByContent(path);
        if (format == nullptr)
            throw NotAnImage();
        {
            CFileStream stream(path, CFileStream::OpenMode::Existing);
            size = stream.GetLength();
        }
        name = GetFileName(path);
        folder = GetFolder(path);
        modified = GetFileTime(path);
        type = format->GetName();

        std::unique_ptr<IPictureReader> reader = format->OpenReader(path);
        if (reader == nullptr)
            throw NotAnImage();
        width = reader->GetWidth();
        height = reader->GetHeight();
        bitsPerPixel = reader->GetBitsPerPixel();
        ReadExif(*format, *reader, *this);
    } catch (const NotAnImage&) {
        throw;
    } catch (...) {
        throw NotAnImage();
    }
}

std::string FormatDimensions(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0)
        return "";
    return SubstituteArgs(platform::LoadText(kStringDimensions),
                          {std::to_string(width), std::to_string(height)});
}

std::string FormatColourDepth(uint32_t bitsPerPixel) {
    if (bitsPerPixel == 0)
        return "";
    uint32_t name = kStringMillions;
    if (bitsPerPixel <= 2)
        name = kStringMonochrome;
    else if (bitsPerPixel <= 6)
        name = kStringTens;
    else if (bitsPerPixel <= 9)
        name = kStringHundreds;
    else if (bitsPerPixel <= 19)
        name = kStringThousands;
    return SubstituteArgs(platform::LoadText(kStringColourDepth),
                          {std::to_string(bitsPerPixel), platform::LoadText(name)});
}
