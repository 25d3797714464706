// "Choose Pictures" opening a folder of 2,000 JPEG pictures, the real dialog on the display: the time
// from asking it to open the folder to the first painted screen of cells (icons, before thumbnails),
// the time until every visible cell shows its thumbnail, and how long a call posted to the UI thread
// waits while those thumbnails decode (the largest and the median delay). The dialog should show its
// first screen within about 300 ms and never keep a posted call waiting 100 ms. Needs a display:
// `xvfb-run -a build/bench/bench/picture_browser_bench`.
//
// The folder is made once per run: eight distinct 1600 x 1200 pictures without EXIF (so every
// thumbnail is a decode of the picture itself, at 1/8 scale), about 440 KB each, encoded with libjpeg
// as the tests' pictures are, and copied under 2,000 names. Each repetition opens a new dialog, so the
// thumbnail cache starts empty; the system's file cache stays warm (the files were just written).
#include "bench/bench_folder.h"
#include "control/resources/module_resources.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/window_system.h"
#include "tests/pictures/jpeg_test_files.h"
#include "ui/application.h"
#include "ui/window.h"
#include "views/picture_browser_dialog.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPictureCount = 2000;
constexpr int kDistinctPictures = 8;
// A repetition that has not drawn every visible thumbnail by then has failed.
constexpr auto kGiveUpAfter = std::chrono::seconds(60);
// How often the prober posts a call to the UI thread.
constexpr auto kProbeInterval = std::chrono::milliseconds(2);

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Broad colour fields with edges, different for each K, so that the copies are not all one picture.
template <int K>
uint32_t Pattern(uint32_t x, uint32_t y) {
    const uint32_t red = (x * (3 + K) / 16 + y / 7) & 0xFF;
    const uint32_t green = ((x / 40 + y / 30 + K) % 5) * 50;
    const uint32_t blue = (y * (5 + K) / 24) & 0xFF;
    return red << 16 | green << 8 | blue;
}
constexpr uint32_t (*kPatterns[kDistinctPictures])(uint32_t, uint32_t) = {
    Pattern<0>, Pattern<1>, Pattern<2>, Pattern<3>, Pattern<4>, Pattern<5>, Pattern<6>, Pattern<7>};

// The folder of pictures, the registry store of the run (so that the user's recent folders are left
// alone), the application and a shown top-level window that owns the dialogs; made on first use.
class BenchDesk {
public:
    static BenchDesk& Get() {
        static BenchDesk desk;
        return desk;
    }
    bool HasDisplay() const { return m_app != nullptr; }
    CUIApplication& App() { return *m_app; }
    CUIWindow& Owner() { return m_owner; }
    std::string Pictures() const { return m_folder / "pictures"; }
    uintmax_t FolderBytes() const { return m_bytes; }

    ~BenchDesk() {
        m_owner.Destroy();
        m_app.reset();
        platform::SetRegistryPath("");
        platform::SetResourceModule(nullptr);
    }

private:
    BenchDesk() {
        platform::SetResourceModule(&PxModuleResources());
        platform::SetRegistryPath(m_folder / "registry.db");
        MakePictures();
        platform::WindowSystem* system = platform::GetNativeWindowSystem();
        if (system == nullptr)
            return;
        m_app = std::make_unique<CUIApplication>(*system);
        m_owner.CreateTopLevel("picture browser bench");
        m_owner.SetClientSize({640, 480});
        m_owner.Show();
        m_app->SetMainWindow(m_owner.GetHandle());
        // Until the owner is on the screen, so that the first dialog does not pay for it.
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!m_owner.IsVisible() && Clock::now() < deadline)
            m_app->PumpOnce();
    }

    void MakePictures() {
        const std::string folder = Pictures();
        std::filesystem::create_directories(folder);
        std::vector<std::string> originals;
        for (int i = 0; i < kDistinctPictures; ++i) {
            const std::string path = m_folder / ("original-" + std::to_string(i) + ".jpg");
            testpictures::WriteFile(
                path, testpictures::EncodeJpeg(
                          {.width = 1600, .height = 1200, .quality = 90, .noise = 8, .pixel = kPatterns[i]}));
            originals.push_back(path);
        }
        for (int i = 0; i < kPictureCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/IMG_%04d.jpg", i + 1);
            const std::string& original = originals[size_t(i % kDistinctPictures)];
            std::filesystem::copy_file(original, folder + name);
            m_bytes += std::filesystem::file_size(original);
        }
    }

    BenchFolder m_folder{"px-picture-browser-bench"};
    uintmax_t m_bytes = 0;
    std::unique_ptr<CUIApplication> m_app;
    CUIWindow m_owner;
};

