#include "pictures/image_properties.h"
#include "pictures/jpeg_picture_format.h"
#include "pictures/picture_format_list.h"
#include "pictures/size_text.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_temp_folder.h"
#include "tests/support/scoped_time_zone.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

using namespace testpictures;

namespace {

class ImageProperties : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        m_utc.emplace("UTC0");
    }
    void TearDown() override {
        m_utc.reset();
        CataloguesInstalled::TearDown();
    }

    std::string PutPicture(const std::string& name, const JpegOptions& options) {
        std::string path = m_folder / name;
        WriteFile(path, EncodeJpeg(options));
        return path;
    }

    testsupport::ScopedTempFolder m_folder;
    std::optional<ScopedTimeZone> m_utc;
};

// English digit grouping, whatever locales the system has.
struct EnglishGrouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
};

std::locale English() {
    return std::locale(std::locale::classic(), new EnglishGrouping);
}

bool IsNotAnImage(const std::string& path) {
    try {
        CImageProperties::Info info(path);
    } catch (const CImageProperties::Info::NotAnImage&) {
        return true;
    }
    return false;
}

} // namespace

TEST_F(ImageProperties, CameraPictureWithLabels) {
    const std::map<std::string, std::string> expected = {
        {"Description", "Harbour at dusk"},
        {"Camera Make", "Pixolane"},
        {"Camera Model", "PX-100"},
        {"Camera Orientation", "Upper-Right"},
        {"Camera Software", "Firmware 1.2"},
        {"Copyright", "(c) Test"},
        {"Shutter Speed", "1/250"},
        {"F-Stop", "2.8"},
        {"Exposure Program", "Aperture Priority"},
        {"ISO", "200"},
        {"Brightness", "2.5 EV"},
        {"Exposure Bias", "-0.666667 EV"},
        {"Subject Distance", "3.5m"},
        {"Metering Mode", "Matrix"},
        {"Light Source", "Daylight"},
        {"Flash", "On"},
        {"Focal Length", "50mm"},
    };
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        const Bytes thumbnail = EncodeJpeg({.width = 16, .height = 12});
        const std::string path = PutPicture(
            "camera.JPG", {.width = 120, .height = 80, .app1 = {CameraExif(order, thumbnail).Build()}});
        ASSERT_TRUE(testsupport::SetModificationTime(path, 1100000000));

        CImageProperties::Info info(path);
        EXPECT_EQ(info.name, "camera.JPG");
        EXPECT_EQ(info.folder, m_folder.Path());
        EXPECT_EQ(info.type, "JPEG");
        EXPECT_EQ(info.size, std::filesystem::file_size(path));
        EXPECT_EQ(info.modified, 1100000000);
        EXPECT_EQ(info.width, 120u);
        EXPECT_EQ(info.height, 80u);
        EXPECT_EQ(info.bitsPerPixel, 24u);
        EXPECT_EQ(info.date, 1089899130); // 2004-07-15 13:45:30 UTC
        EXPECT_EQ(info.properties, expected);
    }
}

TEST_F(ImageProperties, CodedValuesWithoutANameStayNumbers) {
    ExifBuilder exif(ByteOrder::Little);
    exif.Short(Ifd::Zero, 0x0112, 2).Rational(Ifd::Exif, 0x9202, 4, 1).Short(Ifd::Exif, 0x9208, 4);
    CImageProperties::Info info(PutPicture("a.jpg", {.app1 = {exif.Build()}}));
    EXPECT_EQ(info.properties, (std::map<std::string, std::string>{
                                   {"Camera Orientation", "2"}, // no name for 2
                                   {"F-Stop", "4"},             // APEX 4 is f/4
                                   {"Light Source", "4"},       // no name for 4
                               }));
    EXPECT_EQ(info.date, -1);
}

