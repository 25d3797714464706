// A list of per-picture tasks run in order on a worker thread, with a counter ("%1 of %2") and a
// button that reads "Stop" while the run goes on and "Close" once it has finished. Stop drops the
// tasks not yet started; the one running finishes. The dialog ends with 0 when the run has finished.
// Templates: 130 "Removing..." (counter 1020) and 141 "Processing..." (counter 1034).
//
// Threads: CProgressRun's counters, finished flag and failures are written by its worker under
// m_lock and read by any thread; its change callback runs on the worker. The dialog lives on the UI
// thread and hears of changes through the application's cross-thread calls.
#pragma once

#include "foundation/event.h"
#include "foundation/job_queue.h"
#include "ui/dialog.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CUploadSelection;

class CProgressRun {
public:
    using Task = std::function<void()>;

    // `onChange` is called on the worker after each task and when the run finishes.
    CProgressRun(std::string counterTemplate, std::function<void()> onChange);
    // Drops the waiting tasks and waits for the running one.
    ~CProgressRun();
    CProgressRun(const CProgressRun&) = delete;
    CProgressRun& operator=(const CProgressRun&) = delete;

    // Queues the tasks (once per run); an empty list finishes at once.
    void Start(std::vector<Task> tasks);
    // Drops the tasks not yet started; the run finishes when the running one ends.
    void Stop();

    size_t GetQueuedCount() const;
    size_t GetDoneCount() const;
    bool IsFinished() const;
    // The texts of the tasks that failed, in order.
    std::vector<std::string> GetFailures() const;
    // The template with %1 = done and %2 = queued, or "" while nothing is queued and the run goes on.
    std::string GetCounterText() const;
    // Waits until the run has finished; false when `timeout` seconds passed first (negative: no limit).
    bool WaitFinished(double timeout = -1);

private:
    struct Slot {
        CProgressRun* run;
        size_t index;
    };
    static void RunTask(void* slot);
    static void RunFinish(void* run);
    void Finish();

    const std::string m_template;
    const std::function<void()> m_onChange;
    std::vector<Task> m_tasks;
    std::vector<Slot> m_slots;
    mutable std::mutex m_lock;
    size_t m_queued = 0;                 // guarded by m_lock
    size_t m_done = 0;                   // guarded by m_lock
    bool m_started = false;              // guarded by m_lock
    std::vector<std::string> m_failures; // guarded by m_lock
    // Set once by the finishing job; its one worker thread runs the finishing jobs one at a time.
    CEvent m_finished;
    CJobQueue m_worker{1};
};

class CProgressDialog : public CUIDialog {
public:
    static constexpr uint32_t kRemovingTemplate = 130;
    static constexpr int kRemovingCounter = 1020;
    static constexpr uint32_t kProcessingTemplate = 141;
    static constexpr int kProcessingCounter = 1034;

    CProgressDialog();
    ~CProgressDialog() override;

    // Runs the tasks modally in the template's dialog; returns 0 once the run has finished.
    int Run(CUIWindow* owner, uint32_t templateId, int counterId, std::vector<CProgressRun::Task> tasks);

    // The run of the dialog while it is open (null before and after).
    CProgressRun* GetRun() const { return m_run.get(); }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

protected:
    void OnInit() override;
    bool OnCommand(int id, int notification) override;

private:
    void Refresh();

    int m_counterId = 0;
    std::vector<CProgressRun::Task> m_tasks;
    std::unique_ptr<CProgressRun> m_run;
    // Calls posted by the worker check this before touching the dialog (UI thread only).
    std::shared_ptr<bool> m_alive;
};

// One task per selected picture, in the selection's order, each taking its picture out of the
// selection and the upload queue.
std::vector<CProgressRun::Task> MakeRemovingTasks(CUploadSelection& selection);

// "Removing...": removes the selected pictures one at a time.
class CRemovingDialog {
public:
    int Run(CUIWindow* owner, CUploadSelection& selection);
};

// "Processing...": runs one task per file being added.
class CProcessingDialog {
public:
    int Run(CUIWindow* owner, std::vector<CProgressRun::Task> tasks);
};
