#include "apps/pxupload/upload_command.h"

#include "apps/pxupload/command_line.h"
#include "apps/pxupload/host_texts.h"
#include "apps/pxupload/retry_plan.h"
#include "apps/pxupload/terminal_progress.h"
#include "control/registered_picture.h"
#include "foundation/event.h"
#include "foundation/exception.h"
#include "foundation/path.h"
#include "foundation/wait_set.h"
#include "pictures/picture_format_list.h"
#include "pictures/size_text.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_engine.h"
#include "upload/upload_journal.h"
#include "upload/upload_queue.h"
#include "views/time_remaining_table.h"
#include "views/upload_list_texts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

namespace {

// How often the queue is refreshed and the progress drawn while nothing happens.
constexpr double kRefreshSeconds = 0.25;

// How long the statistics of the last pictures may take before the program ends without them.
constexpr double kStatisticsSeconds = 10.0;

// Whether the name is one of a registered picture type (JPEG).
bool HasPictureName(const std::string& path) {
    return CPictureFormatList::Get().FindByFileName(path) != nullptr;
}

// The queue's picture test is the control's: a name of a picture type and content that the type's
// reader opens, so that a file that only has the name is refused when it is added.
bool IsPictureFile(const std::string& path) {
    return IsRegisteredPicture(path);
}

bool IsAcceptedPicture(const std::string& path) {
    return !IsFolder(path) && IsPictureFile(path);
}

// The path with every symbolic link resolved, so that a file and a link to it are one picture; the
// path as it is when it cannot be resolved.
std::string ResolvedPath(const std::string& path) {
    return platform::ResolveLinks(path).value_or(path);
}


struct PictureList {
    std::vector<std::string> pictures; // full paths, in the order given (a folder's sorted by name)
    std::vector<std::string> albums;   // each picture's own album, empty for the session's
    std::vector<std::string> problems; // paths that were not pictures, with why
    std::vector<std::string> seen;     // the resolved paths of the pictures listed
};

// Adds the picture unless it is listed already under its resolved path.
void AddOnce(PictureList& list, const std::string& path, const std::string& album = "") {
    std::string key = ResolvedPath(path);
    if (std::find(list.seen.begin(), list.seen.end(), key) != list.seen.end())
        return;
    list.seen.push_back(std::move(key));
    list.pictures.push_back(path);
    list.albums.push_back(album);
}

std::string FullPath(const std::string& path) {
    return platform::MakeAbsolutePath(path).value_or(path);
}

PictureList CollectPictures(const std::vector<std::string>& paths) {
    PictureList list;
    for (const std::string& given : paths) {
        std::string path = FullPath(given);
        std::optional<platform::FileStatus> status = platform::GetFileStatus(path);
        if (status && status->isFolder) {
            std::vector<std::string> found;
            std::optional<std::vector<platform::FolderEntry>> entries = platform::ListFolder(path);
            if (!entries) {
                list.problems.push_back(
                    HostText(host_text::kPathProblem, {given, HostText(host_text::kUnlistable)}));
                continue;
            }
            // Sorted by name already; a link whose target is gone has nothing to upload.
            const std::string prefix = path.back() == '/' ? path : path + "/";
            bool refused = false;
            for (const platform::FolderEntry& entry : *entries) {
                std::string full = prefix + entry.name;
                if (entry.isFolder || !HasPictureName(full) || !platform::GetFileStatus(full))
                    continue;
                if (IsPictureFile(full)) {
                    found.push_back(std::move(full));
                } else {
                    list.problems.push_back(HostText(host_text::kNotJpegContent, {full}));
                    refused = true;
                }
            }
            if (found.empty() && !refused)
                list.problems.push_back(HostText(host_text::kNoPictures, {given}));
            for (const std::string& picture : found)
                AddOnce(list, picture);
            continue;
        }
        std::string resolved = ResolveShortcuts(path);
        if (!platform::GetFileStatus(resolved))
            list.problems.push_back(HostText(host_text::kNoSuchFile, {given}));
        else if (IsFolder(resolved) || !HasPictureName(resolved))
            list.problems.push_back(HostText(host_text::kNotAPicture, {given}));
        else if (!IsAcceptedPicture(resolved))
            list.problems.push_back(HostText(host_text::kNotJpegContent, {given}));
        else
            AddOnce(list, resolved);
    }
    return list;
}

// The journal's unfinished pictures of the session, after those given; one that is gone stays in the
// journal, so that it goes on once its file is back (a drive plugged in again).
void AddUnfinished(CUploadJournal& journal, PictureList& list) {
    for (const CUploadJournal::Picture& picture : journal.GetUnfinished()) {
        if (!platform::GetFileStatus(picture.path))
            list.problems.push_back(HostText(host_text::kResumedGone, {picture.path}));
        else if (IsAcceptedPicture(picture.path))
            AddOnce(list, picture.path, picture.albumName);
        else
            list.problems.push_back(HostText(host_text::kNotJpegContent, {picture.path}));
    }
}

double MonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}


