// The native window system as the toolkit drives it: windows and their user-data slot, a message queue
// of the toolkit's own records (ui/messages.h), the wait on that queue together with one native
// event, the thread timer, painting, dialogs built from templates, and the standard boxes. The toolkit
// talks to it only through this interface, so that its logic runs over any implementation: the GTK
// one (window_system_gtk.cpp) today, a Win32 one later, and the scripted one of its unit tests.
//
// Threads: every operation belongs to the thread that created the toolkit's application object (the
// UI thread); the GTK implementation asserts it in debug builds. Worker threads reach that thread only
// through the application's cross-thread call queue.
#pragma once

#include "platform/native_event.h"
#include "platform/native_handles.h"
#include "ui/geometry.h"
#include "ui/messages.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A window procedure: what DispatchMessage and SendMessage call for a window.
using WindowProc = ui::LResult (*)(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                                   ui::LParam lParam);

enum class WaitResult { Event, Input, Timeout, Failed };

// What BeginPaint gives during a WM_PAINT: the drawing target of the paint, clipped to the damaged
// area, and the damaged area's bounds in client coordinates. Valid until EndPaint.
struct PaintInfo {
    NativeDC dc = nullptr;
    CUIRect update;
};

// A dialog template as the resource compiler stores it, decoded: sizes in dialog units.
enum class ControlKind { Button, DefaultButton, CheckBox, RadioButton, GroupBox, Label, Edit, ListBox };

// Edit and radio styles that the native layer honours (the other bits of the template are kept).
inline constexpr uint32_t kStyleGroup = 0x00020000; // first radio button of a group
inline constexpr uint32_t kStyleTabStop = 0x00010000;
inline constexpr uint32_t kStyleDisabled = 0x08000000;
inline constexpr uint32_t kEditMultiLine = 0x0004;
inline constexpr uint32_t kEditPassword = 0x0020;
inline constexpr uint32_t kEditReadOnly = 0x0800;
inline constexpr uint32_t kEditNumber = 0x2000;

struct DialogControl {
    int id = 0;
    ControlKind kind = ControlKind::Label;
    std::string text;
    uint32_t style = 0;
    CUIRect rect; // dialog units
};

struct DialogTemplate {
    uint32_t id = 0;
    std::string caption;
    CUISize size; // dialog units
    std::string fontFace;
    int fontPoints = 8;
    std::vector<DialogControl> controls;
};

// Message-box flags, as MessageBoxA takes them.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbIconHand = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;
inline constexpr uint32_t kMbIconAsterisk = 0x40;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr uint32_t kMbDefButton3 = 0x200;

// A popup menu as the toolkit hands it over to be shown: items in order, a sub-menu's items nested.
// Texts mark their mnemonic with "&" ("&&" is a literal ampersand).
struct MenuItem {
    enum class Kind { Command, Separator, SubMenu };
    Kind kind = Kind::Command;
    int id = 0;
    std::string text;
    bool checked = false;
    bool enabled = true;
    std::vector<MenuItem> items; // of a sub-menu
};

// TrackPopupMenu flags: with kTpmReturnCmd the chosen id is returned and nothing is posted; without it
// the choice is posted to the owner as WM_COMMAND (id, 0) and the result says whether one was made.
inline constexpr uint32_t kTpmReturnCmd = 0x0100;

// Pointer shapes a window can show.
enum class CursorShape { Arrow, Wait, Hand };

// What an open-file or folder chooser is asked for. Filters are (name, patterns) pairs, patterns
// separated by ";".
struct FileChooserOptions {
    std::string title;
    std::string startFolder;
    std::vector<std::pair<std::string, std::string>> filters;
    bool multiple = false;
    bool folders = false; // choose folders instead of files
    // A line shown above the chooser's files, and a status line below them that follows the folder
    // selected (the function gives its text); both are left out when empty.
    std::string prompt;
    std::function<std::string(const std::string& folder)> statusText;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Queue. PeekMessage takes the oldest record (remove semantics). Posting to a window that does not
    // exist does nothing.
    virtual bool PeekMessage(ui::Message& message) = 0;
    virtual void PostMessage(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                             ui::LParam lParam) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;
    // Whether a record of that number for that window is queued now.
    virtual bool HasQueuedMessage(NativeWindow window, ui::MessageId message) = 0;
    // Waits until the event's handle is readable or input is queued, for at most timeoutMs (negative:
    // for ever; 0: looks without waiting). Native events that arrive meanwhile are turned into records.
    virtual WaitResult MsgWait(NativeWaitHandle event, int timeoutMs) = 0;
    // The time of the record taken last.
    virtual uint32_t GetMessageTime() = 0;
    // Calls the window procedure of the record's window; a thread message goes nowhere.
    virtual ui::LResult DispatchMessage(const ui::Message& message) = 0;
    virtual ui::LResult SendMessage(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                                    ui::LParam lParam) = 0;
    // Keyboard navigation of a dialog: true when the dialog consumed the record.
    virtual bool IsDialogMessage(NativeWindow dialog, const ui::Message& message) = 0;

    // A timer of the thread: its ticks arrive as WM_TIMER records without a window, wParam the id.
    virtual uintptr_t SetThreadTimer(unsigned intervalMs) = 0;
    virtual void KillThreadTimer(uintptr_t id) = 0;

    // Windows. A top-level window is a frame with a title; a child window is an own-drawn area inside
    // its parent, placed by MoveWindow.
    virtual NativeWindow CreateTopLevelWindow(const std::string& title, NativeWindow owner) = 0;
    virtual NativeWindow CreateChildWindow(NativeWindow parent) = 0;
    virtual void DestroyWindow(NativeWindow window) = 0;
    virtual bool IsWindow(NativeWindow window) = 0;
    virtual NativeWindow GetParent(NativeWindow window) = 0;

