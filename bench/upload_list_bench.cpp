// The upload list over 10,000 queued pictures: adding them, with the memory their entries take; the
// refresh's once-a-second tick when nothing changed, the copy of every row with its sort when
// something did, and a re-sort after a click on a column title; then the window itself over the same
// queue: the paint of its visible page into a memory drawing, and its refresh, idle and after a
// change. The queue is paused, so no sender thread runs and no server is needed.
#include "bench/bench_folder.h"
#include "control/resources/module_resources.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "pictures/picture_format_list.h"
#include "upload/plugin_parameters.h"
#include "ui/drawable.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"
#include "views/upload_list_dialogs.h"
#include "views/upload_list_rows.h"
#include "views/upload_list_view.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

constexpr int kPictureCount = 10000;

// The queue with its pictures, made on first use.
class BenchQueue {
public:
    static BenchQueue& Get() {
        static BenchQueue queue;
        return queue;
    }
    UploadQueue& Queue() { return *m_queue; }
    ~BenchQueue() {
        m_queue.reset();
        SetProxySettings(nullptr);
        CWinSockLibrary::Release();
    }

private:
    BenchQueue() {
        platform::SetResourceModule(&PxModuleResources());
        CWinSockLibrary::Acquire();
        SetProxySettings(std::make_unique<CNoProxySettings>());
        PluginParameters parameters;
        parameters.d_maxConnections = 1;
        m_queue = std::make_unique<UploadQueue>(
            parameters, UploadEndpoint("127.0.0.1:9", "bench", 1.0, false), [](const std::string& path) {
                return CPictureFormatList::Get().FindByFileName(path) != nullptr;
            });
        m_queue->Pause();
        for (int i = 0; i < kPictureCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%05d.jpg", (i * 7919) % kPictureCount);
            const std::string path = m_folder / name;
            std::ofstream(path, std::ios::binary) << std::string(static_cast<size_t>(100 + i % 997), 'x');
            m_queue->AddFromUser(path);
        }
    }
    BenchFolder m_folder{"px-upload-list-bench"};
    std::unique_ptr<UploadQueue> m_queue;
};

// Resident memory of the process in KB (Linux), for the memory the queue's entries take.
long ResidentKB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;
}

// Adding the 10,000 pictures to a fresh paused queue (each file examined as a user's add does), and
// the resident memory the added entries take (the largest growth seen in an iteration).
void BM_AddTenThousand(benchmark::State& state) {
    const std::vector<std::string> paths = BenchQueue::Get().Queue().GetDisplayOrder();
    PluginParameters parameters;
    parameters.d_maxConnections = 1;
    long grown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto queue = std::make_unique<UploadQueue>(
            parameters, UploadEndpoint("127.0.0.1:9", "bench", 1.0, false),
            [](const std::string& path) { return CPictureFormatList::Get().FindByFileName(path) != nullptr; });
        queue->Pause();
        const long before = ResidentKB();
        state.ResumeTiming();
        for (const std::string& path : paths)
            queue->AddFromUser(path);
        state.PauseTiming();
        grown = std::max(grown, ResidentKB() - before);
        queue.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(paths.size());
    state.counters["grownKB"] = static_cast<double>(grown);
}
BENCHMARK(BM_AddTenThousand)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RefreshUnchanged(benchmark::State& state) {
    UploadQueue& queue = BenchQueue::Get().Queue();
    CUploadListColumns columns;
    CUploadListRows rows;
    rows.Refresh(queue, columns, true);
    for (auto _ : state)
        benchmark::DoNotOptimize(rows.Refresh(queue, columns));
    state.counters["rows"] = static_cast<double>(rows.Count());
}
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);

void BM_RefreshAllRowsSortedByName(benchmark::State& state) {
    UploadQueue& queue = BenchQueue::Get().Queue();
    CUploadListColumns columns;
    columns.ClickTitle(UploadListColumn::Name);
    CUploadListRows rows;
    for (auto _ : state)
        benchmark::DoNotOptimize(rows.Refresh(queue, columns, true));
    state.counters["rows"] = static_cast<double>(rows.Count());
}
BENCHMARK(BM_RefreshAllRowsSortedByName)->Unit(benchmark::kMillisecond);

void BM_ResortBySizeThenName(benchmark::State& state) {
    UploadQueue& queue = BenchQueue::Get().Queue();
    CUploadListColumns columns;
    CUploadListRows rows;
    rows.Refresh(queue, columns, true);
    columns.ClickTitle(UploadListColumn::Name);
    columns.ClickTitle(UploadListColumn::Size);
    for (auto _ : state) {
        rows.Resort(columns);
        benchmark::DoNotOptimize(rows.At(0));
    }
}
BENCHMARK(BM_ResortBySizeThenName)->Unit(benchmark::kMillisecond);

// The window over the bench's queue, without a native window: it lays itself out for the size of the
// memory drawing it paints into. Its dialogs are never asked for.
class NoDialogs : public IUploadListDialogs {
public:
    void ShowProperties(CUIWindow&, const std::vector<std::string>&) override {}
    void ShowTransferFailed(CUIWindow&, const std::string&, const std::string&) override {}
    void RunRemoving(CUIWindow&, CUploadSelection&) override {}
    int RunTransferStatus(CUIWindow&, size_t, size_t) override { return 2; }
    int RunPreferences(CUIWindow&, const std::string&) override { return 0; }
    std::vector<std::string> ChooseFiles(CUIWindow&, std::string&, FileChooser) override { return {}; }
};

struct BenchView {
    explicit BenchView(UploadQueue& queue) : selection("upload", queue), view(selection, dialogs, PluginParameters()) {
        view.Layout({kWidth, kHeight});
        view.Refresh(true);
    }
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    NoDialogs dialogs;
    CUploadSelection selection;
    CUploadListView view;
};

void BM_ViewPaintVisiblePage(benchmark::State& state) {
    BenchView bench(BenchQueue::Get().Queue());
    CUIDrawable drawable = CUIDrawable::ForMemory(BenchView::kWidth, BenchView::kHeight);
    for (auto _ : state)
        bench.view.Paint(*drawable);
    state.counters["rows"] = static_cast<double>(bench.view.GetRowCount());
}
BENCHMARK(BM_ViewPaintVisiblePage)->Unit(benchmark::kMicrosecond);

void BM_ViewRefreshUnchanged(benchmark::State& state) {
    BenchView bench(BenchQueue::Get().Queue());
    for (auto _ : state)
        bench.view.Refresh();
}
BENCHMARK(BM_ViewRefreshUnchanged)->Unit(benchmark::kMicrosecond);

void BM_ViewRefreshChanged(benchmark::State& state) {
    BenchView bench(BenchQueue::Get().Queue());
    for (auto _ : state)
        bench.view.Refresh(true);
}
BENCHMARK(BM_ViewRefreshChanged)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
