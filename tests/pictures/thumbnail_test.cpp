// The thumbnail chain on real JPEG files made by the test: fitting and DCT scale, the EXIF thumbnail's
// orientation rule, framing of degenerate and corrupt pictures, the cache's keys, flags and eviction,
// the stop request mid-decode, and the worker that runs it all off the caller's thread.
#include "foundation/event.h"
#include "foundation/thread.h"
#include "pictures/file_type_icon_provider.h"
#include "pictures/jpeg_reader.h"
#include "pictures/jpeg_thumbnail_provider.h"
#include "pictures/picture_format_list.h"
#include "pictures/thumbnail_cache.h"
#include "pictures/thumbnail_worker.h"
#include "platform/file_type_icon.h"
#include "tests/pictures/jpeg_test_files.h"
#include "tests/support/scoped_temp_folder.h"

#include <atomic>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

using namespace testpictures;

namespace {

const CUIColor kFrame(255, 0, 0);
const CUIColor kBlack(0, 0, 0);
const CUIColor kWhite(255, 255, 255);

// Red across, green down, blue in stripes four pixels wide: a decode at 1/8 averages the stripes
// to mid-grey, any finer scale keeps them apart.
uint32_t StripedPixel(uint32_t x, uint32_t y) {
    return (x * 255 / 2999) << 16 | (y * 255 / 1999) << 8 | ((x / 4) % 2 != 0 ? 0xFF : 0x00);
}
uint32_t RedPixel(uint32_t, uint32_t) { return 0xD00000; }
uint32_t BluePixel(uint32_t, uint32_t) { return 0x0000D0; }
uint32_t GreenPixel(uint32_t, uint32_t) { return 0x00D000; }

bool Near(int value, int expected, int tolerance) {
    return std::abs(value - expected) <= tolerance;
}

// Counts the requests that reach the provider behind it.
class CountingProvider : public IImageProvider {
public:
    explicit CountingProvider(IImageProvider& next) : m_next(next) {}
    CImagePair Get(const CSizeSpec& size, const std::string& path, int& flags) override {
        ++calls;
        return m_next.Get(size, path, flags);
    }
    std::string GetTypeKey(const std::string& path) override { return m_next.GetTypeKey(path); }
    IImageProvider* GetNext() const override { return &m_next; }
    std::atomic<int> calls = 0;

private:
    IImageProvider& m_next;
};

// Answers every request with a square of its own size and the flags it is told to give.
class FixedProvider : public IImageProvider {
public:
    CImagePair Get(const CSizeSpec&, const std::string&, int& flags) override {
        ++calls;
        flags = (flags & ~kImageOutFlags) | answerFlags;
        CImagePair image;
        image.picture = CUIImage(size, size);
        image.mask = CUIImage(size, size);
        return image;
    }
    std::string GetTypeKey(const std::string&) override { return typeKey; }
    IImageProvider* GetNext() const override { return nullptr; }
    int size = 32;
    int answerFlags = kImageComplete | kImageFinal;
    std::string typeKey;
    int calls = 0;
};

// A JPEG reader with a hook after each row it reads, registered as the format of files named
// "*.hooked" so that the providers pick it up like any picture.
std::function<void(int rowsRead)> g_rowHook;

class HookedReader : public CJPEGReader {
public:
    bool ReadRow(std::span<uint32_t> row) override {
        const bool read = CJPEGReader::ReadRow(row);
        if (read && g_rowHook)
            g_rowHook(++m_rows);
        return read;
    }

private:
    int m_rows = 0;
};

class HookedFormat : public CPictureFormat {
public:
    std::string GetName() const override { return "HOOKED"; }
    std::string GetDefaultExtension() const override { return ".hooked"; }
    std::string GetFileNamePattern() const override { return "\\.hooked$"; }
    CRegExp GetCompiledPattern() const override {
        static const CRegExp pattern("\\.hooked$");
        return pattern;
    }
    std::unique_ptr<IPictureReader> NewReader() const override { return std::make_unique<HookedReader>(); }
};

void RegisterHookedFormat() {
    static bool registered = [] {
        CPictureFormatList::Get().Add(std::make_unique<HookedFormat>());
        return true;
    }();
    (void)registered;
}

// Runs a function on a thread of the system's own, so that it has a stop request.
class FunctionThread : public CRunnable {
public:
    explicit FunctionThread(std::function<void()> body) : m_body(std::move(body)) {}
    void Run() override { m_body(); }
    void RunAndJoin() {
        CThreadRef thread = CThread::Create(*this);
        ASSERT_TRUE(thread->Join(60));
    }

private:
    std::function<void()> m_body;
};

// The first Huffman table made impossible (three codes of length one), the rest of the file intact:
// the header reads, the decode fails when it starts.
Bytes WithBrokenHuffmanTable(Bytes jpeg) {
    for (size_t i = 2; i + 21 < jpeg.size(); ++i) {
        if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC4)
            continue;
        uint8_t* counts = &jpeg[i + 5];
        int moved = 3 - counts[0];
        counts[0] = 3;
        for (int length = 15; length > 0 && moved > 0; --length) {
            const int take = (std::min)(moved, int{counts[length]});
            counts[length] = static_cast<uint8_t>(counts[length] - take);
            moved -= take;
        }
        return jpeg;
    }
    throw std::runtime_error("no Huffman table");
}

