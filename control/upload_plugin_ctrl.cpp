#include "control/upload_plugin_ctrl.h"

#include "control/authorization_listener.h"
#include "control/registered_picture.h"
#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/preferences.h"
#include "foundation/string_format.h"
#include "platform/resources.h"
#include "ui/application.h"
#include "ui/color.h"
#include "ui/drawable.h"
#include "ui/font.h"
#include "ui/message_box.h"
#include "upload/upload_engine.h"
#include "upload/upload_journal.h"
#include "views/standard_upload_list_dialogs.h"
#include "views/transfer_status_dialog.h"
#include "views/upload_list_view.h"

#include <algorithm>

namespace {

constexpr uint32_t kStringCreateFailed = 10035; // "Failed to initialize plugin:\n%1"
constexpr uint32_t kStringInitialisationCaption = 10076;
constexpr uint32_t kStringInitialisationError = 10077;

// The keyboard messages a container offers its control before dispatching them.
constexpr ui::MessageId kFirstKeyMessage = 256;
constexpr ui::MessageId kLastKeyMessage = 264;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t start = 0;;) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            return lines;
        start = end + 1;
    }
}

} // namespace

// Timer 2: keeps the application's pending work (tasks, cross-thread calls) moving while a host's
// loop, not ours, pumps the thread.
class CUploadPluginCtrl::TaskTimer : public CUITimerHandler {
public:
    explicit TaskTimer(CUploadPluginCtrl& control) : m_control(control) {}
    void OnTimer() override {
        if (m_control.GetHandle() != nullptr)
            m_control.PostMessage(ui::kWmRunPendingWork);
    }

private:
    CUploadPluginCtrl& m_control;
};

CUploadPluginCtrl::CUploadPluginCtrl(const PluginParameters& parameters, EngineFactory makeEngine)
    : m_parameters(parameters), m_makeEngine(std::move(makeEngine)) {
    if (!m_makeEngine)
        m_makeEngine = [](const PluginParameters& given,
                          std::function<void(bool, const CException&)> report) {
            return std::make_unique<PxUploadEngine>(given, &IsRegisteredPicture, std::move(report));
        };
}

CUploadPluginCtrl::~CUploadPluginCtrl() {
    // A window destroyed by its frame has torn down already; one destroyed by this object does so now.
    Shutdown();
}

void CUploadPluginCtrl::Create(CUIWindow& parent, const CUIRect& rect) {
    CreateChild(parent);
    Move(rect);
    // The native layer tells a window of its creation only by binding it; the control's creation
    // message is sent here, once the window is bound, as the system would send it.
    SendMessage(ui::kWmCreate);
}

bool CUploadPluginCtrl::HandleMessage(const ui::Message& message, ui::LResult& result) {
    switch (message.message) {
    case ui::kWmCreate:
        OnCreate();
        result = 0;
        return true;
    case ui::kWmDestroy:
        Shutdown();
        return false;
    case ui::kWmSize:
        if (m_list)
            m_list->Move({0, 0, ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)});
        return true;
    case ui::kWmSetFocus:
        if (m_list)
            m_list->SetFocus();
        return false;
    case ui::kWmPaint:
        Paint();
        return true;
    case ui::kWmRunPendingWork:
    case ui::kWmCommand:
        if (CUIApplication* application = CUIApplication::Get())
            return application->HandleHostedMessage(message.message, message.wParam, message.lParam);
        return false;
    default:
        return false;
    }
}

void CUploadPluginCtrl::OnCreate() {
    try {
        Initialise();
        return;
    } catch (const CException& error) {
        m_initialisationError = SubstituteArgs(platform::LoadText(kStringCreateFailed), {error.GetText()});
    } catch (...) {
        m_initialisationError =
            SubstituteArgs(platform::LoadText(kStringCreateFailed), {GetUnknownExceptionText()});
    }
    // Without its engine and list the control only shows why.
    Shutdown();
    Invalidate();
}

