#include "apps/pxupload/host_window.h"

#include "apps/pxupload/host_texts.h"
#include "control/upload_plugin_ctrl.h"
#include "platform/file_system.h"
#include "platform/session_bus.h"
#include "platform/termination_signals.h"
#include "platform/window_system.h"
#include "ui/application.h"
#include "ui/color.h"
#include "ui/dialog.h"
#include "ui/drawable.h"
#include "ui/window.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace {

constexpr int kExitUsage = 2;
// The page around the control, on every side.
constexpr int kPageMargin = 8;
// How often a close that waits for modal dialogs looks again.
constexpr int kCloseRetryMs = 50;

constexpr uint32_t kStringWindowTitle = 10300;
constexpr uint32_t kStringNoBusName = 10301;
constexpr uint32_t kStringNoDisplay = 10302;

// The frame that stands for the page: it paints the page colour around the control, keeps the control
// filling it less the margin, and ends the application's pump when it goes.
class CHostFrame : public CUIWindow {
public:
    explicit CHostFrame(const PluginParameters& parameters)
        : m_pageColor(CUIColor::FromString(parameters.d_pageColor)), m_control(parameters) {}
    ~CHostFrame() override {
        if (m_closeWatch != nullptr)
            CUIApplication::Get()->RemoveTimer(m_closeWatch);
    }

    void Create(const PageObjectSize& size) {
        CreateTopLevel(HostText(kStringWindowTitle));
        SetClientSize({size.width + 2 * kPageMargin, size.height + 2 * kPageMargin});
        m_control.Create(*this,
                         {kPageMargin, kPageMargin, kPageMargin + size.width, kPageMargin + size.height});
        m_control.Show();
        Show();
    }

    CUploadPluginCtrl& GetControl() { return m_control; }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override {
        switch (message.message) {
        case ui::kWmSize:
            PlaceControl(ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam));
            return true;
        case ui::kWmPaint:
            Paint();
            return true;
        case ui::kWmClose:
            // A modal dialog's loop is on the stack, in code of the list that the tear-down would
            // delete under it: the dialogs end first, then the window closes.
            if (CUIDialog::GetModalDepth() > 0) {
                WatchClose();
                return true;
            }
            return false;
        case ui::kWmDestroy:
            // The control hears of its end after its frame, and tears down before the pump stops.
            CUIApplication::Get()->Quit(0);
            return false;
        default:
            (void)result;
            return false;
        }
    }

private:
    // Ends the modal dialogs one by one, as their Cancel would, and closes the window once none is left.
    class CloseWatch : public CUITimerHandler {
    public:
        explicit CloseWatch(CHostFrame& frame) : m_frame(frame) {}
        void OnTimer() override {
            if (CUIDialog::GetModalDepth() == 0) {
                m_frame.m_closeWatch = nullptr;
                m_frame.PostMessage(ui::kWmClose);
                CUIApplication::Get()->RemoveTimer(this); // deletes this after the timer scan
                return;
            }
            EndFocusedDialog();
        }

    private:
        // The modal dialog that has the focus, ended with Cancel; a box of the native layer, which
        // runs its own loop, is left for the user to answer.
        static void EndFocusedDialog() {
            platform::WindowSystem& system = CUIApplication::Get()->GetWindowSystem();
            for (platform::NativeWindow window = system.GetFocus(); window != nullptr;
                 window = system.GetParent(window)) {
                auto* dialog = dynamic_cast<CUIDialog*>(CUIWindow::FromHandle(window));
                if (dialog != nullptr && CUIDialog::IsOnModalStack(dialog)) {
                    dialog->End(ui::kIdCancel);
                    return;
                }
            }
        }

        CHostFrame& m_frame;
    };

    void WatchClose() {
        if (m_closeWatch != nullptr)
            return;
        m_closeWatch = new CloseWatch(*this);
        CUIApplication::Get()->AddTimer(m_closeWatch, kCloseRetryMs);
    }

    void PlaceControl(int width, int height) {
        if (m_control.GetHandle() == nullptr)
            return;
        m_control.Move({kPageMargin, kPageMargin, std::max(width - kPageMargin, kPageMargin + 1),
                        std::max(height - kPageMargin, kPageMargin + 1)});
    }

    void Paint() {
        PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) {
            dc.SetColor(m_pageColor);
            dc.FillRect(GetClientRect());
        });
    }

    CUIColor m_pageColor;
    CUploadPluginCtrl m_control;
    CloseWatch* m_closeWatch = nullptr; // owned by the application while a close waits
};

std::vector<std::string> FullPaths(const std::vector<std::string>& paths) {
    std::vector<std::string> full;
    for (const std::string& path : paths)
        full.push_back(platform::MakeAbsolutePath(path).value_or(path));
    return full;
}

} // namespace

bool CanRunHostWindow() {
    return platform::GetNativeWindowSystem() != nullptr;
}

int RunHostWindow(const PluginParameters& parameters, const PageObjectSize& size,
                  const std::vector<std::string>& paths, uint64_t rateLimit) {
    platform::WindowSystem* system = platform::GetNativeWindowSystem();
    if (system == nullptr) {
        std::cerr << "pxupload: " << HostText(kStringNoDisplay) << "\n";
        return kExitUsage;
    }
    CUIApplication application(*system);
    CHostFrame frame(parameters);
    frame.GetControl().SetRateLimit(rateLimit);
    frame.Create(size);

    std::string busError;
    std::unique_ptr<platform::SessionBusService> bus = platform::SessionBusService::Start(
        {kHostBusName, kHostObjectPath, kHostInterface, "isUploadComplete"},
        [&frame] { return frame.GetControl().isUploadComplete(); }, busError);
    if (!bus)
        std::cerr << "pxupload: " << HostText(kStringNoBusName, {kHostBusName, busError}) << "\n";

    // A request to end closes the window, as its close button would.
    std::unique_ptr<platform::TerminationSignals> signals = platform::TerminationSignals::Watch([&frame] {
        if (frame.GetHandle() != nullptr)
            frame.PostMessage(ui::kWmClose);
    });

    frame.GetControl().AddFiles(FullPaths(paths));
    int status = application.Run();
    // The bus answers nothing once the control is gone.
    bus.reset();
    signals.reset();
    return status;
}