// Calls posted to the UI thread every kProbeInterval from a thread of its own, each stamped with the
// time it was posted; the UI thread notes when it ran. What the pump's user feels: a click or a
// worker's answer waits as long as these calls do.
class PumpProbe {
public:
    struct Sample {
        Clock::time_point posted;
        Clock::duration delay;
    };

    explicit PumpProbe(CUIApplication& app) : m_app(app) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const Clock::time_point posted = Clock::now();
                std::shared_ptr<std::vector<Sample>> samples = m_samples;
                m_app.PostCall([samples, posted] { samples->push_back({posted, Clock::now() - posted}); });
                std::this_thread::sleep_until(posted + kProbeInterval);
            }
        });
    }
    ~PumpProbe() { Stop(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // The UI thread's samples; read them on the UI thread only.
    const std::vector<Sample>& Samples() const { return *m_samples; }

private:
    CUIApplication& m_app;
    // Written by the posted calls, on the UI thread; shared with calls still queued when the probe goes.
    std::shared_ptr<std::vector<Sample>> m_samples = std::make_shared<std::vector<Sample>>();
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The dialog, watching its thumbnail grid's paints: the first that draws cells, and the one after
// which every cell in view has shown its thumbnail. It then ends itself with Cancel.
class TimedBrowser : public CPictureBrowserDialog {
public:
    std::optional<Clock::time_point> firstScreen;
    std::optional<Clock::time_point> allThumbnails;
    size_t visibleCells = 0;
    int paints = 0;
    bool gaveUp = false;

    // The dialog at its template's size, or with the client area given (as a user who enlarged it).
    explicit TimedBrowser(std::optional<CUISize> clientSize) : m_clientSize(clientSize) {
        GetThumbnails().SetPaintObserver(
            [this](const CPictureThumbnailView::PaintedCells& cells) { OnPainted(cells); });
    }

protected:
    void OnInit() override {
        if (m_clientSize)
            SetClientSize(*m_clientSize);
        CPictureBrowserDialog::OnInit();
    }

    void ModalStep() override {
        if (!m_started)
            m_started = Clock::now();
        if (allThumbnails) {
            Screenshot();
            End(ui::kIdCancel);
            return;
        }
        if (Clock::now() - *m_started > kGiveUpAfter) {
            gaveUp = true;
            End(ui::kIdCancel);
            return;
        }
        CPictureBrowserDialog::ModalStep();
    }

private:
    // With PX_BENCH_SCREENSHOT set to a PNG file's path, the screen as the timing ended, for a person
    // to look at (outside the timed span; the last repetition's stays).
    static void Screenshot() {
        const char* path = std::getenv("PX_BENCH_SCREENSHOT");
        if (path == nullptr || path[0] == '\0')
            return;
        const std::string command = "import -window root '" + std::string(path) + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "no screenshot: %s failed\n", command.c_str());
    }

    // The cells that meet the grid's visible area now, at its scroll position.
    std::vector<size_t> VisibleCells() {
        CPictureThumbnailView& view = GetThumbnails();
        const CUIRect client = view.GetClientRect();
        const CUIRect area{client.left, client.top, client.right - CPictureThumbnailView::kScrollBarWidth,
                           client.bottom};
        std::vector<size_t> visible;
        const size_t count = GetModel().GetEntries().size();
        for (size_t i = 0; i < count; ++i) {
            const CUIRect cell = view.GetCellRect(i);
            if (cell.top >= area.bottom)
                break;
            if (!cell.Intersect(area).IsEmpty())
                visible.push_back(i);
        }
        return visible;
    }

    // True when every cell in view is in `cells`.
    static bool AllIn(const std::vector<size_t>& visible, const std::set<size_t>& cells) {
        return !visible.empty() && std::all_of(visible.begin(), visible.end(),
                                               [&cells](size_t i) { return cells.count(i) != 0; });
    }

    void OnPainted(const CPictureThumbnailView::PaintedCells& cells) {
        const Clock::time_point now = Clock::now();
        ++paints;
        m_painted.insert(cells.all.begin(), cells.all.end());
        m_withThumbnail.insert(cells.withThumbnail.begin(), cells.withThumbnail.end());
        if (allThumbnails)
            return;
        const std::vector<size_t> visible = VisibleCells();
        // The first screen: every cell in view drawn once, whatever it showed.
        if (!firstScreen && AllIn(visible, m_painted))
            firstScreen = now;
        if (firstScreen && AllIn(visible, m_withThumbnail)) {
            allThumbnails = now;
            visibleCells = visible.size();
        }
    }

    std::optional<CUISize> m_clientSize;
    std::optional<Clock::time_point> m_started;
    std::set<size_t> m_painted;
    std::set<size_t> m_withThumbnail;
};

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One repetition: a new dialog (and so an empty thumbnail cache) opened on the folder. The time of
// the repetition is the time until every visible thumbnail is drawn.
void OpenTwoThousandPictures(benchmark::State& state, std::optional<CUISize> clientSize) {
    BenchDesk& desk = BenchDesk::Get();
    if (!desk.HasDisplay()) {
        state.SkipWithError("no display");
        return;
    }
    for (auto _ : state) {
        TimedBrowser browser(clientSize);
        PumpProbe probe(desk.App());
        const Clock::time_point asked = Clock::now();
        browser.Run(&desk.Owner(), desk.Pictures());
        probe.Stop();
        if (browser.gaveUp || !browser.firstScreen || !browser.allThumbnails) {
            state.SkipWithError("the visible thumbnails were not all drawn in time");
            return;
        }
        if (browser.GetModel().GetEntries().size() != size_t(kPictureCount)) {
            state.SkipWithError("the folder was not listed whole");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(*browser.allThumbnails - asked).count());

        // The delays of the calls posted while the thumbnails decoded, and the longest wait of those
        // posted before the first screen (the open itself holds the pump).
        std::vector<double> decoding;
        double openStall = 0;
        for (const PumpProbe::Sample& sample : probe.Samples()) {
            if (sample.posted < *browser.firstScreen)
                openStall = std::max(openStall, Milliseconds(sample.delay));
            else if (sample.posted <= *browser.allThumbnails)
                decoding.push_back(Milliseconds(sample.delay));
        }
        state.counters["firstScreenMs"] = Milliseconds(*browser.firstScreen - asked);
        state.counters["allThumbsMs"] = Milliseconds(*browser.allThumbnails - asked);
        state.counters["pumpMaxMs"] =
            decoding.empty() ? 0 : *std::max_element(decoding.begin(), decoding.end());
        state.counters["pumpMedianMs"] = Median(decoding);
        state.counters["pumpSamples"] = static_cast<double>(decoding.size());
        state.counters["openStallMs"] = openStall;
        state.counters["visibleThumbs"] = static_cast<double>(browser.visibleCells);
        state.counters["paints"] = browser.paints;
    }
    state.counters["pictures"] = kPictureCount;
    state.counters["folderMB"] = static_cast<double>(desk.FolderBytes()) / 1e6;
}
// The dialog as it opens, its grid showing 4 x 3 cells, and enlarged to most of a 1280 x 1024 screen,
// 10 x 8 cells (the last row in part).
BENCHMARK_CAPTURE(OpenTwoThousandPictures, template_size, std::nullopt)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK_CAPTURE(OpenTwoThousandPictures, enlarged, CUISize{1240, 960})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
