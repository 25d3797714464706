// What one thumbnail costs without the cache: a 48-pixel thumbnail of a 6- and a 24-megapixel JPEG
// made by the JPEG thumbnail provider (open, fit, 1/8 decode, nearest-neighbour scaling), and of the
// larger one when it carries a camera's 160 x 120 EXIF thumbnail, which spares the main decode.

#include "bench/bench_folder.h"
#include "pictures/jpeg_thumbnail_provider.h"
#include "tests/pictures/jpeg_test_files.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

using namespace testpictures;

namespace {

// The pictures in a temporary folder, made on first use and removed at exit.
class BenchPictures {
public:
    static BenchPictures& Get() {
        static BenchPictures pictures;
        return pictures;
    }

    const std::string& Picture(uint32_t width, uint32_t height, bool withExifThumbnail) {
        const std::string name = std::to_string(width) + "x" + std::to_string(height) +
                                 (withExifThumbnail ? "-exif" : "") + ".jpg";
        auto found = m_paths.find(name);
        if (found != m_paths.end())
            return found->second;
        JpegOptions options{.width = width, .height = height, .quality = 90, .noise = 12};
        if (withExifThumbnail) {
            const Bytes thumbnail = EncodeJpeg({.width = 160, .height = 120, .quality = 75, .noise = 8});
            options.app1 = {CameraExif(ByteOrder::Little, thumbnail).Build()};
        }
        const std::string path = m_folder / name;
        WriteFile(path, EncodeJpeg(options));
        return m_paths.emplace(name, path).first->second;
    }

private:
    BenchPictures() = default;

    BenchFolder m_folder{"pxthumbs"};
    std::map<std::string, std::string> m_paths;
};

void Thumbnail48(benchmark::State& state, uint32_t width, uint32_t height, bool withExifThumbnail) {
    const std::string& path = BenchPictures::Get().Picture(width, height, withExifThumbnail);
    CJPEGThumbnailProvider provider;
    for (auto _ : state) {
        int flags = 0;
        CImagePair image = provider.Get({48, false}, path, flags);
        if (flags != (kImageComplete | kImageFinal))
            state.SkipWithError("thumbnail not made");
        benchmark::DoNotOptimize(image.picture.Bits());
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

BENCHMARK_CAPTURE(Thumbnail48, 3000x2000, 3000, 2000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Thumbnail48, 6000x4000, 6000, 4000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Thumbnail48, 6000x4000_exif_thumbnail, 6000, 4000, true)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
