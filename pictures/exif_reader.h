// Reads the camera's properties out of a picture's EXIF segment: the TIFF block's IFD chain and its
// EXIF sub-IFD, in either byte order, turned into keyed value texts ("CameraMake", "ShutterSpeed",
// "Date"...), and the JPEG thumbnail that the camera embeds. The reader stays inside the block whatever
// the counts, types, offsets and chains in it say. One thread uses a reader.
#pragma once

#include "pictures/picture_reader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CExifReader {
public:
    using PropertyMap = std::map<std::string, std::string>;

    // At most this many IFDs are read, the sub-IFDs included; a chain that is longer, or that comes
    // back to an IFD already read, ends there.
    static constexpr int kMaxIfds = 64;

    // `bytes` is the payload of the EXIF segment: "Exif", two zero bytes, then the TIFF block, which is
    // copied. Anything else leaves the reader empty: no properties and no thumbnail.
    CExifReader(const uint8_t* bytes, size_t length);
    CExifReader(const CExifReader&) = delete;
    CExifReader& operator=(const CExifReader&) = delete;

    bool IsEmpty() const { return m_block.empty(); }

    // Read on the first call. "Date" holds the time the picture was taken, as decimal seconds since
    // 1970 (the camera's clock taken as local time, daylight saving off).
    const PropertyMap& GetProperties();

    // The embedded thumbnail, opened on a copy of its bytes; null when there is none or it cannot be
    // opened, and on every request after the first.
    std::unique_ptr<IPictureReader> TakeThumbnail();

    // Where the embedded thumbnail lies in the TIFF block (tags 513 and 514), found on the first call.
    std::optional<uint32_t> GetThumbnailOffset();
    std::optional<uint32_t> GetThumbnailLength();

private:
    enum class ByteOrder { LittleEndian, BigEndian };

    // One 12-byte IFD entry, its value located: `value` is the block offset of the value's bytes and
    // `size` their length, both checked to lie inside the block.
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        uint32_t value;
        uint32_t size;
    };

    enum class SubIfds { Enter, Skip };
    template <typename Visit>
    void WalkChain(SubIfds subIfds, Visit&& visit) const;
    template <typename Visit>
    bool ReadIfd(uint32_t offset, SubIfds subIfds, std::vector<uint32_t>& seen, uint32_t* next,
                 Visit& visit) const;
    std::optional<Entry> LocateEntry(uint32_t at) const;

    void StoreProperty(const Entry& entry);
    void FindThumbnail();

    uint16_t Read16(uint32_t at) const;
    uint32_t Read32(uint32_t at) const;
    std::optional<double> ReadNumber(const Entry& entry) const;
    std::optional<int64_t> ReadInteger(const Entry& entry) const;
    std::string ReadText(const Entry& entry) const;

    std::vector<uint8_t> m_block; // the TIFF block, owned
    ByteOrder m_order = ByteOrder::LittleEndian;
    PropertyMap m_properties;
    std::optional<uint32_t> m_thumbnailOffset;
    std::optional<uint32_t> m_thumbnailLength;
    bool m_propertiesRead = false;
    bool m_thumbnailSearched = false;
    bool m_thumbnailGivenOut = false;
};

// The EXIF date text "YYYY:MM:DD HH:MM:SS" as seconds since 1970, read as local time with daylight
// saving off; nothing when the text is too short or the time cannot be represented.
std::optional<int64_t> ParseExifDate(const std::string& text);