class Thumbnails : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = m_folder / name;
        WriteFile(path, bytes);
        return path;
    }

    // Every pixel of the rectangle has the colour.
    static bool Filled(const CUIImage& image, const CUIRect& rect, CUIColor color) {
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                if (image.GetPixel(x, y) != color)
                    return false;
        return true;
    }

    testsupport::ScopedTempFolder m_folder;
    CFileTypeIconProvider m_icons;
    CJPEGThumbnailProvider m_jpeg{&m_icons, kFrame};
};

} // namespace

TEST_F(Thumbnails, LandscapePictureIsFittedFramedAndDecodedAtAnEighth) {
    const std::string path =
        Write("wide.jpg", EncodeJpeg({.width = 3000, .height = 2000, .quality = 95, .pixel = StripedPixel}));
    int flags = 0;
    const CImagePair image = m_jpeg.Get({48, false}, path, flags);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    ASSERT_EQ(image.picture.Size(), (CUISize{48, 48}));
    ASSERT_EQ(image.mask.Size(), (CUISize{48, 48}));

    // 46 x 30 at (1, 9), the frame one pixel around it; above and below it transparent black.
    const CUIRect area = CUIRect::FromSize(1, 9, 46, 30);
    const CUIRect framed{0, 8, 48, 40};
    EXPECT_TRUE(Filled(image.mask, framed, kBlack));
    EXPECT_TRUE(Filled(image.mask, {0, 0, 48, 8}, kWhite));
    EXPECT_TRUE(Filled(image.mask, {0, 40, 48, 48}, kWhite));
    EXPECT_TRUE(Filled(image.picture, {0, 0, 48, 8}, kBlack));
    EXPECT_TRUE(Filled(image.picture, {0, 8, 48, 9}, kFrame));
    EXPECT_TRUE(Filled(image.picture, {0, 39, 48, 40}, kFrame));
    EXPECT_TRUE(Filled(image.picture, {0, 9, 1, 39}, kFrame));
    EXPECT_TRUE(Filled(image.picture, {47, 9, 48, 39}, kFrame));

    // Each output pixel is the nearest pixel of the 375 x 250 decode, the mean of an 8 x 8 block.
    for (int i = 0; i < area.Height(); ++i) {
        for (int j = 0; j < area.Width(); ++j) {
            const CUIColor pixel = image.picture.GetPixel(area.left + j, area.top + i);
            const int column = 374 * j / 45, row = 249 * i / 29;
            ASSERT_TRUE(Near(pixel.Red(), (8 * column + 4) * 255 / 2999, 12)) << j << "," << i;
            ASSERT_TRUE(Near(pixel.Green(), (8 * row + 4) * 255 / 1999, 12)) << j << "," << i;
            ASSERT_TRUE(Near(pixel.Blue(), 128, 40)) << j << "," << i << ": stripes apart, not 1/8";
        }
    }

    CJPEGReader reader;
    reader.Open(path);
    CImagePair drawn;
    EXPECT_TRUE(m_jpeg.Draw(reader, 48, drawn));
    EXPECT_EQ(reader.GetScale(), 8);
    EXPECT_EQ(reader.GetWidth(), 375u);
    EXPECT_EQ(reader.GetHeight(), 250u);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            ASSERT_EQ(drawn.picture.GetPixel(x, y), image.picture.GetPixel(x, y)) << x << "," << y;
}