// One line per finished picture, for the log above the progress block (or the whole output when
// standard output is not a terminal).
class CUploadReport {
public:
    explicit CUploadReport(std::vector<std::pair<std::string, std::shared_ptr<UploadJob>>> jobs)
        : m_jobs(std::move(jobs)) {}

    // Lines for pictures that finished since the last call, but those held back.
    std::vector<std::string> TakeFinished(const std::function<bool(const std::string&)>& heldBack = {}) {
        std::vector<std::string> lines;
        for (const auto& [path, job] : m_jobs) {
            UploadStatus status = job->GetStatus();
            if (status == UploadStatus::Pending || m_told.contains(path) || (heldBack && heldBack(path)))
                continue;
            m_told[path] = status;
            if (status == UploadStatus::Complete)
                lines.push_back(HostText(host_text::kUploaded, {path, SizeText(job->GetSize())}));
            else
                lines.push_back(HostText(host_text::kFailed, {path, OneLine(job->GetErrorText())}));
        }
        return lines;
    }

    bool IsTold(const std::string& path) const { return m_told.contains(path); }

    size_t Count(UploadStatus status) const {
        return static_cast<size_t>(std::count_if(m_jobs.begin(), m_jobs.end(), [status](const auto& job) {
            return job.second->GetStatus() == status;
        }));
    }

    uint64_t CompletedBytes() const {
        uint64_t bytes = 0;
        for (const auto& [path, job] : m_jobs)
            if (job->GetStatus() == UploadStatus::Complete)
                bytes += job->GetSize();
        return bytes;
    }

    const std::vector<std::pair<std::string, std::shared_ptr<UploadJob>>>& Jobs() const { return m_jobs; }

    // The picture goes on as a new job (tried again), not yet reported.
    void Replace(const std::string& path, std::shared_ptr<UploadJob> job) {
        for (auto& [listed, held] : m_jobs)
            if (listed == path)
                held = job;
        m_told.erase(path);
    }

    // The list's size text; a count below a kilobyte, which the list shows with a blank unit, names
    // its unit here.
    static std::string SizeText(uint64_t bytes) {
        std::string text = Trim(FormatSizeText(bytes));
        if (bytes >= 1024)
            return text;
        return HostText(bytes == 1 ? host_text::kByte : host_text::kByte + 1, {text});
    }

    static std::string Trim(std::string text) {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
            text.pop_back();
        return text;
    }

    // Failure texts end in CR LF and may hold several; they are shown on one line.
    static std::string OneLine(const std::string& text) {
        std::string line;
        for (char c : Trim(text)) {
            if (c == '\r')
                continue;
            line += c == '\n' ? std::string(" / ") : std::string(1, c);
        }
        return line.empty() ? HostText(host_text::kNoReason) : line;
    }

private:
    std::vector<std::pair<std::string, std::shared_ptr<UploadJob>>> m_jobs;
    std::map<std::string, UploadStatus> m_told;
};

ProgressFrame MakeFrame(const UploadQueue& queue, size_t total) {
    const PxUploadSession& session = queue.GetSession();
    const UploadJob& totals = session.GetTotals();
    ProgressFrame frame;
    for (const std::shared_ptr<UploadJob>& job : session.GetJobs()) {
        if (job->GetStatus() != UploadStatus::Pending || !job->IsTimerRunning())
            continue;
        frame.active.push_back(
            {job->GetFileName(), job->GetSize(), kUploadStateActive, job->GetFractionDone()});
    }
    frame.overallState = static_cast<int>(totals.GetStatus());
    frame.overallFraction = totals.GetFractionDone();
    frame.bytesDone = std::min(totals.GetBytesDone(), totals.GetSize());
    frame.bytesTotal = totals.GetSize();
    frame.secondsRemaining = totals.GetEstimatedSecondsRemaining();
    frame.pending = queue.GetPendingCount();
    frame.total = total;
    frame.paused = queue.IsPaused();
    return frame;
}