    virtual void SetUserData(NativeWindow window, void* data) = 0;
    virtual void* GetUserData(NativeWindow window) = 0;
    virtual void SetWindowProc(NativeWindow window, WindowProc proc) = 0;
    virtual WindowProc GetWindowProc(NativeWindow window) = 0;
    // What a window does with a record its procedure does not handle (WM_CLOSE destroys it).
    virtual ui::LResult DefWindowProc(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                                      ui::LParam lParam) = 0;

    // Geometry in pixels: a child's rectangles are in its parent's client coordinates, a top-level's
    // on the screen.
    virtual void MoveWindow(NativeWindow window, const CUIRect& rect) = 0;
    virtual void SetClientSize(NativeWindow window, CUISize size) = 0;
    virtual CUIRect GetWindowRect(NativeWindow window) = 0;
    virtual CUIRect GetClientRect(NativeWindow window) = 0;
    virtual CUIPoint ClientToScreen(NativeWindow window, CUIPoint point) = 0;
    virtual void ShowWindow(NativeWindow window, bool show) = 0;
    virtual bool IsWindowVisible(NativeWindow window) = 0;
    virtual void EnableWindow(NativeWindow window, bool enable) = 0;
    virtual bool IsWindowEnabled(NativeWindow window) = 0;
    virtual void SetFocus(NativeWindow window) = 0;
    virtual NativeWindow GetFocus() = 0;
    virtual void SetActiveWindow(NativeWindow window) = 0;
    virtual void SetCapture(NativeWindow window) = 0;
    virtual void ReleaseCapture() = 0;
    virtual NativeWindow GetCapture() = 0;
    virtual void SetWindowText(NativeWindow window, const std::string& text) = 0;
    virtual std::string GetWindowText(NativeWindow window) = 0;

    // Painting: a null rectangle is the whole client area. A WM_PAINT is sent while the native layer
    // repaints damaged areas; BeginPaint inside it gives the paint's target.
    virtual void InvalidateRect(NativeWindow window, const CUIRect* rect) = 0;
    virtual void ValidateRect(NativeWindow window, const CUIRect* rect) = 0;
    virtual bool BeginPaint(NativeWindow window, PaintInfo& info) = 0;
    virtual void EndPaint(NativeWindow window) = 0;

    // Dialogs: a top-level window with the template's controls; WM_INITDIALOG is not sent (the toolkit
    // sets the dialog up itself once bound).
    virtual NativeWindow CreateDialog(NativeWindow owner, const DialogTemplate& dialog) = 0;
    // The pixels of 4 horizontal and 8 vertical dialog units of that dialog: its font's average
    // character width and its height.
    virtual CUISize GetDialogBaseUnits(NativeWindow dialog) = 0;
    virtual NativeWindow GetDlgItem(NativeWindow dialog, int id) = 0;
    virtual int GetDlgCtrlID(NativeWindow control) = 0;
    virtual void CheckDlgButton(NativeWindow dialog, int id, bool checked) = 0;
    virtual bool IsDlgButtonChecked(NativeWindow dialog, int id) = 0;
    // Whether the user may change a single-line edit's text; a read-only edit is painted in the
    // dialog's colours, as a disabled one is. Controls other than edits ignore it.
    virtual void SetEditReadOnly(NativeWindow control, bool readOnly) { (void)control, (void)readOnly; }
    virtual bool IsEditReadOnly(NativeWindow control) {
        (void)control;
        return false;
    }

    // A modal message box; the result is one of ui::kIdOk... 0 when it could not be shown.
    virtual int MessageBox(NativeWindow owner, const std::string& text, const std::string& caption,
                           uint32_t flags) = 0;

    // Shows the menu at a screen point and runs until it is dismissed or an item is chosen (see
    // kTpmReturnCmd). Dismissed: 0. An implementation without menus shows nothing and returns 0.
    virtual int TrackPopupMenu(const std::vector<MenuItem>& menu, uint32_t flags, CUIPoint screen,
                               NativeWindow owner) {
        (void)menu, (void)flags, (void)screen, (void)owner;
        return 0;
    }

    // Drop target for files: while accepted, a drop of text/uri-list with local files sends
    // WM_DROPFILES to the window: wParam points to a std::vector<std::string> of the paths (valid
    // during the call), lParam the drop point in client coordinates. A drag entering or leaving sends
    // ui::kWmDragOver with wParam 1 or 0.
    virtual void AcceptDrops(NativeWindow window, bool accept) { (void)window, (void)accept; }

    // Clipboard text (UTF-8); nothing when the clipboard holds no text.
    virtual void SetClipboardText(const std::string& text) { (void)text; }
    virtual std::optional<std::string> GetClipboardText() { return std::nullopt; }

    // The pointer shape over a window, and the one it shows now (Arrow for a window never set).
    virtual void SetCursor(NativeWindow window, CursorShape shape) { (void)window, (void)shape; }
    virtual CursorShape GetCursor(NativeWindow window) {
        (void)window;
        return CursorShape::Arrow;
    }

    // The tip shown when the pointer rests on a window; empty for none. An own-drawn window changes it
    // as the pointer moves between the parts it draws.
    virtual void SetToolTip(NativeWindow window, const std::string& text) { (void)window, (void)text; }

    // A modal open-file or folder chooser: the chosen paths, empty when it was cancelled.
    virtual std::vector<std::string> ChooseFiles(NativeWindow owner, const FileChooserOptions& options) {
        (void)owner, (void)options;
        return {};
    }
};

// The implementation of this build (GTK on Linux), made on first use on the calling thread, which
// becomes the UI thread. Null when no display can be opened.
WindowSystem* GetNativeWindowSystem();

} // namespace platform