TEST_F(Thumbnails, EmbeddedThumbnailIsUsedOnlyWhenRotatedLikeThePicture) {
    const Bytes landscapeThumbnail = EncodeJpeg({.width = 160, .height = 120, .pixel = BluePixel});
    const Bytes exif = CameraExif(ByteOrder::Little, landscapeThumbnail).Build();
    struct Case {
        const char* name;
        uint32_t width, height;
        bool blue; // the embedded thumbnail was decoded
    };
    const Case cases[] = {
        {"portrait.jpg", 200, 300, false}, // portrait picture, landscape thumbnail: the picture itself
        {"landscape.jpg", 300, 200, true}, // both landscape: the thumbnail
    };
    for (const Case& c : cases) {
        const std::string path =
            Write(c.name, EncodeJpeg({.width = c.width, .height = c.height, .app1 = {exif}, .pixel = RedPixel}));
        int flags = 0;
        const CImagePair image = m_jpeg.Get({48, false}, path, flags);
        EXPECT_EQ(flags, kImageComplete | kImageFinal) << c.name;
        const CUIColor centre = image.picture.GetPixel(24, 24);
        if (c.blue) {
            EXPECT_GT(centre.Blue(), 150) << c.name;
            EXPECT_LT(centre.Red(), 60) << c.name;
        } else {
            EXPECT_GT(centre.Red(), 150) << c.name;
            EXPECT_LT(centre.Blue(), 60) << c.name;
        }
    }
}

TEST_F(Thumbnails, PictureTooThinForTheCellIsAFrameColouredSquare) {
    for (auto [width, height] : {std::pair{1u, 5000u}, std::pair{5000u, 1u}}) {
        const std::string path = Write("thin.jpg", EncodeJpeg({.width = width, .height = height}));
        int flags = 0;
        const CImagePair image = m_jpeg.Get({48, false}, path, flags);
        EXPECT_EQ(flags, kImageComplete | kImageFinal);
        EXPECT_TRUE(Filled(image.picture, {0, 0, 48, 48}, kFrame)) << width << "x" << height;
        EXPECT_TRUE(Filled(image.mask, {0, 0, 48, 48}, kBlack)) << width << "x" << height;
    }
}

TEST_F(Thumbnails, CorruptPictureKeepsTheFrameAndUnreadableOneFallsBackToTheIcon) {
    const Bytes good = EncodeJpeg({.width = 300, .height = 200, .pixel = GreenPixel});
    const std::string corrupt = Write("corrupt.jpg", WithBrokenHuffmanTable(good));
    int flags = 0;
    const CImagePair framed = m_jpeg.Get({48, false}, corrupt, flags);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    // 46 x 30 at (1, 9): all frame colour, the frame's rectangle opaque.
    EXPECT_TRUE(Filled(framed.picture, {0, 8, 48, 40}, kFrame));
    EXPECT_TRUE(Filled(framed.mask, {0, 8, 48, 40}, kBlack));
    EXPECT_TRUE(Filled(framed.mask, {0, 0, 48, 8}, kWhite));

    // Not a JPEG at all despite its name: the icon, and final, since nothing better will come.
    const std::string garbage = Write("garbage.jpg", Bytes(100, 0x42));
    flags = 0;
    const CImagePair icon = m_jpeg.Get({48, false}, garbage, flags);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    EXPECT_EQ(icon.picture.Size(), (CUISize{48, 48}));
    EXPECT_FALSE(Filled(icon.mask, {0, 0, 48, 48}, kWhite));
}

TEST_F(Thumbnails, NoDecodingGivesNothingForAPictureAndTheIconForOtherFiles) {
    const std::string picture = Write("photo.jpg", EncodeJpeg({}));
    const std::string text = Write("notes.txt", Bytes{'h', 'i', '\n'});
    EXPECT_EQ(m_jpeg.GetTypeKey(picture), "");
    EXPECT_EQ(m_jpeg.GetTypeKey(text), "text/plain");

    int flags = kImageNoDecoding;
    EXPECT_TRUE(m_jpeg.Get({48, false}, picture, flags).IsEmpty());
    EXPECT_EQ(flags, kImageNoDecoding);

    flags = kImageNoDecoding;
    const CImagePair icon = m_jpeg.Get({48, false}, text, flags);
    EXPECT_EQ(flags, kImageNoDecoding | kImageComplete); // an icon stands for its type: not final
    ASSERT_EQ(icon.picture.Size(), (CUISize{48, 48}));
    // Some of the cell is drawn and opaque, and the opaque part is not all black.
    int opaque = 0, coloured = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
            if (icon.mask.GetPixel(x, y) == kBlack) {
                ++opaque;
                coloured += icon.picture.GetPixel(x, y) != kBlack;
            } else {
                EXPECT_EQ(icon.mask.GetPixel(x, y), kWhite);
                EXPECT_EQ(icon.picture.GetPixel(x, y), kBlack);
            }
        }
    }
    EXPECT_GT(opaque, 48 * 48 / 4);
    EXPECT_GT(coloured, 0);

    // The theme has the type's icon, without a display.
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(platform::DrawFileTypeIcon("text/plain", false, 48, pixels));
    EXPECT_TRUE(platform::DrawFileTypeIcon("inode/directory", true, 48, pixels));
    EXPECT_EQ(pixels.size(), 48u * 48u);
}

