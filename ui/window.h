// The base of every toolkit window: binds an object to a native window through the window's user-data
// slot, so that the toolkit's window procedure finds the object and lets it handle the window's
// messages. A window made by the toolkit is an own-drawn child; an existing native control can be
// bound too and "subclassed": its own procedure is remembered and still sees what the object leaves.
//
// Ownership: the object owns the native window it created or was given; destroying the object
// destroys the window after unbinding it. A native window that goes away by itself (its frame was
// closed) unbinds first, and the object stays until its owner deletes it.
//
// Threads: the UI thread only.
#pragma once

#include "platform/window_system.h"
#include "ui/geometry.h"
#include "ui/messages.h"

#include <functional>
#include <string>
#include <vector>

// What a window does with files dropped on it. The window registers with the native drop target when
// it is bound (or when the target is set on a bound window) and unregisters when it lets go.
class CUIDrawableRep;

class CUIDropTarget {
public:
    virtual ~CUIDropTarget() = default;
    // Files are being dragged over the window (true), or the drag left or ended (false).
    virtual void OnDragOver(bool inside) { (void)inside; }
    // The local paths of the dropped files, in the drag's order; `point` in client coordinates.
    virtual void OnDropFiles(const std::vector<std::string>& paths, CUIPoint point) = 0;
};

class CUIWindow {
public:
    enum class Subclass { No, Yes };

    CUIWindow();
    virtual ~CUIWindow();
    CUIWindow(const CUIWindow&) = delete;
    CUIWindow& operator=(const CUIWindow&) = delete;

    // Destroys the native window (after unbinding it); the object stays.
    virtual void Destroy();
    // Returns whether the message was handled; `result` starts at 0 and is what the sender gets.
    virtual bool HandleMessage(const ui::Message& message, ui::LResult& result);

    // A toolkit child window of `parent`. Throws CUICreateWindowException.
    void CreateChild(CUIWindow& parent);
    // A top-level frame (the host's window, tool windows). Throws CUICreateWindowException.
    void CreateTopLevel(const std::string& title, CUIWindow* owner = nullptr);

    void Attach(platform::NativeWindow window, Subclass subclass = Subclass::No);
    // Unbinds without destroying; the native window is the caller's again.
    platform::NativeWindow Detach();
    platform::NativeWindow GetHandle() const { return m_window; }
    static CUIWindow* FromHandle(platform::NativeWindow window);

    // Geometry, state and text.
    void SetClientSize(CUISize size);
    void Move(const CUIRect& rect);
    void Show(bool show = true);
    bool IsVisible() const;
    void Enable(bool enable = true);
    bool IsEnabled() const;
    void SetFocus();
    bool HasFocus() const;
    void SetCapture();
    void ReleaseCapture();
    void Invalidate(const CUIRect* rect = nullptr);
    void Validate(const CUIRect* rect = nullptr);
    CUIRect GetWindowRect() const;
    CUIRect GetClientRect() const;
    CUIPoint ClientToScreen(CUIPoint point) const;
    // The answer to a WM_PAINT: `draw` paints through a drawing context clipped to the damaged area,
    // given in client coordinates, and the paint ends once the context is gone. False when the
    // window had nothing to paint.
    bool PaintUpdate(const std::function<void(CUIDrawableRep& dc, const CUIRect& update)>& draw);
    void SetText(const std::string& text);
    std::string GetText() const;
    // The pointer shape over the window: shown at once, and again on every WM_SETCURSOR that
    // HandleMessage leaves (a handler that wants another shape sets it and returns true).
    void SetCursor(platform::CursorShape shape);
    platform::CursorShape GetCursor() const { return m_cursor; }
    // The tip shown while the pointer rests on the window; empty for none.
    void SetToolTip(const std::string& text);
    const std::string& GetToolTip() const { return m_toolTip; }
    // Files dropped on the window go to `target` (not owned; null: the window takes no drops).
    void SetDropTarget(CUIDropTarget* target);
    CUIDropTarget* GetDropTarget() const { return m_dropTarget; }
    void PostMessage(ui::MessageId message, ui::WParam wParam = 0, ui::LParam lParam = 0);
    ui::LResult SendMessage(ui::MessageId message, ui::WParam wParam = 0, ui::LParam lParam = 0);

    // The offset at which this window paints into a parent's drawing context.
    CUIPoint GetOrigin() const { return m_origin; }
    void SetOrigin(CUIPoint origin) { m_origin = origin; }

    // The procedure every toolkit window has.
    static ui::LResult WindowProc(platform::NativeWindow window, ui::MessageId message, ui::WParam wParam,
                                  ui::LParam lParam);

protected:
    virtual void OnDetach() {}
    virtual void OnAttach() {}
    virtual void SetWindowProc(platform::WindowProc proc);
    virtual platform::WindowProc GetCurrentWindowProc() const;
    virtual platform::WindowProc GetOwnWindowProc() const { return &CUIWindow::WindowProc; }

    // What the window does with a message that HandleMessage left: the subclassed procedure, or the
    // native default.
    ui::LResult CallPrevious(const ui::Message& message);

    static platform::WindowSystem& System();

private:
    void Unbind();

    platform::NativeWindow m_window = nullptr;
    platform::WindowProc m_previousProc = nullptr; // of a subclassed native control
    CUIPoint m_origin;
    platform::CursorShape m_cursor = platform::CursorShape::Arrow;
    std::string m_toolTip;
    CUIDropTarget* m_dropTarget = nullptr;
};
