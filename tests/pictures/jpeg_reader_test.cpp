#include "pictures/exception.h"
#include "pictures/jpeg_reader.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/scoped_temp_folder.h"

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

using namespace testpictures;

namespace {

// Reads every remaining row; the number read.
size_t ReadAllRows(CJPEGReader& reader, std::vector<uint32_t>* pixels = nullptr) {
    std::vector<uint32_t> row(reader.GetWidth());
    size_t rows = 0;
    while (reader.ReadRow(row)) {
        ++rows;
        if (pixels != nullptr)
            pixels->insert(pixels->end(), row.begin(), row.end());
    }
    return rows;
}

int Channel(uint32_t pixel, int shift) {
    return static_cast<int>(pixel >> shift & 0xFF);
}

} // namespace

TEST(JpegReader, OpensFilesAndMemoryAlike) {
    testsupport::ScopedTempFolder folder;
    const Bytes colour = EncodeJpeg({.width = 100, .height = 75});
    const Bytes grey = EncodeJpeg({.width = 33, .height = 17, .components = 1});
    const std::string path = folder / "colour.jpg";
    WriteFile(path, colour);

    CJPEGReader fromFile;
    fromFile.Open(path);
    CJPEGReader fromMemory;
    fromMemory.Open(colour.data(), colour.size());
    for (CJPEGReader* reader : {&fromFile, &fromMemory}) {
        EXPECT_EQ(reader->GetWidth(), 100u);
        EXPECT_EQ(reader->GetHeight(), 75u);
        EXPECT_EQ(reader->GetBitsPerPixel(), 24u);
        EXPECT_EQ(reader->GetScale(), 1);
        EXPECT_TRUE(reader->GetExifSegment().empty());
    }
    std::vector<uint32_t> filePixels, memoryPixels;
    EXPECT_EQ(ReadAllRows(fromFile, &filePixels), 75u);
    EXPECT_EQ(ReadAllRows(fromMemory, &memoryPixels), 75u);
    EXPECT_EQ(filePixels, memoryPixels);

    CJPEGReader greyReader;
    greyReader.Open(grey.data(), grey.size());
    EXPECT_EQ(greyReader.GetBitsPerPixel(), 8u);
    EXPECT_EQ(greyReader.GetWidth(), 33u);
}

TEST(JpegReader, ScaledSizesRoundUpAndMatchTheRowsRead) {
    const Bytes jpeg = EncodeJpeg({.width = 100, .height = 75});
    struct Case {
        int scale;
        uint32_t width, height;
    };
    const Case cases[] = {
        {1, 100, 75}, // full size
        {2, 50, 38},  // 37.5 rounds up
        {4, 25, 19},  // 18.75 rounds up
        {8, 13, 10},  // 12.5 and 9.375 round up
    };
    for (const Case& c : cases) {
        CJPEGReader reader;
        reader.Open(jpeg.data(), jpeg.size());
        reader.SetScale(c.scale);
        EXPECT_EQ(reader.GetWidth(), c.width) << c.scale;
        EXPECT_EQ(reader.GetHeight(), c.height) << c.scale;
        EXPECT_EQ(ReadAllRows(reader), c.height) << c.scale;
    }
}

TEST(JpegReader, NearestSupportedScale) {
    const std::pair<int, int> cases[] = {
        {-5, 1},      {0, 1},  {1, 1}, // no reduction
        {2, 2},       {3, 2},          // floor(log2 3) = 1
        {4, 4},       {7, 4},          //
        {8, 8},       {43, 8},         // capped at 8 (the 3000 x 2000 picture in a 48-pixel cell)
        {1 << 30, 8},
    };
    for (auto [reduction, scale] : cases)
        EXPECT_EQ(CJPEGReader::GetNearestScale(reduction), scale) << reduction;
}

TEST(JpegReader, RejectsUnsupportedScalesAndLateChanges) {
    const Bytes jpeg = EncodeJpeg({});
    CJPEGReader reader;
    reader.Open(jpeg.data(), jpeg.size());
    for (int scale : {0, -1, 3, 16})
        EXPECT_THROW(reader.SetScale(scale), PXInvalidParameterException) << scale;
    EXPECT_EQ(reader.GetScale(), 1);
    std::vector<uint32_t> row(reader.GetWidth());
    ASSERT_TRUE(reader.ReadRow(row));
    // The decompressor has started at 1/1.
    EXPECT_THROW(reader.SetScale(2), PXInvalidParameterException);
    // A row buffer shorter than a row.
    std::vector<uint32_t> shortRow(reader.GetWidth() - 1);
    EXPECT_THROW(reader.ReadRow(shortRow), PXInvalidParameterException);
}

TEST(JpegReader, PacksColourAndExpandsGrey) {
    const uint32_t width = 64, height = 48;
    for (int components : {3, 1}) {
        const Bytes jpeg =
            EncodeJpeg({.width = width, .height = height, .components = components, .quality = 100});
        CJPEGReader reader;
        reader.Open(jpeg.data(), jpeg.size());
        std::vector<uint32_t> pixels;
        ASSERT_EQ(ReadAllRows(reader, &pixels), height);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t got = pixels[y * width + x];
                const uint32_t want = GradientPixel(x, y, width, height);
                EXPECT_EQ(got >> 24, 0u);
                if (components == 1) {
                    // Grey x 0x010101.
                    ASSERT_EQ(got, (got & 0xFF) * 0x010101u) << x << "," << y;
                    EXPECT_NEAR(Channel(got, 0), Channel(want, 16), 6) << x << "," << y;
                    continue;
                }
                // The fast DCT and plain upsampling lose a little; the channels must not be swapped.
                EXPECT_NEAR(Channel(got, 16), Channel(want, 16), 12) << x << "," << y;
                EXPECT_NEAR(Channel(got, 8), Channel(want, 8), 12) << x << "," << y;
                EXPECT_NEAR(Channel(got, 0), Channel(want, 0), 12) << x << "," << y;
            }
        }
    }
}