// The HOST[:PORT] in a Server value given as a URL ("http://host:81/path" gives "host:81"), empty
// when the value is a host already. The base URI puts "http://" and "/" around the value, so a
// scheme or a path in it would make a URI that names no server.
std::string HostOfServerURL(const std::string& server) {
    size_t scheme = server.find("://");
    if (scheme == std::string::npos && server.find('/') == std::string::npos)
        return "";
    std::string rest = scheme == std::string::npos ? server : server.substr(scheme + 3);
    return rest.substr(0, rest.find('/'));
}

} // namespace

int RunUpload(const PluginParameters& given, const std::vector<std::string>& paths, const UploadOptions& options) {
    PluginParameters parameters = given;
    if (parameters.d_server.empty())
        throw CUsageError(HostText(host_text::kUploadNeedsServer));
    if (std::string host = HostOfServerURL(parameters.d_server);
        !host.empty() || parameters.d_server.find('/') != std::string::npos)
        throw CUsageError(
            HostText(host_text::kServerNotAHost, {parameters.d_server, host.empty() ? "HOST[:PORT]" : host}));
    if (paths.empty() && !options.resume)
        throw CUsageError(HostText(host_text::kUploadNeedsPath));
    parameters.ClampMaxConnections();

    PictureList list = CollectPictures(paths);
    // Before the engine, so that it outlives every sender thread that records in it.
    CUploadJournal journal(CUploadJournal::DefaultPath(), parameters, [](const std::string& text) {
        std::cerr << "pxupload: " << HostText(host_text::kJournalUnusable, {text}) << "\n";
    });
    if (options.resume)
        AddUnfinished(journal, list);
    for (const std::string& problem : list.problems)
        std::cerr << "pxupload: " << problem << "\n";
    if (list.pictures.empty()) {
        std::cerr << "pxupload: " << HostText(options.resume && paths.empty() ? host_text::kNothingToResume
                                                                            : host_text::kNothingToDo)
                  << "\n";
        return kExitSomeFailed;
    }

    // Before the engine, so that it outlives every sender thread that may set it.
    CEvent changed;
    PxUploadEngine engine(parameters, IsPictureFile, [](bool proxy, const CException& error) {
        std::cerr << "pxupload: "
                  << HostText(proxy ? host_text::kProxyAuthFailed : host_text::kAuthFailed, {error.GetText()})
                  << "\n";
    });
    engine.GetEndpoint().GetRateLimit().SetBytesPerSecond(options.rateLimit);
    UploadQueue& queue = engine.GetQueue();
    queue.SetJournal(&journal);

    // Only wakes the loop below, which does the work on this thread.
    queue.GetSession().AddObserver([&changed] { changed.Set(); });
    // Ctrl-C and the other requests to end ask for a clean pause.
    platform::ConsoleInterruptWatch interrupts;

    // Paused while adding, so that every picture is in the journal before the first transfer starts.
    std::vector<std::pair<std::string, std::shared_ptr<UploadJob>>> jobs;
    size_t resumed = 0;
    bool refused = false;
    queue.Pause();
    for (size_t i = 0; i < list.pictures.size(); ++i) {
        const std::string& path = list.pictures[i];
        try {
            queue.Add(path, list.albums[i]);
        } catch (const CException& e) {
            std::cerr << "pxupload: " << e.GetText() << "\n";
            refused = true;
            continue;
        }
        if (std::shared_ptr<UploadJob> job = queue.Find(path)) {
            resumed += job->GetItem().GetImageID().empty() ? 0 : 1;
            jobs.emplace_back(path, std::move(job));
        }
    }
    queue.Resume();
    if (jobs.empty()) {
        std::cerr << "pxupload: " << HostText(host_text::kNotAdded) << "\n";
        return kExitSomeFailed;
    }
    CUploadReport report(std::move(jobs));

    const bool terminal = platform::IsOutputTerminal();
    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    CTerminalProgress progress(std::cout, platform::GetTerminalColumns(80));
    const size_t total = report.Jobs().size();
    std::cout << HostText(host_text::kUploading,
                          {CountedText(host_text::kPicture, total), parameters.d_server,
                           CountedText(host_text::kConnection, parameters.d_maxConnections)})
              << "\n";
    if (resumed > 0)
        std::cout << HostText(host_text::kResuming, {CountedText(host_text::kPicture, resumed)}) << "\n";
    std::cout.flush();

    const int64_t started = UploadJob::Now();
    CRetryPlan retries(options.retries);
    bool interrupted = false;
    CWaitSet waits({&changed});
    for (;;) {
        waits.Wait(kRefreshSeconds);
        changed.Reset();
        if (platform::ConsoleInterruptWatch::Requested()) {
            interrupted = true;
            break;
        }
        queue.Refresh();
        std::vector<std::string> lines;
        const double now = MonotonicSeconds();
        for (const auto& [path, job] : report.Jobs()) {
            double wait = 0;
            int attempt = 0;
            if (job->GetStatus() == UploadStatus::Failed && !report.IsTold(path) &&
                retries.Schedule(path, job->IsFailureTransient(), now, wait, attempt))
                lines.push_back(HostText(host_text::kRetrying,
                                         {path, std::to_string(static_cast<int>(std::lround(wait))),
                                          std::to_string(attempt), std::to_string(retries.GetRetries()),
                                          CUploadReport::OneLine(job->GetErrorText())}));
        }
        // A picture sent again counts as pending from the next refresh on.
        bool retried = false;
        for (const std::string& path : retries.TakeDue(now)) {
            if (std::shared_ptr<UploadJob> job = queue.Retry(path)) {
                report.Replace(path, std::move(job));
                retried = true;
            }
        }
        for (const std::string& line : report.TakeFinished([&retries](const std::string& path) {
                 return retries.IsScheduled(path);
             }))
            lines.push_back(line);
        for (const std::string& line : lines) {
            if (terminal)
                progress.Print(line);
            else
                std::cout << line << "\n";
        }
        if (queue.GetPendingCount() == 0 && !retries.IsWaiting() && !retried)
            break;
        if (terminal)
            progress.Draw(RenderProgress(MakeFrame(queue, total), times, platform::GetTerminalColumns(80)));
    }
    if (terminal)
        progress.Clear();
    if (interrupted) {
        std::cout << HostText(host_text::kInterrupted) << std::endl;
        // Stops every transfer and waits for each to end: nothing is left half-sent by us.
        queue.Pause();
        queue.Refresh();
        for (const std::string& line : report.TakeFinished())
            std::cout << line << "\n";
    }

    if (!interrupted && !queue.GetSession().WaitForStatistics(kStatisticsSeconds))
        std::cerr << "pxupload: " << HostText(host_text::kStatsUnsent) << "\n";

    size_t completed = report.Count(UploadStatus::Complete);
    size_t failed = report.Count(UploadStatus::Failed);
    size_t unfinished = report.Count(UploadStatus::Pending);
    int64_t seconds = UploadJob::Now() - started;
    std::cout << "\n"
              << HostText(
                     host_text::kSummary,
                     {std::to_string(completed), CountedText(host_text::kPicture, total),
                      CUploadReport::SizeText(report.CompletedBytes()),
                      CountedText(host_text::kSecond, static_cast<uint64_t>(std::max<int64_t>(seconds, 0)))})
              << "\n";
    if (failed > 0) {
        std::cout << HostText(host_text::kFailedHeader, {CountedText(host_text::kPicture, failed)}) << "\n";
        for (const auto& [path, job] : report.Jobs())
            if (job->GetStatus() == UploadStatus::Failed)
                std::cout << HostText(host_text::kFailedLine,
                                      {path, CUploadReport::OneLine(job->GetErrorText())})
                          << "\n";
    }
    if (unfinished > 0)
        std::cout << CountedText(host_text::kUnfinished, unfinished) << "\n";
    std::cout.flush();
    if (interrupted)
        return kExitInterrupted;
    return failed > 0 || refused || !list.problems.empty() ? kExitSomeFailed : 0;
}
