// The pump's round trip for a call from a worker thread: from PostCall on the worker to the call
// running on the UI thread, which sleeps in the GTK main context until the cross-thread event wakes
// it. Needs a display: run it as `xvfb-run -a build/bench/bench/ui_pump_bench`.
#include "foundation/event.h"
#include "platform/window_system.h"
#include "ui/application.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <benchmark/benchmark.h>

namespace {

using Clock = std::chrono::steady_clock;

void BM_CrossThreadCallRoundTrip(benchmark::State& state) {
    platform::WindowSystem* system = platform::GetNativeWindowSystem();
    if (system == nullptr) {
        state.SkipWithError("no display");
        return;
    }
    CUIApplication app(*system);
    CEvent go;
    std::atomic<bool> stop{false};
    std::atomic<bool> ran{false};
    Clock::time_point postedAt;
    Clock::time_point ranAt;
    std::thread worker([&] {
        for (;;) {
            go.Lock(-1);
            go.Reset();
            if (stop)
                return;
            postedAt = Clock::now();
            app.PostCall([&] {
                ranAt = Clock::now();
                ran = true;
            });
        }
    });
    for (auto _ : state) {
        ran = false;
        go.Set();
        while (!ran)
            app.PumpOnce();
        state.SetIterationTime(std::chrono::duration<double>(ranAt - postedAt).count());
    }
    stop = true;
    go.Set();
    worker.join();
}
BENCHMARK(BM_CrossThreadCallRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