TEST(JpegReader, ProgressivePicturesDecode) {
    const Bytes jpeg = EncodeJpeg({.width = 80, .height = 60, .progressive = true});
    CJPEGReader reader;
    reader.Open(jpeg.data(), jpeg.size());
    reader.SetScale(4);
    EXPECT_EQ(ReadAllRows(reader), 15u);
}

TEST(JpegReader, KeepsTheExifSegmentPastTheDecode) {
    const Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, '<', 'x', '/', '>'};
    const Bytes exif = CameraExif(ByteOrder::Little).Build();
    // An XMP segment before the EXIF one is passed over.
    const Bytes jpeg = EncodeJpeg({.app1 = {xmp, exif}});
    CJPEGReader reader;
    reader.Open(jpeg.data(), jpeg.size());
    ReadAllRows(reader);
    std::span<const uint8_t> segment = reader.GetExifSegment();
    EXPECT_EQ(Bytes(segment.begin(), segment.end()), exif);

    // Without an EXIF segment, the first APP1 segment.
    const Bytes onlyXmp = EncodeJpeg({.app1 = {xmp}});
    reader.Open(onlyXmp.data(), onlyXmp.size());
    segment = reader.GetExifSegment();
    EXPECT_EQ(Bytes(segment.begin(), segment.end()), xmp);
}

TEST(JpegReader, AbortEndsTheDecode) {
    const Bytes jpeg = EncodeJpeg({});
    CJPEGReader reader;
    reader.Open(jpeg.data(), jpeg.size());
    std::vector<uint32_t> row(reader.GetWidth());
    ASSERT_TRUE(reader.ReadRow(row));
    reader.Abort();
    EXPECT_FALSE(reader.ReadRow(row));
    // A reader opened again starts afresh.
    reader.Open(jpeg.data(), jpeg.size());
    EXPECT_EQ(ReadAllRows(reader), 48u);
}

TEST(JpegReader, FailuresByKind) {
    testsupport::ScopedTempFolder folder;
    CJPEGReader reader;
    // Not opened.
    EXPECT_THROW(reader.GetWidth(), PXUninitializedException);
    EXPECT_THROW(reader.GetExifSegment(), PXUninitializedException);
    EXPECT_THROW(reader.SetScale(2), PXUninitializedException);
    std::vector<uint32_t> row(8);
    EXPECT_THROW(reader.ReadRow(row), PXUninitializedException);

    // A file that cannot be opened is a plain PXException, so callers can tell it from bad data.
    try {
        reader.Open(folder / "missing.jpg");
        ADD_FAILURE() << "opened";
    } catch (const PXUnsupportedException&) {
        ADD_FAILURE() << "reported as bad data";
    } catch (const PXException&) {
    }
    // Bytes that are not JPEG, from a file and from memory; a failed Open leaves the reader unopened.
    const std::string text = folder.Put("text.jpg", "This is not a picture at all.");
    EXPECT_THROW(reader.Open(text), PXUnsupportedException);
    EXPECT_THROW(reader.GetWidth(), PXUninitializedException);
    const Bytes notJpeg = {'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_THROW(reader.Open(notJpeg.data(), notJpeg.size()), PXUnsupportedException);
    EXPECT_THROW(reader.Open(notJpeg.data(), 0), PXUnsupportedException);
    EXPECT_THROW(reader.Open(folder.Put("empty.jpg")), PXUnsupportedException);
}

TEST(JpegReader, TruncatedMemoryFailsCleanly) {
    const Bytes jpeg = EncodeJpeg({.width = 40, .height = 30});
    int headerFailures = 0, decodeFailures = 0;
    for (size_t length = 0; length < jpeg.size(); length += 7) {
        CJPEGReader reader;
        try {
            reader.Open(jpeg.data(), length);
        } catch (const PXUnsupportedException&) {
            ++headerFailures;
            continue;
        }
        if (length + 64 > jpeg.size()) {
            // Near the end only the trailer may be missing, which the rows do not need: every row
            // comes, or the decode fails; never a short picture passed off as whole.
            size_t rows = 0;
            try {
                rows = ReadAllRows(reader);
            } catch (const PXUnsupportedException&) {
                continue;
            }
            EXPECT_EQ(rows, 30u) << length;
            continue;
        }
        // The memory source has no more bytes to give: the decode fails, and keeps failing.
        EXPECT_THROW(ReadAllRows(reader), PXUnsupportedException) << length;
        std::vector<uint32_t> row(reader.GetWidth());
        EXPECT_THROW(reader.ReadRow(row), PXUnsupportedException) << length;
        ++decodeFailures;
    }
    EXPECT_GT(headerFailures, 0);
    EXPECT_GT(decodeFailures, 0);
}

TEST(JpegReader, TruncatedFileDecodesWhatItHas) {
    // The file source pads a short file with an end marker, as libjpeg's own does, and warns.
    testsupport::ScopedTempFolder folder;
    const Bytes jpeg = EncodeJpeg({.width = 320, .height = 240});
    const size_t headerLength = 700; // the tables of a picture this size, with room to spare
    ASSERT_GT(jpeg.size(), 2 * headerLength);
    const std::string path = folder / "cut.jpg";
    WriteFile(path, Bytes(jpeg.begin(), jpeg.end() - static_cast<long>(jpeg.size() / 2)));
    CJPEGReader reader;
    reader.Open(path);
    EXPECT_EQ(ReadAllRows(reader), 240u);
}