TEST_F(Thumbnails, CacheAnswersByPathAndByTypeWithTheirFlags) {
    CountingProvider counter(m_jpeg);
    CThumbnailCache cache(&counter);
    const std::string picture = Write("photo.jpg", EncodeJpeg({}));
    const std::string first = Write("a.txt", Bytes{'a'});
    const std::string second = Write("b.txt", Bytes{'b'});

    int flags = 0;
    const CImagePair decoded = cache.Get({48, false}, picture, flags);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    flags = 0;
    const CImagePair cached = cache.Get({48, false}, picture, flags);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(cached.picture.GetPixel(24, 24), decoded.picture.GetPixel(24, 24));
    // Another cell size or the open form is another key.
    flags = 0;
    cache.Get({32, false}, picture, flags);
    cache.Get({48, true}, picture, flags);
    EXPECT_EQ(counter.calls, 3);

    // The first text file's icon is kept under its type and answers for the second.
    flags = 0;
    cache.Get({48, false}, first, flags);
    EXPECT_EQ(flags, kImageComplete);
    EXPECT_EQ(counter.calls, 4);
    flags = 0;
    const CImagePair shared = cache.Get({48, false}, second, flags);
    EXPECT_EQ(flags, kImageComplete);
    EXPECT_EQ(counter.calls, 4);
    EXPECT_EQ(shared.picture.Size(), (CUISize{48, 48}));

    // A no-decoding answer is never kept, and does not hide a cached one.
    flags = kImageNoDecoding;
    cache.Get({48, false}, Write("other.jpg", EncodeJpeg({})), flags);
    EXPECT_EQ(flags, kImageNoDecoding);
    flags = kImageNoDecoding;
    EXPECT_FALSE(cache.Get({48, false}, picture, flags).IsEmpty());
    EXPECT_EQ(flags, kImageNoDecoding | kImageComplete | kImageFinal);

    const size_t count = cache.GetCount();
    EXPECT_EQ(count, 4u); // photo at 48, 32 and open 48; the text type at 48
    cache.Clear();
    EXPECT_EQ(cache.GetCount(), 0u);
    flags = 0;
    cache.Get({48, false}, picture, flags);
    EXPECT_EQ(counter.calls, 6);
}

TEST_F(Thumbnails, CacheStoresUnderRequestedAndAnsweredSizeOnlyCompleteAnswers) {
    FixedProvider fixed;
    CThumbnailCache cache(&fixed);
    int flags = 0;
    cache.Get({48, false}, "/pictures/one.jpg", flags);
    EXPECT_EQ(cache.GetCount(), 2u);
    flags = 0;
    EXPECT_EQ(cache.Get({32, false}, "/pictures/one.jpg", flags).GetSize(), 32);
    EXPECT_EQ(flags, kImageComplete | kImageFinal);
    EXPECT_EQ(fixed.calls, 1);

    // Stopped before the end: passed on, not kept.
    fixed.answerFlags = kImageFinal;
    flags = 0;
    cache.Get({48, false}, "/pictures/two.jpg", flags);
    EXPECT_EQ(flags, kImageFinal);
    EXPECT_EQ(cache.GetCount(), 2u);

    // Not final with a type key: kept by type, found for another file of the type.
    fixed.answerFlags = kImageComplete;
    fixed.typeKey = "text/plain";
    flags = 0;
    cache.Get({48, false}, "/a.txt", flags);
    EXPECT_EQ(cache.GetCount(), 4u);
    flags = 0;
    cache.Get({32, false}, "/b.txt", flags);
    EXPECT_EQ(flags, kImageComplete);
    EXPECT_EQ(fixed.calls, 3);
}

