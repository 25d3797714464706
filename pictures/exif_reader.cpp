#include "pictures/exif_reader.h"

#include "foundation/string_format.h"
#include "foundation/string_number.h"
#include "pictures/jpeg_reader.h"
#include "platform/file_system.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr size_t kExifHeaderLength = 6; // "Exif" and two zero bytes
constexpr size_t kByteOrderLength = 4;  // "II*" + zero, or "MM" + zero + "*"
constexpr uint32_t kFirstIfdPointer = 4;
constexpr uint32_t kEntryLength = 12;

constexpr uint16_t kTagExifSubIfd = 0x8769;
constexpr uint16_t kTagThumbnailOffset = 513;
constexpr uint16_t kTagThumbnailLength = 514;

// TIFF field types.
enum : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSByte = 6,
    kUndefined = 7,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
};

// Bytes per value of a field type; 0 for a type this reader does not know.
uint32_t TypeSize(uint16_t type) {
    switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
        return 1;
    case kShort:
    case kSShort:
        return 2;
    case kLong:
    case kSLong:
    case kFloat:
        return 4;
    case kRational:
    case kSRational:
    case kDouble:
        return 8;
    default:
        return 0;
    }
}

// How a tag's value becomes its property text.
enum class Writing {
    Text,         // the text without its terminating NUL
    Integer,      // the first value, "%d"
    Real,         // the first value, "%g"
    ExposureTime, // seconds x: "1/" and the rounded reciprocal below 1, else "%g"
    ApexShutter,  // APEX shutter speed v: "1/" 2^v when v >= 0, else 2^-v
    ApexAperture, // APEX aperture a: the f-number 2^(a/2)
    Date,         // the time taken, as seconds since 1970
};

struct TagRule {
    uint16_t tag;
    const char* key;
    Writing writing;
};

// In ascending tag order; where two tags give one key, the later tag of an IFD wins, so the APEX values
// override the plain exposure time and f-number.
constexpr TagRule kTagRules[] = {
    {0x010E, "ImageDescription", Writing::Text},
    {0x010F, "CameraMake", Writing::Text},
    {0x0110, "CameraModel", Writing::Text},
    {0x0112, "Orientation", Writing::Integer},
    {0x0131, "CameraSoftware", Writing::Text},
    {0x8298, "Copyright", Writing::Text},
    {0x829A, "ShutterSpeed", Writing::ExposureTime},
    {0x829D, "Aperture", Writing::Real},
    {0x8822, "ExposureProgram", Writing::Integer},
    {0x8827, "ISO", Writing::Integer},
    {0x9003, "Date", Writing::Date},
    {0x9201, "ShutterSpeed", Writing::ApexShutter},
    {0x9202, "Aperture", Writing::ApexAperture},
    {0x9203, "Brightness", Writing::Real},
    {0x9204, "ExposureBias", Writing::Real},
    {0x9206, "SubjectDistance", Writing::Real},
    {0x9207, "MeteringMode", Writing::Integer},
    {0x9208, "LightSource", Writing::Integer},
    {0x9209, "Flash", Writing::Integer},
    {0x920A, "FocalLength", Writing::Real},
};

const TagRule* FindRule(uint16_t tag) {
    for (const TagRule& rule : kTagRules) {
        if (rule.tag == tag)
            return &rule;
    }
    return nullptr;
}

std::string FormatReal(double value) {
    return FormatString("%g", value);
}

int64_t Truncate(double value) {
    constexpr double kLimit = 9.2e18; // inside int64_t's range
    return static_cast<int64_t>(std::clamp(value, -kLimit, kLimit));
}

} // namespace

CExifReader::CExifReader(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length < kExifHeaderLength + kByteOrderLength ||
        std::memcmp(bytes, "Exif\0\0", kExifHeaderLength) != 0)
        return;
    const uint8_t* order = bytes + kExifHeaderLength;
    if (std::memcmp(order, "II*\0", kByteOrderLength) == 0)
        m_order = ByteOrder::LittleEndian;
    else if (std::memcmp(order, "MM\0*", kByteOrderLength) == 0)
        m_order = ByteOrder::BigEndian;
    else
        return;
    // The block is measured with 32-bit offsets; a segment is at most 64 KiB, but stay exact anyway.
    length = (std::min<size_t>)(length, std::numeric_limits<uint32_t>::max());
    m_block.assign(bytes + kExifHeaderLength, bytes + length);
}

