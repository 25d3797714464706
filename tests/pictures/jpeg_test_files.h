// Test pictures made on the spot: JPEG files compressed with libjpeg, with APP1 segments in front of
// the picture data, and EXIF segments written in either byte order with IFD0, the EXIF sub-IFD, and
// IFD1 holding an embedded thumbnail. Shared by the picture tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace testpictures {

using Bytes = std::vector<uint8_t>;

struct JpegOptions {
    uint32_t width = 64;
    uint32_t height = 48;
    int components = 3; // 1 (grey) or 3 (colour)
    int quality = 90;
    bool progressive = false;
    std::vector<Bytes> app1 = {}; // APP1 payloads, in file order
    int noise = 0; // amplitude of a fixed pseudo-random variation, so that pictures compress as photos do
    // The pixel at (x, y) as 0xRRGGBB in place of the gradient; null for the gradient.
    uint32_t (*pixel)(uint32_t x, uint32_t y) = nullptr;
};

// The test picture's pixel at (x, y) as 0xRRGGBB: red grows to the right, green downwards, blue fixed.
// Grey pictures hold the red channel's value.
inline uint32_t GradientPixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const uint32_t red = width > 1 ? x * 255 / (width - 1) : 0;
    const uint32_t green = height > 1 ? y * 255 / (height - 1) : 0;
    return red << 16 | green << 8 | 0x60;
}

