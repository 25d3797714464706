// The control object: a child window in the page that holds the page's parameters, builds the upload
// engine and the upload list in itself when its window is created, runs the start-up task, answers
// the page's isUploadComplete, and tears everything down in a fixed order when its window goes. When
// start-up fails it shows the error text in place of the list.
//
// Ownership: the control owns everything it builds (the engine with its socket library, queue and
// selection; the dialogs; the upload list; the authorization listener); the application owns the
// periodic timer's handler and the start-up task, which the control cancels at tear-down.
//
// Threads: the UI thread only. The authorization report comes on a worker thread and reaches the UI
// thread through the application's cross-thread calls.
#pragma once

#include "control/startup_task.h"
#include "ui/window.h"
#include "upload/plugin_parameters.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CAuthorizationListener;
class CUIDrawableRep;
class CStandardUploadListDialogs;
class CUploadJournal;
class CUploadListView;
class PxUploadEngine;

class CUploadPluginCtrl : public CUIWindow, private IStartupSite {
public:
    // The periodic timer's interval: each tick posts the application's pending-work message.
    static constexpr int kTaskTimerId = 2;
    static constexpr int kTaskTimerIntervalMs = 200;

    // Builds the engine objects from the parameters, with the report of a failed authorization; the
    // default builds PxUploadEngine itself (tests give one that fails).
    using EngineFactory = std::function<std::unique_ptr<PxUploadEngine>(
        const PluginParameters& parameters, std::function<void(bool proxy, const CException& error)> report)>;

    explicit CUploadPluginCtrl(const PluginParameters& parameters, EngineFactory makeEngine = {});
    ~CUploadPluginCtrl() override;

    // The control's window as a child of the page's at `rect`; its creation builds the engine and the
    // list (errors become the text the control shows). The caller then shows it.
    void Create(CUIWindow& parent, const CUIRect& rect);

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

    // Keyboard messages (256 to 264) go to the upload list first; true when it used the message.
    bool TranslateAccelerator(const ui::Message& message);

    // 1 when the queue exists and reports its run complete, else 0. Never fails, never waits.
    int32_t isUploadComplete() const;

    // Files for the queue, as if dropped on the list; nothing when start-up failed.
    void AddFiles(const std::vector<std::string>& paths);
    // A cap in bytes per second on all the control's connections together, 0 for none; given before
    // Create, it holds from the first byte.
    void SetRateLimit(uint64_t bytesPerSecond);

    const PluginParameters& GetParameters() const { return m_parameters; }
    // Empty unless start-up failed.
    const std::string& GetInitialisationError() const { return m_initialisationError; }
    CUploadListView* GetList() const { return m_list.get(); }

    // What the control paints of itself into its client rectangle: the background and, when start-up
    // failed, the error text centred (text taller than the control starts at its top).
    void PaintContent(CUIDrawableRep& dc, const CUIRect& client) const;

private:
    class TaskTimer;

    void OnCreate();
    void Initialise();
    void Shutdown();
    // The pictures an earlier run of this session left unfinished go back into the queue.
    void RestoreUnfinished();
    void Paint();

    // IStartupSite
    void SetBusy(bool busy) override;
    void ShowMessage(const std::string& caption, const std::string& text) override;
    int RunPreferences() override;
    void ReportAddError(const std::string& path, const CException& error) override;
    void ShowInitialisationError(const std::string& text) override;

    PluginParameters m_parameters;
    EngineFactory m_makeEngine;
    std::string m_initialisationError;

    // Built by Initialise, gone after Shutdown; declared in the order they are built.
    std::unique_ptr<CAuthorizationListener> m_authorization;
    std::unique_ptr<CUploadJournal> m_journal; // outlives the queue that records in it
    uint64_t m_rateLimit = 0;
    std::unique_ptr<PxUploadEngine> m_engine;
    std::unique_ptr<CStandardUploadListDialogs> m_dialogs;
    std::unique_ptr<CUploadListView> m_list;
    TaskTimer* m_timer = nullptr; // owned by the application
    std::shared_ptr<CStartupCancellation> m_startup;
};
