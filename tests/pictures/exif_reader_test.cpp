#include "pictures/exif_reader.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/scoped_time_zone.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace testpictures;

namespace {

CExifReader::PropertyMap PropertiesOf(const Bytes& segment) {
    CExifReader reader(segment.data(), segment.size());
    return reader.GetProperties();
}

// The property `key` of a segment holding one tag; "(none)" when the reader stores nothing.
std::string OneTag(ExifBuilder& builder, const char* key) {
    CExifReader::PropertyMap properties = PropertiesOf(builder.Build());
    auto it = properties.find(key);
    return it == properties.end() ? "(none)" : it->second;
}

// Seconds since 1970 of a UTC calendar time.
int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date = std::chrono::year(year) / month / day;
    return (date + hours(hour) + minutes(minute) + seconds(second)).time_since_epoch() / seconds(1);
}

// The TIFF block of a segment starts after "Exif" and two zero bytes.
constexpr size_t kTiff = 6;

void Put32(Bytes& segment, size_t tiffOffset, uint32_t value, ByteOrder order) {
    ExifBuilder encoder(order);
    Bytes bytes = encoder.Encode32(value);
    std::copy(bytes.begin(), bytes.end(), segment.begin() + static_cast<long>(kTiff + tiffOffset));
}

} // namespace

TEST(ExifReader, CameraPropertiesInBothByteOrders) {
    const CExifReader::PropertyMap expected = {
        {"ImageDescription", "Harbour at dusk"},
        {"CameraMake", "Pixolane"},
        {"CameraModel", "PX-100"},
        {"Orientation", "6"},
        {"CameraSoftware", "Firmware 1.2"},
        {"Copyright", "(c) Test"},
        {"ShutterSpeed", "1/250"},
        {"Aperture", "2.8"},
        {"ExposureProgram", "3"},
        {"ISO", "200"},
        {"Date", std::to_string(Utc(2004, 7, 15, 13, 45, 30))},
        {"Brightness", "2.5"},
        {"ExposureBias", "-0.666667"},
        {"SubjectDistance", "3.5"},
        {"MeteringMode", "5"},
        {"LightSource", "1"},
        {"Flash", "1"},
        {"FocalLength", "50"},
    };
    ScopedTimeZone utc("UTC0");
    const Bytes little = CameraExif(ByteOrder::Little).Build();
    const Bytes big = CameraExif(ByteOrder::Big).Build();
    ASSERT_NE(little, big);
    EXPECT_EQ(PropertiesOf(little), expected);
    EXPECT_EQ(PropertiesOf(big), expected);
}