inline Bytes EncodeJpeg(const JpegOptions& options) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = options.width;
    info.image_height = options.height;
    info.input_components = options.components;
    info.in_color_space = options.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.quality, TRUE);
    if (options.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    for (const Bytes& payload : options.app1)
        jpeg_write_marker(&info, JPEG_APP0 + 1, payload.data(), static_cast<unsigned>(payload.size()));
    std::vector<JSAMPLE> row(size_t{options.width} * static_cast<size_t>(options.components));
    uint32_t random = 12345;
    auto vary = [&](uint32_t channel) {
        if (options.noise == 0)
            return channel;
        random = random * 1103515245u + 12345u;
        const int varied = static_cast<int>(channel) +
                           static_cast<int>(random >> 16) % (2 * options.noise + 1) - options.noise;
        return static_cast<uint32_t>(std::clamp(varied, 0, 255));
    };
    for (uint32_t y = 0; y < options.height; ++y) {
        for (uint32_t x = 0; x < options.width; ++x) {
            const uint32_t gradient = options.pixel != nullptr ? options.pixel(x, y)
                                                               : GradientPixel(x, y, options.width, options.height);
            const uint32_t pixel =
                vary(gradient >> 16 & 0xFF) << 16 | vary(gradient >> 8 & 0xFF) << 8 | vary(gradient & 0xFF);
            if (options.components == 1) {
                row[x] = static_cast<JSAMPLE>(pixel >> 16);
            } else {
                row[3 * x] = static_cast<JSAMPLE>(pixel >> 16);
                row[3 * x + 1] = static_cast<JSAMPLE>(pixel >> 8);
                row[3 * x + 2] = static_cast<JSAMPLE>(pixel);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    Bytes bytes(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

enum class ByteOrder { Little, Big };
enum class Ifd { Zero, Exif, One };

// TIFF field types.
enum FieldType : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
};

// Builds an EXIF segment payload: "Exif", two zero bytes, then a TIFF block with IFD0 at offset 8,
// followed by the EXIF sub-IFD (linked from IFD0 by tag 0x8769) and IFD1 (IFD0's next), then the
// values longer than four bytes, then the thumbnail. Entries are sorted by tag within their IFD.
class ExifBuilder {
public:
    explicit ExifBuilder(ByteOrder order) : m_order(order) {}

    ExifBuilder& Ascii(Ifd ifd, uint16_t tag, const std::string& text) {
        Bytes value(text.begin(), text.end());
        value.push_back(0);
        return Raw(ifd, tag, kAscii, static_cast<uint32_t>(value.size()), value);
    }
    ExifBuilder& Short(Ifd ifd, uint16_t tag, uint16_t value) {
        return Raw(ifd, tag, kShort, 1, Encode16(value));
    }
    ExifBuilder& Long(Ifd ifd, uint16_t tag, uint32_t value) {
        return Raw(ifd, tag, kLong, 1, Encode32(value));
    }
    ExifBuilder& Rational(Ifd ifd, uint16_t tag, uint32_t numerator, uint32_t denominator) {
        Bytes value = Encode32(numerator);
        Bytes second = Encode32(denominator);
        value.insert(value.end(), second.begin(), second.end());
        return Raw(ifd, tag, kRational, 1, value);
    }
    ExifBuilder& SRational(Ifd ifd, uint16_t tag, int32_t numerator, int32_t denominator) {
        Bytes value = Encode32(static_cast<uint32_t>(numerator));
        Bytes second = Encode32(static_cast<uint32_t>(denominator));
        value.insert(value.end(), second.begin(), second.end());
        return Raw(ifd, tag, kSRational, 1, value);
    }
    ExifBuilder& Double(Ifd ifd, uint16_t tag, double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Bytes high = Encode32(static_cast<uint32_t>(bits >> 32));
        Bytes low = Encode32(static_cast<uint32_t>(bits));
        Bytes bytes = m_order == ByteOrder::Little ? low : high;
        const Bytes& second = m_order == ByteOrder::Little ? high : low;
        bytes.insert(bytes.end(), second.begin(), second.end());
        return Raw(ifd, tag, kDouble, 1, bytes);
    }
    // `value` is already in the builder's byte order and holds count values of the type.
    ExifBuilder& Raw(Ifd ifd, uint16_t tag, uint16_t type, uint32_t count, Bytes value) {
        List(ifd).push_back({tag, type, count, std::move(value)});
        return *this;
    }
    ExifBuilder& Thumbnail(Bytes jpeg) {
        m_thumbnail = std::move(jpeg);
        return *this;
    }

    // The whole segment payload.
    Bytes Build() const {
        const Bytes tiff = BuildTiff();
        static constexpr uint8_t kHeader[] = {'E', 'x', 'i', 'f', 0, 0};
        Bytes segment(sizeof kHeader + tiff.size());
        std::copy(std::begin(kHeader), std::end(kHeader), segment.begin());
        std::copy(tiff.begin(), tiff.end(), segment.begin() + sizeof kHeader);
        return segment;
    }

    Bytes BuildTiff() const {
        std::vector<Field> zero = m_zero, exif = m_exif, one = m_one;
        if (!exif.empty())
            zero.push_back({0x8769, kLong, 1, Encode32(0)});
        if (!m_thumbnail.empty()) {
            one.push_back({513, kLong, 1, Encode32(0)});
            one.push_back({514, kLong, 1, Encode32(static_cast<uint32_t>(m_thumbnail.size()))});
        }
        for (auto* list : {&zero, &exif, &one})
            std::stable_sort(list->begin(), list->end(),
                             [](const Field& a, const Field& b) { return a.tag < b.tag; });

        auto ifdSize = [](const std::vector<Field>& list) { return uint32_t(2 + 12 * list.size() + 4); };
        const uint32_t zeroAt = 8;
        const uint32_t exifAt = zeroAt + ifdSize(zero);
        const uint32_t oneAt = exifAt + (exif.empty() ? 0 : ifdSize(exif));
        uint32_t dataAt = oneAt + (one.empty() ? 0 : ifdSize(one));
        // Values longer than four bytes, in order of appearance; the thumbnail goes after them.
        uint32_t thumbnailAt = dataAt;
        for (auto* list : {&zero, &exif, &one}) {
            for (const Field& field : *list) {
                if (field.value.size() > 4)
                    thumbnailAt += static_cast<uint32_t>((field.value.size() + 1) & ~size_t{1});
            }
        }
        for (Field& field : zero) {
            if (field.tag == 0x8769)
                field.value = Encode32(exifAt);
        }
        for (Field& field : one) {
            if (field.tag == 513)
                field.value = Encode32(thumbnailAt);
        }

        Bytes tiff = m_order == ByteOrder::Little ? Bytes{'I', 'I', '*', 0} : Bytes{'M', 'M', 0, '*'};
        Append(tiff, Encode32(zeroAt));
        Bytes data;
        auto writeIfd = [&](const std::vector<Field>& list, uint32_t next) {
            Append(tiff, Encode16(static_cast<uint16_t>(list.size())));
            for (const Field& field : list) {
                Append(tiff, Encode16(field.tag));
                Append(tiff, Encode16(field.type));
                Append(tiff, Encode32(field.count));
                if (field.value.size() > 4) {
                    Append(tiff, Encode32(dataAt + static_cast<uint32_t>(data.size())));
                    Append(data, field.value);
                    if (data.size() % 2 != 0)
                        data.push_back(0);
                } else {
                    Bytes inline4 = field.value;
                    inline4.resize(4, 0);
                    Append(tiff, inline4);
                }
            }
            Append(tiff, Encode32(next));
        };
        writeIfd(zero, one.empty() ? 0 : oneAt);
        if (!exif.empty())
            writeIfd(exif, 0);
        if (!one.empty())
            writeIfd(one, 0);
        Append(tiff, data);
        Append(tiff, m_thumbnail);
        return tiff;
    }

    Bytes Encode16(uint16_t value) const {
        if (m_order == ByteOrder::Little)
            return {uint8_t(value), uint8_t(value >> 8)};
        return {uint8_t(value >> 8), uint8_t(value)};
    }
    Bytes Encode32(uint32_t value) const {
        if (m_order == ByteOrder::Little)
            return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    }

private:
    struct Field {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        Bytes value;
    };

    static void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

    std::vector<Field>& List(Ifd ifd) {
        switch (ifd) {
        case Ifd::Zero:
            return m_zero;
        case Ifd::Exif:
            return m_exif;
        case Ifd::One:
            break;
        }
        return m_one;
    }

    ByteOrder m_order;
    std::vector<Field> m_zero, m_exif, m_one;
    Bytes m_thumbnail;
};

// A camera's segment with every tag the properties show, in the given byte order; `thumbnail`, when
// not empty, is embedded in IFD1.
inline ExifBuilder CameraExif(ByteOrder order, Bytes thumbnail = {}) {
    ExifBuilder exif(order);
    exif.Ascii(Ifd::Zero, 0x010E, "Harbour at dusk")
        .Ascii(Ifd::Zero, 0x010F, "Pixolane")
        .Ascii(Ifd::Zero, 0x0110, "PX-100")
        .Short(Ifd::Zero, 0x0112, 6)
        .Ascii(Ifd::Zero, 0x0131, "Firmware 1.2")
        .Ascii(Ifd::Zero, 0x8298, "(c) Test")
        .Rational(Ifd::Exif, 0x829A, 1, 250)
        .Rational(Ifd::Exif, 0x829D, 28, 10)
        .Short(Ifd::Exif, 0x8822, 3)
        .Short(Ifd::Exif, 0x8827, 200)
        .Ascii(Ifd::Exif, 0x9003, "2004:07:15 13:45:30")
        .SRational(Ifd::Exif, 0x9203, 5, 2)
        .SRational(Ifd::Exif, 0x9204, -2, 3)
        .Rational(Ifd::Exif, 0x9206, 35, 10)
        .Short(Ifd::Exif, 0x9207, 5)
        .Short(Ifd::Exif, 0x9208, 1)
        .Short(Ifd::Exif, 0x9209, 1)
        .Rational(Ifd::Exif, 0x920A, 50, 1);
    if (!thumbnail.empty())
        exif.Thumbnail(std::move(thumbnail));
    return exif;
}

} // namespace testpictures
