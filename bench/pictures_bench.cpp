// Picture reading speed: the properties of 1,000 pictures with EXIF data read from disk (what the
// properties of a large selection cost), and one 12-megapixel JPEG decoded at 1/8 scale through the
// JPEG reader (what a thumbnail of a camera picture costs). bench/djpeg_compare.sh times djpeg on the
// same file; it names the file through PX_BENCH_JPEG.

#include "bench/bench_folder.h"
#include "control/resources/module_resources.h"
#include "pictures/image_properties.h"
#include "pictures/jpeg_reader.h"
#include "tests/pictures/jpeg_test_files.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

using namespace testpictures;

namespace {

constexpr int kPictureCount = 1000;

// A temporary folder with the pictures, made on first use and removed at exit.
class BenchFiles {
public:
    static BenchFiles& Get() {
        static BenchFiles files;
        return files;
    }

    const std::vector<std::string>& Pictures() {
        if (m_pictures.empty()) {
            // A small camera picture: 640 x 480 with its EXIF segment and a 160 x 120 thumbnail.
            const Bytes thumbnail = EncodeJpeg({.width = 160, .height = 120, .quality = 75, .noise = 8});
            const Bytes picture = EncodeJpeg({.width = 640,
                                              .height = 480,
                                              .quality = 85,
                                              .app1 = {CameraExif(ByteOrder::Little, thumbnail).Build()},
                                              .noise = 8});
            for (int i = 0; i < kPictureCount; ++i) {
                m_pictures.push_back(m_folder / ("picture" + std::to_string(i) + ".jpg"));
                WriteFile(m_pictures.back(), picture);
            }
        }
        return m_pictures;
    }

    const std::string& LargePicture() {
        if (m_large.empty()) {
            const char* named = std::getenv("PX_BENCH_JPEG");
            m_large = named != nullptr ? named : m_folder / "12mp.jpg";
            WriteFile(m_large, EncodeJpeg({.width = 4000, .height = 3000, .quality = 90, .noise = 12}));
        }
        return m_large;
    }

private:
    BenchFiles() = default;

    BenchFolder m_folder{"pxbench"};
    std::vector<std::string> m_pictures;
    std::string m_large;
};

void PropertiesOf1000Pictures(benchmark::State& state) {
    platform::SetResourceModule(&PxModuleResources());
    const std::vector<std::string>& pictures = BenchFiles::Get().Pictures();
    for (auto _ : state) {
        for (const std::string& path : pictures) {
            CImageProperties::Info info(path);
            benchmark::DoNotOptimize(info.properties.size());
        }
    }
    state.SetItemsProcessed(state.iterations() * kPictureCount);
}
BENCHMARK(PropertiesOf1000Pictures)->Unit(benchmark::kMillisecond);

void Decode12MegapixelAtOneEighth(benchmark::State& state) {
    const std::string& path = BenchFiles::Get().LargePicture();
    for (auto _ : state) {
        CJPEGReader reader;
        reader.Open(path);
        reader.SetScale(8);
        std::vector<uint32_t> row(reader.GetWidth());
        uint32_t sum = 0;
        while (reader.ReadRow(row))
            sum += row[0];
        benchmark::DoNotOptimize(sum);
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}
BENCHMARK(Decode12MegapixelAtOneEighth)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