TEST(ExifReader, ValueTexts) {
    struct Case {
        const char* what;
        ExifBuilder builder;
        const char* key;
        const char* text;
    };
    auto b = [] { return ExifBuilder(ByteOrder::Little); };
    Case cases[] = {
        {"exposure time below 1 s: 1/ the rounded reciprocal", b().Rational(Ifd::Exif, 0x829A, 4, 1000),
         "ShutterSpeed", "1/250"},
        {"exposure time 1/3 s rounds to 1/3", b().Rational(Ifd::Exif, 0x829A, 1, 3), "ShutterSpeed", "1/3"},
        {"exposure time of 1 s and more as it is", b().Rational(Ifd::Exif, 0x829A, 25, 10), "ShutterSpeed",
         "2.5"},
        {"exposure time of 1 s", b().Rational(Ifd::Exif, 0x829A, 1, 1), "ShutterSpeed", "1"},
        {"exposure time of no time is no exposure", b().Rational(Ifd::Exif, 0x829A, 0, 1), "ShutterSpeed",
         "(none)"},
        {"APEX shutter speed 8", b().SRational(Ifd::Exif, 0x9201, 8, 1), "ShutterSpeed", "1/256"},
        {"APEX shutter speed -1", b().SRational(Ifd::Exif, 0x9201, -1, 1), "ShutterSpeed", "2"},
        {"APEX shutter speed 0", b().SRational(Ifd::Exif, 0x9201, 0, 1), "ShutterSpeed", "1/1"},
        {"APEX shutter speed overrides the exposure time",
         b().Rational(Ifd::Exif, 0x829A, 1, 250).SRational(Ifd::Exif, 0x9201, 6, 1), "ShutterSpeed", "1/64"},
        {"APEX aperture 4", b().Rational(Ifd::Exif, 0x9202, 4, 1), "Aperture", "4"},
        {"APEX aperture 5", b().Rational(Ifd::Exif, 0x9202, 5, 1), "Aperture", "5.65685"},
        {"APEX aperture overrides the f-number",
         b().Rational(Ifd::Exif, 0x829D, 28, 10).Rational(Ifd::Exif, 0x9202, 2, 1), "Aperture", "2"},
        {"orientation 2 is just a number", b().Short(Ifd::Zero, 0x0112, 2), "Orientation", "2"},
        {"orientation given as a LONG", b().Long(Ifd::Zero, 0x0112, 8), "Orientation", "8"},
        {"ISO given as a rational", b().Rational(Ifd::Exif, 0x8827, 401, 2), "ISO", "200"},
        {"brightness 2.5", b().SRational(Ifd::Exif, 0x9203, 5, 2), "Brightness", "2.5"},
        {"negative brightness", b().SRational(Ifd::Exif, 0x9203, -3, 2), "Brightness", "-1.5"},
        {"focal length 50", b().Rational(Ifd::Exif, 0x920A, 50, 1), "FocalLength", "50"},
        {"focal length as a DOUBLE", b().Double(Ifd::Exif, 0x920A, 35.5), "FocalLength", "35.5"},
        {"a zero denominator gives nothing", b().Rational(Ifd::Exif, 0x920A, 50, 0), "FocalLength", "(none)"},
        {"a text without its NUL loses its last byte",
         b().Raw(Ifd::Zero, 0x010F, kAscii, 4, {'A', 'B', 'C', 'D'}), "CameraMake", "ABC"},
        {"a text stops at an inner NUL", b().Raw(Ifd::Zero, 0x010F, kAscii, 6, {'A', 'B', 0, 'D', 'E', 0}),
         "CameraMake", "AB"},
        {"a text of count 1 is empty", b().Raw(Ifd::Zero, 0x0110, kAscii, 1, {0}), "CameraModel", ""},
        {"a text in a tag meant for numbers gives nothing", b().Ascii(Ifd::Exif, 0x9209, "1"), "Flash",
         "(none)"},
        {"an unknown type is skipped", b().Raw(Ifd::Exif, 0x9209, 13, 1, {1, 0, 0, 0}), "Flash", "(none)"},
        {"tags of the table are read in IFD0 as well", b().Short(Ifd::Zero, 0x9209, 0), "Flash", "0"},
        {"a later IFD's value wins", b().Short(Ifd::Zero, 0x0112, 1).Short(Ifd::One, 0x0112, 3),
         "Orientation", "3"},
    };
    for (Case& c : cases)
        EXPECT_EQ(OneTag(c.builder, c.key), c.text) << c.what;
}

