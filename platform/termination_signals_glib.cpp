// Termination signals as GLib sources of the default main context, which the window system's wait
// iterates: GLib turns the signal into a wake-up of the loop and calls the source there.
#include "platform/termination_signals.h"

#include <csignal>
#include <glib-unix.h>
#include <glib.h>
#include <vector>

namespace platform {

namespace {

class GLibTerminationSignals : public TerminationSignals {
public:
    explicit GLibTerminationSignals(std::function<void()> onRequest) : m_onRequest(std::move(onRequest)) {
        for (int signal : {SIGTERM, SIGINT})
            m_sources.push_back(g_unix_signal_add(signal, &GLibTerminationSignals::OnSignal, this));
    }
    ~GLibTerminationSignals() override {
        for (guint source : m_sources)
            g_source_remove(source);
        // GLib leaves its own handler installed; the default comes back as it was before.
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }

private:
    static gboolean OnSignal(gpointer data) {
        static_cast<GLibTerminationSignals*>(data)->m_onRequest();
        return G_SOURCE_CONTINUE; // a second request while the first is handled asks again
    }

    std::function<void()> m_onRequest;
    std::vector<guint> m_sources;
};

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::Watch(std::function<void()> onRequest) {
    return std::make_unique<GLibTerminationSignals>(std::move(onRequest));
}

} // namespace platform