void CUploadPluginCtrl::Initialise() {
    CUIApplication& application = *CUIApplication::Get();
    m_parameters.ClampMaxConnections();

    // The socket library, the stored preferences with their proxy, the endpoint with its listeners,
    // the queue over its session and the selection "upload". The listener comes first: connections
    // report to it until the engine has stopped them.
    m_authorization = std::make_unique<CAuthorizationListener>();
    m_engine =
        m_makeEngine(m_parameters, [listener = m_authorization.get()](bool proxy, const CException& error) {
            listener->Report(proxy, error);
        });
    m_engine->GetEndpoint().GetRateLimit().SetBytesPerSecond(m_rateLimit);
    UploadQueue& queue = m_engine->GetQueue();

    // No hosting browser on this system: "View pictures" opens the user's browser instead.
    m_dialogs = std::make_unique<CStandardUploadListDialogs>(
        queue, CTransferStatusStyle::FromParameters(m_parameters), this);
    // Its failures go to the error log: uploading goes on without it.
    m_journal = std::make_unique<CUploadJournal>(
        CUploadJournal::DefaultPath(), m_parameters,
        [dialogs = m_dialogs.get()](const std::string& text) { dialogs->GetErrorLog().Append(text); });
    queue.SetJournal(m_journal.get());
    m_list = std::make_unique<CUploadListView>(m_engine->GetSelection(), *m_dialogs, m_parameters);
    queue.Pause();
    CNameValueDocument preferences;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
        // Unreadable preferences leave the defaults.
    }
    m_list->ReadState(preferences);
    m_list->Create(*this);
    m_list->Move(GetClientRect());
    m_list->Show();
    application.SetMainWindow(m_list->GetHandle());
    RestoreUnfinished();

    m_timer = new TaskTimer(*this);
    application.AddTimer(m_timer, kTaskTimerIntervalMs);

    const bool automaticStart = DecideAutomaticStart(m_parameters.d_overrideUserPrefs, m_parameters.d_paused,
                                                     GetAutoStart(preferences));
    m_startup = std::make_shared<CStartupCancellation>();
    auto task =
        std::make_unique<StartupTask>(static_cast<IStartupSite&>(*this), queue, m_startup, automaticStart);
    task->Append(std::make_unique<ServerCheckTask>(m_parameters.d_server));
    if (!m_parameters.d_uploadSpec.empty())
        task->Append(std::make_unique<UploadSpecTask>(m_parameters.d_uploadSpec));
    application.PostTask(task.release());
}

void CUploadPluginCtrl::Shutdown() {
    CUIApplication* application = CUIApplication::Get();
    // Stops and waits for every sender thread before anything they use goes.
    if (m_engine)
        m_engine->GetQueue().Pause();
    if (m_startup) {
        m_startup->Cancel();
        m_startup.reset();
    }
    // Pending-work messages still queued for the window are dropped with it by the window system.
    if (m_timer != nullptr) {
        if (application != nullptr)
            application->RemoveTimer(m_timer);
        m_timer = nullptr;
    }
    if (m_list) {
        try {
            // Stored preferences that cannot be read are not overwritten with defaults.
            CNameValueDocument preferences;
            LoadPreferences(preferences);
            m_list->WriteState(preferences);
            SavePreferences(preferences);
        } catch (...) {
            // The column state is not worth a failure of the tear-down.
        }
        if (application != nullptr && application->GetMainWindow() == m_list->GetHandle())
            application->SetMainWindow(nullptr);
    }
    m_list.reset();
    if (m_engine)
        m_engine->GetQueue().SetJournal(nullptr);
    m_dialogs.reset();
    m_engine.reset();
    m_journal.reset();
    m_authorization.reset();
}