TEST(ExifReader, DateIsLocalTimeWithoutDaylightSaving) {
    struct Case {
        const char* zone;
        int standardOffset; // seconds west of UTC outside daylight saving
    };
#ifndef _WIN32
    const Case zones[] = {
        {"UTC0", 0},
        {"EST5EDT,M3.2.0,M11.1.0", 5 * 3600}, // July is summer time there, which must not count
        {"JST-9", -9 * 3600},
        {"CET-1CEST,M3.5.0,M10.5.0/3", -3600},
        {"NZST-12NZDT,M9.5.0,M4.1.0/3", -12 * 3600}, // January is summer time in the south
    };
#else
    // The C runtime reads "XXX[+|-]hh[:mm]" and a summer name, with the US rules for every zone.
    const Case zones[] = {
        {"UTC0", 0},
        {"EST5EDT", 5 * 3600}, // July is summer time there, which must not count
        {"JST-9", -9 * 3600},
        {"CET-1CES", -3600},
        {"NZT-12NZD", -12 * 3600},
        {"NST3:30", 3 * 3600 + 1800},
    };
#endif
    for (const Case& zone : zones) {
        ScopedTimeZone scoped(zone.zone);
        for (auto [text, utc] : {std::pair{"2004:07:15 13:45:30", Utc(2004, 7, 15, 13, 45, 30)},
                                 std::pair{"2010:01:02 03:04:05", Utc(2010, 1, 2, 3, 4, 5)},
                                 // past the end of 32-bit time values
                                 std::pair{"2038:01:19 03:14:08", Utc(2038, 1, 19, 3, 14, 8)},
                                 std::pair{"2100:07:15 13:45:30", Utc(2100, 7, 15, 13, 45, 30)}}) {
            EXPECT_EQ(ParseExifDate(text), utc + zone.standardOffset) << zone.zone << " " << text;
            ExifBuilder builder(ByteOrder::Big);
            builder.Ascii(Ifd::Exif, 0x9003, text);
            EXPECT_EQ(OneTag(builder, "Date"), std::to_string(utc + zone.standardOffset)) << zone.zone;
        }
    }
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(ParseExifDate("2004:07:15 13:45"), std::nullopt); // too short to hold the seconds
    EXPECT_EQ(ParseExifDate("2004-07-15T13:45:30"), Utc(2004, 7, 15, 13, 45, 30)); // read by position
}

TEST(ExifReader, EmbeddedThumbnailGivenOutOnce) {
    const Bytes landscape = EncodeJpeg({.width = 32, .height = 24});
    const Bytes portrait = EncodeJpeg({.width = 24, .height = 32});
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        for (const Bytes& thumbnail : {landscape, portrait}) {
            const Bytes segment = CameraExif(order, thumbnail).Build();
            CExifReader reader(segment.data(), segment.size());
            ASSERT_TRUE(reader.GetThumbnailOffset().has_value());
            // The thumbnail ends the builder's block.
            EXPECT_EQ(*reader.GetThumbnailOffset(), segment.size() - kTiff - thumbnail.size());
            EXPECT_EQ(reader.GetThumbnailLength(), thumbnail.size());
            std::unique_ptr<IPictureReader> taken = reader.TakeThumbnail();
            ASSERT_NE(taken, nullptr);
            EXPECT_EQ(taken->GetWidth(), thumbnail == landscape ? 32u : 24u);
            EXPECT_EQ(taken->GetHeight(), thumbnail == landscape ? 24u : 32u);
            EXPECT_EQ(reader.TakeThumbnail(), nullptr);
            // The properties are still there.
            EXPECT_EQ(reader.GetProperties().at("CameraMake"), "Pixolane");
        }
    }
    // The thumbnail outlives its reader and the segment it came from: every row still decodes.
    std::unique_ptr<IPictureReader> taken;
    {
        Bytes segment = CameraExif(ByteOrder::Big, landscape).Build();
        CExifReader reader(segment.data(), segment.size());
        taken = reader.TakeThumbnail();
        std::fill(segment.begin(), segment.end(), 0);
    }
    ASSERT_NE(taken, nullptr);
    std::vector<uint32_t> row(taken->GetWidth());
    for (uint32_t y = 0; y < 24; ++y) {
        ASSERT_TRUE(taken->ReadRow(row)) << y;
        // Green grows down the picture, so the rows come in order and from the thumbnail's bytes.
        EXPECT_NEAR(static_cast<int>(row[5] >> 8 & 0xFF),
                    static_cast<int>(GradientPixel(5, y, 32, 24) >> 8 & 0xFF), 24)
            << y;
    }
    EXPECT_FALSE(taken->ReadRow(row));
}