TEST_F(ImageProperties, PicturesWithoutUsableExif) {
    struct Case {
        const char* what;
        std::vector<Bytes> app1;
    };
    Bytes loop = ExifBuilder(ByteOrder::Little).Ascii(Ifd::Zero, 0x010F, "Make").Build();
    loop[6 + 8 + 2 + 12] = 8; // IFD0's next pointer comes back to IFD0
    const Case cases[] = {
        {"no APP1 segment", {}},
        {"an XMP segment only", {{'h', 't', 't', 'p', ':', '/', '/', 0}}},
        {"an EXIF header and nothing else", {{'E', 'x', 'i', 'f', 0, 0}}},
        {"garbage after the header",
         {{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', '*', 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2}}},
    };
    for (const Case& c : cases) {
        CImageProperties::Info info(PutPicture("grey.jpg", {.components = 1, .app1 = c.app1}));
        EXPECT_TRUE(info.properties.empty()) << c.what;
        EXPECT_EQ(info.date, -1) << c.what;
        EXPECT_EQ(info.bitsPerPixel, 8u) << c.what;
    }
    // A looping chain still gives what it holds.
    CImageProperties::Info looping(PutPicture("loop.jpg", {.app1 = {loop}}));
    EXPECT_EQ(looping.properties, (std::map<std::string, std::string>{{"Camera Make", "Make"}}));
}

TEST_F(ImageProperties, FilesThatAreNotPictures) {
    const Bytes jpeg =
        EncodeJpeg({.width = 200, .height = 150, .app1 = {CameraExif(ByteOrder::Big).Build()}});
    EXPECT_TRUE(IsNotAnImage(m_folder / "missing.jpg"));
    EXPECT_TRUE(IsNotAnImage(m_folder.Put("empty.jpg")));
    EXPECT_TRUE(IsNotAnImage(m_folder.Put("text.jpg", "not a picture")));
    EXPECT_TRUE(IsNotAnImage(m_folder.Path()));
    // A JPEG file under another name is still a picture: the content decides.
    const std::string renamed = m_folder / "picture.dat";
    WriteFile(renamed, jpeg);
    EXPECT_FALSE(IsNotAnImage(renamed));

    // Every prefix either fails as not a picture or gives what its header holds; never anything else.
    int pictures = 0, notPictures = 0;
    for (size_t length = 0; length < jpeg.size(); length += 13) {
        const std::string path = m_folder / "cut.jpg";
        WriteFile(path, Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(length)));
        try {
            CImageProperties::Info info(path);
            EXPECT_EQ(info.width, 200u) << length;
            EXPECT_EQ(info.height, 150u) << length;
            EXPECT_EQ(info.type, "JPEG") << length;
            EXPECT_EQ(info.size, length);
            ++pictures;
        } catch (const CImageProperties::Info::NotAnImage&) {
            ++notPictures;
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_GT(notPictures, 0);

    // Corrupt bytes through the whole file: refused as not a picture, or described as the file it is.
    int described = 0;
    for (size_t at = 2; at < jpeg.size(); at += 17) {
        Bytes corrupt = jpeg;
        corrupt[at] ^= 0xA5;
        const std::string path = m_folder / "corrupt.jpg";
        WriteFile(path, corrupt);
        try {
            CImageProperties::Info info(path);
            EXPECT_EQ(info.name, "corrupt.jpg") << at;
            EXPECT_EQ(info.folder, m_folder.Path()) << at;
            EXPECT_EQ(info.type, "JPEG") << at;
            EXPECT_EQ(info.size, corrupt.size()) << at;
            ++described;
        } catch (const CImageProperties::Info::NotAnImage&) {
        }
    }
    // Most bytes are pixel data, whose corruption leaves the header whole.
    EXPECT_GT(described, 0);
}

TEST_F(ImageProperties, DimensionsAndColourDepth) {
    EXPECT_EQ(FormatDimensions(640, 480), "640 x 480");
    EXPECT_EQ(FormatDimensions(0, 480), "");
    EXPECT_EQ(FormatDimensions(640, 0), "");
    const std::pair<uint32_t, const char*> depths[] = {
        {0, ""},                     // no depth known
        {1, "Monochrome (1 bits)"},  //
        {2, "Monochrome (2 bits)"},  // up to 2
        {3, "Tens (3 bits)"},        // 3 to 6
        {6, "Tens (6 bits)"},        //
        {7, "Hundreds (7 bits)"},    // 7 to 9
        {8, "Hundreds (8 bits)"},    //
        {9, "Hundreds (9 bits)"},    //
        {10, "Thousands (10 bits)"}, // 10 to 19
        {19, "Thousands (19 bits)"}, //
        {20, "Millions (20 bits)"},  // 20 and more
        {24, "Millions (24 bits)"},  //
        {32, "Millions (32 bits)"},  //
    };
    for (auto [bits, text] : depths)
        EXPECT_EQ(FormatColourDepth(bits), text) << bits;
}

TEST_F(ImageProperties, SizeTexts) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0 "},
        {500, "500 "},
        {999, "999 "},
        {1000, "1000 "},           // below 1024 stays in bytes, without decimals
        {1023, "1023 "},           //
        {1024, "1.00KB"},          // two decimals below 10
        {1536, "1.50KB"},          //
        {10239, "9.99KB"},         // truncated, not rounded
        {10240, "10.0KB"},         // one decimal from 10
        {102399, "99.9KB"},        //
        {102400, "100KB"},         // none from 100
        {1048575, "1023KB"},       //
        {1048576, "1.00MB"},       //
        {1234567, "1.17MB"},       //
        {5368709120, "5.00GB"},    //
        {1ull << 50, "1048576GB"}, // GB is the largest unit
    };
    for (auto [bytes, text] : cases)
        EXPECT_EQ(FormatSizeText(bytes), text) << bytes;

    EXPECT_EQ(FormatByteCount(1234567, English()), "1,234,567");
    EXPECT_EQ(FormatByteCount(999, English()), "999");
    EXPECT_EQ(FormatByteCount(1234567, std::locale::classic()), "1234567");
    EXPECT_EQ(FormatSizeWithByteCount(1234567, English()), "1.17MB (1,234,567 bytes)");
}

TEST(PictureFormats, FindByFileNameAndContent) {
    CPictureFormatList& formats = CPictureFormatList::Get();
    const std::pair<const char*, bool> names[] = {
        {"a.jpg", true},        {"A.JPEG", true}, {"x.Jpe", true},   {"dir/b.jPeG", true},
        {"C:\\p\\c.JPG", true}, {".jpg", true},   {"a.jpgx", false}, {"a.jpeg.txt", false},
        {"a.png", false},       {"jpg", false},   {"a.jp", false},   {"a.jpgg", false},
        {"a_jpg", false},       {"", false},
    };
    for (auto [name, isJpeg] : names) {
        const CPictureFormat* format = formats.FindByFileName(name);
        EXPECT_EQ(format != nullptr, isJpeg) << name;
        if (format != nullptr) {
            EXPECT_EQ(format->GetName(), "JPEG");
        }
    }
    const CPictureFormat* jpeg = formats.FindByFileName("a.jpg");
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(jpeg->GetDefaultExtension(), ".jpg");
    EXPECT_EQ(jpeg->GetFileNamePattern(), "\\.[jJ][pP]<[eE]?[gG]|[eE]>$");

    testsupport::ScopedTempFolder folder;
    const std::string picture = folder / "picture.txt";
    WriteFile(picture, EncodeJpeg({}));
    EXPECT_EQ(formats.FindByContent(picture), jpeg);
    EXPECT_EQ(formats.FindByContent(folder.Put("text.jpg", "hello")), nullptr);
    EXPECT_TRUE(jpeg->CanRead(picture));
    EXPECT_EQ(jpeg->OpenReader(folder / "missing.jpg"), nullptr);
}
