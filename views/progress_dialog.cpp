#include "views/progress_dialog.h"

#include "foundation/exception.h"
#include "foundation/string_format.h"
#include "platform/resources.h"
#include "ui/application.h"
#include "ui/messages.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"

namespace {
constexpr uint32_t kStringStop = 10040;
constexpr uint32_t kStringClose = 10039;

} // namespace

CProgressRun::CProgressRun(std::string counterTemplate, std::function<void()> onChange)
    : m_template(std::move(counterTemplate)), m_onChange(std::move(onChange)) {}

CProgressRun::~CProgressRun() {
    m_worker.CancelAll();
    m_worker.WaitIdle();
}

void CProgressRun::Start(std::vector<Task> tasks) {
    {
        std::lock_guard lock(m_lock);
        if (m_started)
            return;
        m_started = true;
        m_tasks = std::move(tasks);
        m_slots.reserve(m_tasks.size());
        for (size_t i = 0; i < m_tasks.size(); ++i)
            m_slots.push_back({this, i});
    }
    // Counted as each task goes in, as the counter shows it; the finishing job comes last, so the
    // run cannot look finished while tasks are still being queued.
    for (Slot& slot : m_slots) {
        {
            std::lock_guard lock(m_lock);
            ++m_queued;
        }
        m_worker.QueueJob(&CProgressRun::RunTask, &slot);
    }
    m_worker.QueueJob(&CProgressRun::RunFinish, this);
}

void CProgressRun::Stop() {
    {
        std::lock_guard lock(m_lock);
        if (!m_started || m_finished.IsSet())
            return;
    }
    // The waiting tasks and the finishing job go; a new finishing job follows the running task.
    m_worker.CancelAll();
    m_worker.QueueJob(&CProgressRun::RunFinish, this);
}

void CProgressRun::RunTask(void* argument) {
    auto* slot = static_cast<Slot*>(argument);
    CProgressRun& run = *slot->run;
    std::string failure;
    try {
        run.m_tasks[slot->index]();
    } catch (const CException& e) {
        failure = e.GetText();
    } catch (...) {
        failure = GetUnknownExceptionText();
    }
    {
        std::lock_guard lock(run.m_lock);
        ++run.m_done;
        if (!failure.empty())
            run.m_failures.push_back(std::move(failure));
    }
    if (run.m_onChange)
        run.m_onChange();
}

void CProgressRun::RunFinish(void* argument) {
    static_cast<CProgressRun*>(argument)->Finish();
}

void CProgressRun::Finish() {
    if (m_finished.IsSet())
        return;
    m_finished.Set();
    if (m_onChange)
        m_onChange();
}

size_t CProgressRun::GetQueuedCount() const {
    std::lock_guard lock(m_lock);
    return m_queued;
}

size_t CProgressRun::GetDoneCount() const {
    std::lock_guard lock(m_lock);
    return m_done;
}

bool CProgressRun::IsFinished() const {
    return m_finished.IsSet();
}

std::vector<std::string> CProgressRun::GetFailures() const {
    std::lock_guard lock(m_lock);
    return m_failures;
}

std::string CProgressRun::GetCounterText() const {
    std::lock_guard lock(m_lock);
    if (m_queued == 0 && !m_finished.IsSet())
        return "";
    return SubstituteArgs(m_template, {std::to_string(m_done), std::to_string(m_queued)});
}

bool CProgressRun::WaitFinished(double timeout) {
    return m_finished.Lock(timeout);
}

CProgressDialog::CProgressDialog() : m_alive(std::make_shared<bool>(true)) {}

CProgressDialog::~CProgressDialog() {
    *m_alive = false;
    // The worker may still post calls while it winds down; they find the dialog gone.
    m_run.reset();
}

int CProgressDialog::Run(CUIWindow* owner, uint32_t templateId, int counterId,
                         std::vector<CProgressRun::Task> tasks) {
    m_counterId = counterId;
    m_tasks = std::move(tasks);
    Create(templateId, owner);
    int code = RunModal();
    // Finished: the worker is idle, and the run goes with the dialog's use.
    m_run.reset();
    return code;
}

void CProgressDialog::OnInit() {
    std::shared_ptr<bool> alive = m_alive;
    CUIApplication* app = CUIApplication::Get();
    m_run = std::make_unique<CProgressRun>(GetItemText(m_counterId), [this, alive, app] {
        app->PostCall([this, alive] {
            if (*alive)
                Refresh();
        });
    });
    SetItemText(ui::kIdCancel, platform::LoadText(kStringStop));
    m_run->Start(std::move(m_tasks));
    m_tasks.clear();
    Refresh();
}

void CProgressDialog::Refresh() {
    if (!m_run)
        return;
    std::string counter = m_run->GetCounterText();
    if (!counter.empty())
        SetItemText(m_counterId, counter);
    if (m_run->IsFinished()) {
        SetItemText(ui::kIdCancel, platform::LoadText(kStringClose));
        End(0);
    }
}

bool CProgressDialog::OnCommand(int id, int notification) {
    if (notification == ui::kBnClicked && id == ui::kIdCancel) {
        if (m_run && !m_run->IsFinished())
            m_run->Stop();
        else
            End(0);
        return true;
    }
    return CUIDialog::OnCommand(id, notification);
}

bool CProgressDialog::HandleMessage(const ui::Message& message, ui::LResult& result) {
    // Closing the frame stops the run like the button; the dialog ends once the worker has finished.
    if (message.message == ui::kWmClose) {
        OnCommand(ui::kIdCancel, ui::kBnClicked);
        return true;
    }
    return CUIDialog::HandleMessage(message, result);
}

std::vector<CProgressRun::Task> MakeRemovingTasks(CUploadSelection& selection) {
    std::vector<CProgressRun::Task> tasks;
    for (const std::string& path : selection.GetElements()) {
        tasks.push_back([&selection, path] {
            selection.Deselect(path);
            selection.GetQueue().Remove(path);
        });
    }
    return tasks;
}

int CRemovingDialog::Run(CUIWindow* owner, CUploadSelection& selection) {
    CProgressDialog dialog;
    return dialog.Run(owner, CProgressDialog::kRemovingTemplate, CProgressDialog::kRemovingCounter,
                      MakeRemovingTasks(selection));
}

int CProcessingDialog::Run(CUIWindow* owner, std::vector<CProgressRun::Task> tasks) {
    CProgressDialog dialog;
    return dialog.Run(owner, CProgressDialog::kProcessingTemplate, CProgressDialog::kProcessingCounter,
                      std::move(tasks));
}