uint16_t CExifReader::Read16(uint32_t at) const {
    const uint8_t* p = m_block.data() + at;
    if (m_order == ByteOrder::LittleEndian)
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t CExifReader::Read32(uint32_t at) const {
    const uint8_t* p = m_block.data() + at;
    if (m_order == ByteOrder::LittleEndian)
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

std::optional<CExifReader::Entry> CExifReader::LocateEntry(uint32_t at) const {
    Entry entry{Read16(at), Read16(at + 2), Read32(at + 4), at + 8, 0};
    const uint64_t size = uint64_t{entry.count} * TypeSize(entry.type);
    if (size == 0)
        return std::nullopt;
    if (size > 4) {
        entry.value = Read32(at + 8);
        if (entry.value + size > m_block.size())
            return std::nullopt;
    }
    entry.size = static_cast<uint32_t>(size);
    return entry;
}

template <typename Visit>
bool CExifReader::ReadIfd(uint32_t offset, SubIfds subIfds, std::vector<uint32_t>& seen, uint32_t* next,
                          Visit& visit) const {
    if (static_cast<int>(seen.size()) >= kMaxIfds ||
        std::find(seen.begin(), seen.end(), offset) != seen.end())
        return false;
    seen.push_back(offset);
    const uint64_t size = m_block.size();
    if (uint64_t{offset} + 2 > size)
        return false;
    const uint32_t count = Read16(offset);
    uint32_t at = offset + 2;
    for (uint32_t i = 0; i < count; ++i, at += kEntryLength) {
        if (uint64_t{at} + kEntryLength > size)
            return false;
        std::optional<Entry> entry = LocateEntry(at);
        if (!entry)
            continue;
        if (entry->tag == kTagExifSubIfd && subIfds == SubIfds::Enter) {
            std::optional<int64_t> sub = ReadInteger(*entry);
            // The sub-IFD's own next pointer is not followed.
            if (sub && *sub > 0 && *sub <= std::numeric_limits<uint32_t>::max())
                ReadIfd(static_cast<uint32_t>(*sub), subIfds, seen, nullptr, visit);
            continue;
        }
        visit(*entry);
    }
    if (next != nullptr)
        *next = uint64_t{at} + 4 <= size ? Read32(at) : 0;
    return true;
}

template <typename Visit>
void CExifReader::WalkChain(SubIfds subIfds, Visit&& visit) const {
    if (m_block.size() < kFirstIfdPointer + 4)
        return;
    std::vector<uint32_t> seen;
    uint32_t offset = Read32(kFirstIfdPointer);
    while (offset != 0) {
        uint32_t next = 0;
        if (!ReadIfd(offset, subIfds, seen, &next, visit))
            return;
        offset = next;
    }
}

std::optional<double> CExifReader::ReadNumber(const Entry& entry) const {
    const uint32_t at = entry.value;
    double value = 0;
    switch (entry.type) {
    case kByte:
    case kUndefined:
        value = m_block[at];
        break;
    case kSByte:
        value = static_cast<int8_t>(m_block[at]);
        break;
    case kShort:
        value = Read16(at);
        break;
    case kSShort:
        value = static_cast<int16_t>(Read16(at));
        break;
    case kLong:
        value = Read32(at);
        break;
    case kSLong:
        value = static_cast<int32_t>(Read32(at));
        break;
    case kRational:
    case kSRational: {
        const uint32_t numerator = Read32(at);
        const uint32_t denominator = Read32(at + 4);
        if (denominator == 0)
            return std::nullopt;
        if (entry.type == kRational)
            value = static_cast<double>(numerator) / denominator;
        else
            value = static_cast<double>(static_cast<int32_t>(numerator)) / static_cast<int32_t>(denominator);
        break;
    }
    case kFloat: {
        const uint32_t bits = Read32(at);
        float real;
        std::memcpy(&real, &bits, sizeof real);
        value = real;
        break;
    }
    case kDouble: {
        const uint64_t high = Read32(m_order == ByteOrder::LittleEndian ? at + 4 : at);
        const uint64_t low = Read32(m_order == ByteOrder::LittleEndian ? at : at + 4);
        const uint64_t bits = high << 32 | low;
        std::memcpy(&value, &bits, sizeof value);
        break;
    }
    default: // text
        return std::nullopt;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int64_t> CExifReader::ReadInteger(const Entry& entry) const {
    switch (entry.type) {
    case kByte:
    case kUndefined:
        return m_block[entry.value];
    case kSByte:
        return static_cast<int8_t>(m_block[entry.value]);
    case kShort:
        return Read16(entry.value);
    case kSShort:
        return static_cast<int16_t>(Read16(entry.value));
    case kLong:
        return Read32(entry.value);
    case kSLong:
        return static_cast<int32_t>(Read32(entry.value));
    default:
        if (std::optional<double> value = ReadNumber(entry))
            return Truncate(*value);
        return std::nullopt;
    }
}

std::string CExifReader::ReadText(const Entry& entry) const {
    // count - 1 bytes drop the terminating NUL; a NUL before it ends the text there.
    const auto* begin = reinterpret_cast<const char*>(m_block.data() + entry.value);
    const size_t length = entry.count - 1;
    return std::string(begin, std::find(begin, begin + length, '\0'));
}

void CExifReader::StoreProperty(const Entry& entry) {
    const TagRule* rule = FindRule(entry.tag);
    if (rule == nullptr)
        return;
    std::string text;
    if (rule->writing == Writing::Text || rule->writing == Writing::Date) {
        text = ReadText(entry);
        if (rule->writing == Writing::Date) {
            std::optional<int64_t> time = ParseExifDate(text);
            if (!time)
                return;
            text = FormatString("%lld", static_cast<long long>(*time));
        }
    } else if (rule->writing == Writing::Integer) {
        std::optional<int64_t> value = ReadInteger(entry);
        if (!value)
            return;
        text = FormatString("%lld", static_cast<long long>(*value));
    } else {
        std::optional<double> value = ReadNumber(entry);
        if (!value)
            return;
        double x = *value;
        switch (rule->writing) {
        case Writing::ExposureTime:
            if (x <= 0)
                return; // no exposure lasts no time
            text = x < 1 ? "1/" + FormatReal(std::floor(1 / x + 0.5)) : FormatReal(x);
            break;
        case Writing::ApexShutter:
            text = x >= 0 ? "1/" + FormatReal(std::pow(2.0, x)) : FormatReal(std::pow(2.0, -x));
            break;
        case Writing::ApexAperture:
            text = FormatReal(std::pow(2.0, x / 2));
            break;
        default:
            text = FormatReal(x);
            break;
        }
    }
    m_properties[rule->key] = std::move(text);
}

const CExifReader::PropertyMap& CExifReader::GetProperties() {
    if (m_propertiesRead)
        return m_properties;
    m_propertiesRead = true;
    WalkChain(SubIfds::Enter, [this](const Entry& entry) { StoreProperty(entry); });
    return m_properties;
}

void CExifReader::FindThumbnail() {
    if (m_thumbnailSearched)
        return;
    m_thumbnailSearched = true;
    WalkChain(SubIfds::Skip, [this](const Entry& entry) {
        if (entry.tag != kTagThumbnailOffset && entry.tag != kTagThumbnailLength)
            return;
        std::optional<int64_t> value = ReadInteger(entry);
        if (!value || *value < 0 || *value > std::numeric_limits<uint32_t>::max())
            return;
        (entry.tag == kTagThumbnailOffset ? m_thumbnailOffset : m_thumbnailLength) =
            static_cast<uint32_t>(*value);
    });
}

std::optional<uint32_t> CExifReader::GetThumbnailOffset() {
    FindThumbnail();
    return m_thumbnailOffset;
}

std::optional<uint32_t> CExifReader::GetThumbnailLength() {
    FindThumbnail();
    return m_thumbnailLength;
}

std::unique_ptr<IPictureReader> CExifReader::TakeThumbnail() {
    if (m_thumbnailGivenOut)
        return nullptr;
    m_thumbnailGivenOut = true;
    FindThumbnail();
    if (!m_thumbnailOffset || *m_thumbnailOffset >= m_block.size())
        return nullptr;
    // A length that is missing or runs past the block is cut at the block's end.
    const size_t available = m_block.size() - *m_thumbnailOffset;
    const size_t length = m_thumbnailLength ? (std::min<size_t>)(*m_thumbnailLength, available) : available;
    auto reader = std::make_unique<CJPEGReader>();
    try {
        reader->Open(m_block.data() + *m_thumbnailOffset, length);
    } catch (...) {
        return nullptr;
    }
    return reader;
}

std::optional<int64_t> ParseExifDate(const std::string& text) {
    constexpr size_t kDateLength = 19; // "YYYY:MM:DD HH:MM:SS"
    if (text.size() < kDateLength)
        return std::nullopt;
    auto field = [&text](size_t position, size_t length) {
        return static_cast<int>(StrToL32(std::string_view(text).substr(position, length), 10));
    };
    std::tm parts{};
    parts.tm_year = field(0, 4) - 1900;
    parts.tm_mon = field(5, 2) - 1;
    parts.tm_mday = field(8, 2);
    parts.tm_hour = field(11, 2);
    parts.tm_min = field(14, 2);
    parts.tm_sec = field(17, 2);
    parts.tm_isdst = 0;
    return platform::JoinLocalTime(parts);
}