void CUploadPluginCtrl::RestoreUnfinished() {
    UploadQueue& queue = m_engine->GetQueue();
    for (const CUploadJournal::Picture& picture : m_journal->GetUnfinished()) {
        // A picture whose file is gone stays in the journal until the file is back.
        if (!queue.IsAcceptedPicture(picture.path))
            continue;
        try {
            queue.Add(picture.path, picture.albumName);
        } catch (const CException& error) {
            m_list->ReportAddError(picture.path, error);
        }
    }
}

bool CUploadPluginCtrl::TranslateAccelerator(const ui::Message& message) {
    if (message.message < kFirstKeyMessage || message.message > kLastKeyMessage || !m_list)
        return false;
    return m_list->TranslateAccelerator(message);
}

int32_t CUploadPluginCtrl::isUploadComplete() const {
    return m_engine && m_engine->GetQueue().IsComplete() ? 1 : 0;
}

void CUploadPluginCtrl::SetRateLimit(uint64_t bytesPerSecond) {
    m_rateLimit = bytesPerSecond;
    if (m_engine)
        m_engine->GetEndpoint().GetRateLimit().SetBytesPerSecond(bytesPerSecond);
}

void CUploadPluginCtrl::AddFiles(const std::vector<std::string>& paths) {
    if (m_list && !m_list->IsDisabled())
        m_list->AddFiles(paths);
}

void CUploadPluginCtrl::Paint() {
    PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) { PaintContent(dc, GetClientRect()); });
}

void CUploadPluginCtrl::PaintContent(CUIDrawableRep& dc, const CUIRect& client) const {
    dc.SetColor(CUIColor::FromString(m_parameters.d_backgroundColor));
    dc.FillRect(client);
    if (m_list || m_initialisationError.empty())
        return;
    dc.SetFont(CUIFont::kDialogFont);
    dc.SetColor(CUIColor::FromString(m_parameters.d_edgeColor));
    const std::vector<std::string_view> lines = Lines(m_initialisationError);
    const int lineHeight = dc.GetTextMetrics().height;
    const int textHeight = lineHeight * static_cast<int>(lines.size());
    // Text taller than the control starts at its top rather than above it.
    int y = client.top + std::max((client.Height() - textHeight) / 2, 0);
    for (std::string_view line : lines) {
        const int width = dc.MeasureText(line).cx;
        dc.DrawText({client.left + std::max((client.Width() - width) / 2, 0), y}, line);
        y += lineHeight;
    }
}

// --- IStartupSite --------------------------------------------------------------------------------

void CUploadPluginCtrl::SetBusy(bool busy) {
    if (m_list)
        m_list->SetBusy(busy);
}

void CUploadPluginCtrl::ShowMessage(const std::string& caption, const std::string& text) {
    CUIMessageBox(caption, text, CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Exclamation)
        .Show(m_list ? static_cast<CUIWindow*>(m_list.get()) : this);
}

int CUploadPluginCtrl::RunPreferences() {
    if (!m_dialogs)
        return 0;
    // The server check opens the dialog at the stored folder: the list has chosen none yet.
    CNameValueDocument preferences;
    try {
        LoadPreferences(preferences);
    } catch (const CException&) {
        // The dialog loads them again and reports the failure itself.
    }
    return m_dialogs->RunPreferences(m_list ? static_cast<CUIWindow&>(*m_list) : *this,
                                     GetBrowseDir(preferences));
}

void CUploadPluginCtrl::ReportAddError(const std::string& path, const CException& error) {
    if (m_list)
        m_list->ReportAddError(path, error);
}

void CUploadPluginCtrl::ShowInitialisationError(const std::string& text) {
    if (m_list)
        m_list->SetDisabled(true);
    CUIMessageBox(platform::LoadText(kStringInitialisationCaption),
                  SubstituteArgs(platform::LoadText(kStringInitialisationError), {text}),
                  CUIMessageBox::Buttons::Ok, CUIMessageBox::Icon::Stop)
        .Show(m_list ? static_cast<CUIWindow*>(m_list.get()) : this);
}