TEST(ExifReader, ThumbnailFailures) {
    const Bytes thumbnail = EncodeJpeg({.width = 16, .height = 16});
    // No thumbnail tags at all.
    Bytes segment = CameraExif(ByteOrder::Little).Build();
    CExifReader none(segment.data(), segment.size());
    EXPECT_FALSE(none.GetThumbnailOffset().has_value());
    EXPECT_EQ(none.TakeThumbnail(), nullptr);

    // A length that runs past the block is cut at its end, which still holds the whole picture.
    ExifBuilder longer(ByteOrder::Little);
    longer.Thumbnail(thumbnail);
    segment = longer.Build();
    const size_t oneAt = 8 + 2 + 4;                // IFD0 is empty; IFD1 follows it
    const size_t lengthValue = oneAt + 2 + 12 + 8; // the value of the second entry (514)
    Put32(segment, lengthValue, 0xFFFFFFF0, ByteOrder::Little);
    CExifReader cut(segment.data(), segment.size());
    EXPECT_EQ(cut.GetThumbnailLength(), 0xFFFFFFF0u);
    std::unique_ptr<IPictureReader> whole = cut.TakeThumbnail();
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->GetWidth(), 16u);
    EXPECT_EQ(whole->GetHeight(), 16u);

    // An offset beyond the block, and bytes there that are not a picture.
    const size_t offsetValue = oneAt + 2 + 8;
    Put32(segment, offsetValue, static_cast<uint32_t>(segment.size()), ByteOrder::Little);
    CExifReader beyond(segment.data(), segment.size());
    EXPECT_EQ(beyond.TakeThumbnail(), nullptr);
    Put32(segment, offsetValue, 0, ByteOrder::Little);
    CExifReader notAPicture(segment.data(), segment.size());
    EXPECT_EQ(notAPicture.TakeThumbnail(), nullptr);
}

