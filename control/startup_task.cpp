#include "control/startup_task.h"

#include "foundation/exception.h"
#include "foundation/path.h"
#include "net/proxy_settings.h"
#include "pictures/upload_spec_reader.h"
#include "platform/resources.h"
#include "upload/upload_queue.h"

namespace {

constexpr uint32_t kStringHostNotFound = 10073;    // the caption of both boxes
constexpr uint32_t kStringCheckProxy = 10074;      // the first failure
constexpr uint32_t kStringCheckProxyAgain = 10075; // every failure after the preferences
constexpr const char* kAlbumNameProperty = "Image.AlbumName";

// The album name an image of the upload specification gives, if it names one.
const std::string* AlbumNameOf(const IUploadSpecImage& image) {
    for (auto it = image.GetFirstProperty(); it != image.GetPropertiesEnd(); ++it)
        if (it->first == kAlbumNameProperty)
            return &it->second;
    return nullptr;
}

} // namespace

bool DecideAutomaticStart(bool overrideUserPrefs, bool paused, bool autostartPreference) {
    return overrideUserPrefs ? !paused : autostartPreference;
}

// --- ServerCheckTask -----------------------------------------------------------------------------

ServerCheckTask::ServerCheckTask(std::string server, Resolver resolve)
    : m_server(std::move(server)), m_resolve(resolve ? std::move(resolve) : Resolver(&ResolveAsConnection)) {}

void ServerCheckTask::ResolveAsConnection(const std::string& uri) {
    bool useProxy = true;
    (void)ResolveConnectTarget(uri, useProxy);
}

std::optional<std::string> ServerCheckTask::Run(IStartupSite& site, UploadQueue&,
                                                const CStartupCancellation& cancellation) {
    const std::string uri = "http://" + m_server;
    std::string lastError;
    auto resolves = [&] {
        try {
            m_resolve(uri);
            return true;
        } catch (const CException& error) {
            lastError = error.GetText();
            return false;
        }
    };
    if (resolves())
        return std::nullopt;
    site.ShowMessage(platform::LoadText(kStringHostNotFound), platform::LoadText(kStringCheckProxy));
    if (cancellation.IsCancelled())
        return std::nullopt;
    // Each OK tries again with the settings just stored; Cancel gives up with the last failure.
    while (site.RunPreferences() == 1) {
        if (cancellation.IsCancelled())
            return std::nullopt;
        if (resolves())
            return std::nullopt;
        site.ShowMessage(platform::LoadText(kStringHostNotFound), platform::LoadText(kStringCheckProxyAgain));
        if (cancellation.IsCancelled())
            return std::nullopt;
    }
    if (cancellation.IsCancelled())
        return std::nullopt;
    return lastError;
}

// --- UploadSpecTask ------------------------------------------------------------------------------

UploadSpecTask::UploadSpecTask(std::string path) : m_path(std::move(path)) {}

std::optional<std::string> UploadSpecTask::Run(IStartupSite& site, UploadQueue& queue,
                                               const CStartupCancellation& cancellation) {
    try {
        // The reader deletes the file when it goes, at the end of this step.
        UploadSpecReader reader(m_path);
        std::string albumName;
        for (const IUploadSpecImage* image : reader.GetImages()) {
            if (cancellation.IsCancelled())
                return std::nullopt;
            std::string path = ResolveShortcuts(image->GetFileName());
            if (!queue.IsAcceptedPicture(path))
                continue;
            if (const std::string* name = AlbumNameOf(*image))
                albumName = *name;
            try {
                queue.Add(path, albumName);
            } catch (const CException& error) {
                site.ReportAddError(path, error);
            }
        }
    } catch (const char*) {
        // A file that cannot be opened or is no specification adds nothing and says nothing.
    }
    return std::nullopt;
}

// --- StartupTask ---------------------------------------------------------------------------------

StartupTask::StartupTask(IStartupSite& site, UploadQueue& queue,
                         std::shared_ptr<const CStartupCancellation> cancellation, bool automaticStart)
    : m_site(site), m_queue(queue), m_cancellation(std::move(cancellation)),
      m_automaticStart(automaticStart) {}

bool StartupTask::Run() {
    if (Cancelled())
        return true;
    m_queue.Pause();
    std::optional<std::string> error;
    for (const std::unique_ptr<CStartupStep>& step : m_steps) {
        m_site.SetBusy(true);
        try {
            error = step->Run(m_site, m_queue, *m_cancellation);
        } catch (...) {
            // Only a text error stops the start-up.
        }
        if (Cancelled())
            return true;
        m_site.SetBusy(false);
        if (error)
            break;
    }
    m_queue.Resume();
    if (error) {
        m_site.ShowInitialisationError(*error);
        return true;
    }
    if (m_automaticStart && m_queue.IsPaused())
        m_queue.Resume();
    return true;
}
