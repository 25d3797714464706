// The control's start-up task: once the engine and the upload list exist, it checks that the server's
// name resolves and adds the pictures of the page's upload specification, with the queue held paused
// meanwhile, and then lets uploading start when the page or the user's preferences ask for it.
//
// The task runs on the user-interface thread, as one step of the application's task runner. Its
// steps show modal boxes and dialogs, whose loops may dispatch the control's tear-down: the task then
// learns it from its cancellation, set by the tear-down, and touches nothing of the control again.
//
// Threads: the user-interface thread only.
#pragma once

#include "ui/application.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CException;
class UploadQueue;

// Whether the queue starts transferring once start-up is done: the page decides when it overrides the
// user's preferences (Paused keeps it paused), else the stored preference "autostart" does.
bool DecideAutomaticStart(bool overrideUserPrefs, bool paused, bool autostartPreference);

// What the start-up steps need of the control and its upload list.
class IStartupSite {
public:
    virtual ~IStartupSite() = default;
    // The list's wait state while a step runs.
    virtual void SetBusy(bool busy) = 0;
    // A modal box with these texts.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // The preferences dialog, modal; 1 when the user confirmed it.
    virtual int RunPreferences() = 0;
    // A picture of the upload specification that could not be added.
    virtual void ReportAddError(const std::string& path, const CException& error) = 0;
    // Start-up failed with this text: the control shows it and stays disabled for uploading.
    virtual void ShowInitialisationError(const std::string& text) = 0;
};

// Set by the control's tear-down; the task and its steps look at it after everything that may have
// run the pump.
class CStartupCancellation {
public:
    void Cancel() { m_cancelled = true; }
    bool IsCancelled() const { return m_cancelled; }

private:
    bool m_cancelled = false;
};

class CStartupStep {
public:
    virtual ~CStartupStep() = default;
    // The text of an error that stops the start-up, or nothing. Any exception it lets out is a failure
    // that does not stop the next step.
    virtual std::optional<std::string> Run(IStartupSite& site, UploadQueue& queue,
                                           const CStartupCancellation& cancellation) = 0;
};

// Resolves the server's name as a connection to it would (through the configured proxy), without
// sending anything. When that fails the user is told and offered the preferences (the proxy settings)
// until a try succeeds or the dialog is cancelled.
class ServerCheckTask : public CStartupStep {
public:
    // Raises what the name resolution raises; the socket library must be held.
    using Resolver = std::function<void(const std::string& uri)>;

    explicit ServerCheckTask(std::string server, Resolver resolve = {});
    std::optional<std::string> Run(IStartupSite& site, UploadQueue& queue,
                                   const CStartupCancellation& cancellation) override;

    // "http://" + server, resolved with the proxy as the connection's settings say.
    static void ResolveAsConnection(const std::string& uri);

private:
    std::string m_server;
    Resolver m_resolve;
};

// Adds the pictures that the page's upload specification file names: folders and files that are not
// pictures are skipped, an album name carries forward to the pictures after it, and the file is
// deleted once read (when it proved to be a specification).
class UploadSpecTask : public CStartupStep {
public:
    explicit UploadSpecTask(std::string path);
    std::optional<std::string> Run(IStartupSite& site, UploadQueue& queue,
                                   const CStartupCancellation& cancellation) override;

private:
    std::string m_path;
};

class StartupTask : public CUITask {
public:
    // The name the control runs it under, and cancels it by, at tear-down.
    static constexpr const char* kName = "StartUp";

    // `site` and `queue` are borrowed: they stay until `cancellation` is set.
    StartupTask(IStartupSite& site, UploadQueue& queue,
                std::shared_ptr<const CStartupCancellation> cancellation, bool automaticStart);

    void Append(std::unique_ptr<CStartupStep> step) { m_steps.push_back(std::move(step)); }

    // Runs every step at once; always finished.
    bool Run() override;

private:
    bool Cancelled() const { return m_cancellation->IsCancelled(); }

    IStartupSite& m_site;
    UploadQueue& m_queue;
    std::shared_ptr<const CStartupCancellation> m_cancellation;
    bool m_automaticStart;
    std::vector<std::unique_ptr<CStartupStep>> m_steps;
};