TEST(ExifReader, ForeignSegmentsAreEmpty) {
    const Bytes good = CameraExif(ByteOrder::Little).Build();
    struct Case {
        const char* what;
        Bytes segment;
    };
    const Case cases[] = {
        {"nothing", {}},
        {"the header alone", {'E', 'x', 'i', 'f', 0, 0}},
        {"a header cut inside the byte order", {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', '*'}},
        {"XMP instead of EXIF", {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, 'I', 'I', '*', 0}},
        {"a header without its second zero", {'E', 'x', 'i', 'f', 0, 'I', 'I', '*', 0, 8, 0, 0, 0}},
        {"an unknown byte order", {'E', 'x', 'i', 'f', 0, 0, 'I', 'M', '*', 0, 8, 0, 0, 0}},
        {"big-endian marks in little-endian order", {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', '*', 0, 0, 0, 0, 8}},
        {"a block too short for the first IFD's offset", {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', '*', 0, 8}},
    };
    for (const Case& c : cases) {
        CExifReader reader(c.segment.data(), c.segment.size());
        EXPECT_TRUE(reader.GetProperties().empty()) << c.what;
        EXPECT_EQ(reader.TakeThumbnail(), nullptr) << c.what;
    }
    CExifReader null(nullptr, 100);
    EXPECT_TRUE(null.IsEmpty());
    EXPECT_FALSE(CExifReader(good.data(), good.size()).IsEmpty());
}

TEST(ExifReader, HostileBlocksStayInside) {
    ExifBuilder builder(ByteOrder::Little);
    builder.Ascii(Ifd::Zero, 0x010F, "Make").Short(Ifd::Exif, 0x9209, 1);
    const Bytes base = builder.Build();
    // IFD0 at 8 holds two entries (make, then the sub-IFD link); its next pointer follows them.
    const size_t zeroNext = 8 + 2 + 2 * 12;
    const size_t subIfdValue = 8 + 2 + 12 + 8;
    const size_t makeValue = 8 + 2 + 8;
    const size_t makeCount = 8 + 2 + 4;

    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        CExifReader::PropertyMap expected;
    };
    const Case cases[] = {
        {"IFD0 chains to itself", zeroNext, 8, {{"CameraMake", "Make"}, {"Flash", "1"}}},
        {"the sub-IFD is IFD0 again", subIfdValue, 8, {{"CameraMake", "Make"}}},
        {"the sub-IFD lies past the block", subIfdValue, 0xFFFFFFF0, {{"CameraMake", "Make"}}},
        {"the next IFD lies past the block", zeroNext, 0x7FFFFFFF, {{"CameraMake", "Make"}, {"Flash", "1"}}},
        {"a value lies past the block", makeValue, 0xFFFFFFFC, {{"Flash", "1"}}},
        {"a count whose size overflows 32 bits", makeCount, 0x40000001, {{"Flash", "1"}}},
        {"the first IFD lies past the block", 4, 0xFFFFFFFF, {}},
        {"the first IFD starts in its last byte", 4, static_cast<uint32_t>(base.size() - kTiff - 1), {}},
    };
    for (const Case& c : cases) {
        Bytes segment = base;
        Put32(segment, c.at, c.value, ByteOrder::Little);
        EXPECT_EQ(PropertiesOf(segment), c.expected) << c.what;
    }

    // An entry count that runs past the block keeps the entries that fit.
    Bytes many = base;
    many[kTiff + 8] = 0xFF;
    many[kTiff + 9] = 0xFF;
    EXPECT_EQ(PropertiesOf(many).at("CameraMake"), "Make");

    // A chain of IFDs, each linking to the next, is read up to the limit only.
    ExifBuilder chained(ByteOrder::Big);
    Bytes tiff = {'M', 'M', 0, '*', 0, 0, 0, 8};
    auto append = [&tiff](const Bytes& bytes) { tiff.insert(tiff.end(), bytes.begin(), bytes.end()); };
    const int kChain = 200, kInside = 10, kBeyond = CExifReader::kMaxIfds + 10;
    for (int i = 0; i < kChain; ++i) {
        const bool hasEntry = i == kInside || i == kBeyond;
        append(chained.Encode16(hasEntry ? 1 : 0));
        if (i == kInside) // CameraMake "abc", inline
            append({0x01, 0x0F, 0, kAscii, 0, 0, 0, 4, 'a', 'b', 'c', 0});
        if (i == kBeyond) // Flash 1, inline
            append({0x92, 0x09, 0, kShort, 0, 0, 0, 1, 0, 1, 0, 0});
        append(chained.Encode32(i + 1 == kChain ? 0 : static_cast<uint32_t>(tiff.size() + 4)));
    }
    Bytes segment = {'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    EXPECT_EQ(PropertiesOf(segment), (CExifReader::PropertyMap{{"CameraMake", "abc"}}));

    // Every prefix of a full segment gives some of the full segment's properties, each with its
    // full value, and never a thumbnail that is not the whole one.
    const Bytes full = CameraExif(ByteOrder::Big, EncodeJpeg({.width = 8, .height = 8})).Build();
    const CExifReader::PropertyMap all = PropertiesOf(full);
    ASSERT_FALSE(all.empty());
    for (size_t length = 0; length <= full.size(); ++length) {
        const Bytes prefix(full.begin(), full.begin() + static_cast<long>(length));
        CExifReader reader(prefix.data(), prefix.size());
        for (const auto& [key, value] : reader.GetProperties()) {
            auto it = all.find(key);
            ASSERT_NE(it, all.end()) << key << " at " << length;
            EXPECT_EQ(value, it->second) << key << " at " << length;
        }
        if (std::unique_ptr<IPictureReader> thumbnail = reader.TakeThumbnail()) {
            EXPECT_EQ(thumbnail->GetWidth(), 8u) << length;
            EXPECT_EQ(thumbnail->GetHeight(), 8u) << length;
        }
    }
    EXPECT_EQ(PropertiesOf(Bytes(full.begin(), full.end())), all);
}