TEST_F(Thumbnails, CacheEvictsTheLeastRecentlyUsedBeyondItsCapacity) {
    CountingProvider counter(m_jpeg);
    CThumbnailCache cache(&counter);
    const Bytes tiny = EncodeJpeg({.width = 8, .height = 8});
    std::vector<std::string> paths;
    for (size_t i = 0; i <= CThumbnailCache::kCapacity; ++i)
        paths.push_back(Write(std::to_string(i).append(".jpg"), tiny));

    int flags = 0;
    for (size_t i = 0; i < CThumbnailCache::kCapacity; ++i)
        cache.Get({48, false}, paths[i], flags);
    EXPECT_EQ(cache.GetCount(), CThumbnailCache::kCapacity);
    cache.Get({48, false}, paths[0], flags); // the oldest becomes the newest
    EXPECT_EQ(counter.calls, 1000);

    cache.Get({48, false}, paths[1000], flags); // the 1001st evicts p1, now the least recent
    EXPECT_EQ(cache.GetCount(), CThumbnailCache::kCapacity);
    EXPECT_EQ(counter.calls, 1001);
    cache.Get({48, false}, paths[0], flags);
    cache.Get({48, false}, paths[2], flags);
    EXPECT_EQ(counter.calls, 1001);
    cache.Get({48, false}, paths[1], flags);
    EXPECT_EQ(counter.calls, 1002);
}

TEST_F(Thumbnails, StopRequestMidDecodeLeavesAPartialThumbnail) {
    RegisterHookedFormat();
    // 400 x 300 for 48: 46 x 34 at (1, 7), decoded at 1/4 (100 x 75); the stop comes with row 40.
    const std::string path = Write("stopped.hooked", EncodeJpeg({.width = 400, .height = 300, .pixel = GreenPixel}));
    g_rowHook = [](int rows) {
        if (rows == 40)
            GetCurrentThreadObject()->RequestStop();
    };
    int flags = 0;
    CImagePair image;
    FunctionThread worker([&] { image = m_jpeg.Get({48, false}, path, flags); });
    worker.RunAndJoin();
    g_rowHook = nullptr;

    EXPECT_EQ(flags, kImageFinal);
    ASSERT_EQ(image.picture.Size(), (CUISize{48, 48}));
    const CUIColor top = image.picture.GetPixel(24, 7);
    EXPECT_GT(top.Green(), 150);
    EXPECT_LT(top.Red(), 60);
    EXPECT_EQ(image.picture.GetPixel(24, 40), kFrame); // the last row of the area was never drawn
    EXPECT_TRUE(Filled(image.mask, {0, 6, 48, 42}, kBlack));

    // The cache does not keep it.
    CThumbnailCache cache(&m_jpeg);
    g_rowHook = [](int rows) {
        if (rows == 40)
            GetCurrentThreadObject()->RequestStop();
    };
    FunctionThread cached([&] { cache.Get({48, false}, path, flags); });
    cached.RunAndJoin();
    g_rowHook = nullptr;
    EXPECT_EQ(cache.GetCount(), 0u);
}

TEST_F(Thumbnails, WorkerAnswersOnItsThreadAndCancelStopsTheRunningDecode) {
    RegisterHookedFormat();
    const std::string slow = Write("slow.hooked", EncodeJpeg({.width = 400, .height = 300}));
    const std::string quick = Write("quick.jpg", EncodeJpeg({.width = 400, .height = 300}));
    CThumbnailWorker worker(m_jpeg);

    std::thread::id answeredOn;
    int answeredFlags = -1;
    CImagePair answer;
    worker.Request(quick, {48, false}, [&](const std::string& path, const CImagePair& image, int flags) {
        EXPECT_EQ(path, quick);
        answeredOn = std::this_thread::get_id();
        answeredFlags = flags;
        answer = image;
    });
    ASSERT_TRUE(worker.WaitIdle(60));
    EXPECT_NE(answeredOn, std::this_thread::get_id());
    EXPECT_EQ(answeredFlags, kImageComplete | kImageFinal);
    EXPECT_EQ(answer.picture.Size(), (CUISize{48, 48}));

    // The slow decode waits at row 5 for its stop request; the quick one behind it never runs.
    CEvent reached;
    std::atomic<int> lastRow = 0;
    g_rowHook = [&](int rows) {
        lastRow = rows;
        if (rows == 5) {
            reached.Set();
            GetStopEvent()->Lock(30);
        }
    };
    std::atomic<int> answers = 0;
    auto count = [&](const std::string&, const CImagePair&, int) { ++answers; };
    worker.Request(slow, {48, false}, count);
    worker.Request(quick, {48, false}, count);
    ASSERT_TRUE(reached.Lock(30));
    worker.CancelAll();
    ASSERT_TRUE(worker.WaitIdle(30));
    g_rowHook = nullptr;
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(lastRow, 5); // stopped at the next output row, not read to the end

    // The worker serves new requests after a cancel.
    worker.Request(quick, {48, false}, count);
    ASSERT_TRUE(worker.WaitIdle(60));
    EXPECT_EQ(answers, 1);
}
