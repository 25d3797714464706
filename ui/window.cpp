#include "ui/window.h"

#include "foundation/ui_exception.h"
#include "ui/application.h"
#include "ui/drawable.h"

#include <cassert>

CUIWindow::CUIWindow() = default;

CUIWindow::~CUIWindow() {
    Destroy();
}

platform::WindowSystem& CUIWindow::System() {
    CUIApplication* app = CUIApplication::Get();
    assert(app != nullptr && "windows need the application object");
    assert(app->IsUIThread() && "windows belong to the UI thread");
    return app->GetWindowSystem();
}

void CUIWindow::Destroy() {
    if (m_window == nullptr)
        return;
    platform::NativeWindow window = Detach();
    if (System().IsWindow(window))
        System().DestroyWindow(window);
}

void CUIWindow::CreateChild(CUIWindow& parent) {
    platform::NativeWindow window = System().CreateChildWindow(parent.GetHandle());
    if (window == nullptr)
        throw CUICreateWindowException();
    System().SetWindowProc(window, &CUIWindow::WindowProc);
    Attach(window);
}

void CUIWindow::CreateTopLevel(const std::string& title, CUIWindow* owner) {
    platform::NativeWindow window =
        System().CreateTopLevelWindow(title, owner != nullptr ? owner->GetHandle() : nullptr);
    if (window == nullptr)
        throw CUICreateWindowException();
    System().SetWindowProc(window, &CUIWindow::WindowProc);
    Attach(window);
}

void CUIWindow::Attach(platform::NativeWindow window, Subclass subclass) {
    if (m_window != nullptr)
        Detach();
    // A window has one object: one bound before lets it go, or it would later destroy a window that
    // another object holds.
    if (auto* previous = static_cast<CUIWindow*>(System().GetUserData(window)); previous != nullptr)
        previous->Detach();
    m_window = window;
    System().SetUserData(window, this);
    if (subclass == Subclass::Yes) {
        platform::WindowProc current = GetCurrentWindowProc();
        if (current != GetOwnWindowProc()) {
            m_previousProc = current;
            SetWindowProc(GetOwnWindowProc());
        }
    }
    if (m_dropTarget != nullptr)
        System().AcceptDrops(window, true);
    OnAttach();
}

platform::NativeWindow CUIWindow::Detach() {
    platform::NativeWindow window = m_window;
    if (window == nullptr)
        return nullptr;
    OnDetach();
    Unbind();
    return window;
}

void CUIWindow::Unbind() {
    if (m_window == nullptr)
        return;
    if (System().IsWindow(m_window)) {
        if (m_dropTarget != nullptr)
            System().AcceptDrops(m_window, false);
        if (m_previousProc != nullptr)
            SetWindowProc(m_previousProc);
        if (System().GetUserData(m_window) == this)
            System().SetUserData(m_window, nullptr);
    }
    m_previousProc = nullptr;
    m_window = nullptr;
}

CUIWindow* CUIWindow::FromHandle(platform::NativeWindow window) {
    if (window == nullptr)
        return nullptr;
    return static_cast<CUIWindow*>(System().GetUserData(window));
}

void CUIWindow::SetWindowProc(platform::WindowProc proc) {
    System().SetWindowProc(m_window, proc);
}

platform::WindowProc CUIWindow::GetCurrentWindowProc() const {
    return System().GetWindowProc(m_window);
}

bool CUIWindow::HandleMessage(const ui::Message&, ui::LResult&) {
    return false;
}

ui::LResult CUIWindow::CallPrevious(const ui::Message& message) {
    if (m_previousProc != nullptr)
        return m_previousProc(message.window, message.message, message.wParam, message.lParam);
    return System().DefWindowProc(message.window, message.message, message.wParam, message.lParam);
}

ui::LResult CUIWindow::WindowProc(platform::NativeWindow window, ui::MessageId message, ui::WParam wParam,
                                  ui::LParam lParam) {
    platform::WindowSystem& system = System();
    auto* object = static_cast<CUIWindow*>(system.GetUserData(window));
    ui::Message record{window, message, wParam, lParam, system.GetMessageTime()};
    if (object == nullptr)
        return system.DefWindowProc(window, message, wParam, lParam);
    ui::LResult result = 0;
    if (object->HandleMessage(record, result)) {
        if (message == ui::kWmDestroy && object->m_window == window)
            object->Unbind();
        return result;
    }
    if (object->m_dropTarget != nullptr && message == ui::kWmDropFiles && wParam != 0) {
        object->m_dropTarget->OnDropFiles(*reinterpret_cast<const std::vector<std::string>*>(wParam),
                                          {ui::GetXLParam(lParam), ui::GetYLParam(lParam)});
        return 0;
    }
    if (object->m_dropTarget != nullptr && message == ui::kWmDragOver) {
        object->m_dropTarget->OnDragOver(wParam != 0);
        return 0;
    }
    if (message == ui::kWmSetCursor && object->m_window == window) {
        system.SetCursor(window, object->m_cursor);
        return 1;
    }
    result = object->CallPrevious(record);
    // The native window is going away: the object stays, unbound, until its owner deletes it.
    if (message == ui::kWmDestroy && object->m_window == window)
        object->Unbind();
    return result;
}

void CUIWindow::SetCursor(platform::CursorShape shape) {
    m_cursor = shape;
    if (m_window != nullptr)
        System().SetCursor(m_window, shape);
}

void CUIWindow::SetToolTip(const std::string& text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (m_window != nullptr)
        System().SetToolTip(m_window, text);
}

void CUIWindow::SetDropTarget(CUIDropTarget* target) {
    bool registered = m_dropTarget != nullptr;
    m_dropTarget = target;
    if (m_window != nullptr && registered != (target != nullptr))
        System().AcceptDrops(m_window, target != nullptr);
}

void CUIWindow::SetClientSize(CUISize size) {
    System().SetClientSize(m_window, size);
}
void CUIWindow::Move(const CUIRect& rect) {
    System().MoveWindow(m_window, rect);
}
void CUIWindow::Show(bool show) {
    System().ShowWindow(m_window, show);
}
bool CUIWindow::IsVisible() const {
    return m_window != nullptr && System().IsWindowVisible(m_window);
}
void CUIWindow::Enable(bool enable) {
    System().EnableWindow(m_window, enable);
}
bool CUIWindow::IsEnabled() const {
    return m_window != nullptr && System().IsWindowEnabled(m_window);
}
void CUIWindow::SetFocus() {
    System().SetFocus(m_window);
}
bool CUIWindow::HasFocus() const {
    return m_window != nullptr && System().GetFocus() == m_window;
}
void CUIWindow::SetCapture() {
    System().SetCapture(m_window);
}
void CUIWindow::ReleaseCapture() {
    if (System().GetCapture() == m_window)
        System().ReleaseCapture();
}
void CUIWindow::Invalidate(const CUIRect* rect) {
    System().InvalidateRect(m_window, rect);
}
void CUIWindow::Validate(const CUIRect* rect) {
    System().ValidateRect(m_window, rect);
}
CUIRect CUIWindow::GetWindowRect() const {
    return System().GetWindowRect(m_window);
}
CUIRect CUIWindow::GetClientRect() const {
    return System().GetClientRect(m_window);
}
CUIPoint CUIWindow::ClientToScreen(CUIPoint point) const {
    return System().ClientToScreen(m_window, point);
}

bool CUIWindow::PaintUpdate(const std::function<void(CUIDrawableRep& dc, const CUIRect& update)>& draw) {
    platform::PaintInfo info;
    if (!System().BeginPaint(m_window, info))
        return false;
    {
        CUIDrawable drawable(info.dc);
        draw(*drawable, info.update);
    }
    System().EndPaint(m_window);
    return true;
}
void CUIWindow::SetText(const std::string& text) {
    System().SetWindowText(m_window, text);
}
std::string CUIWindow::GetText() const {
    return System().GetWindowText(m_window);
}
void CUIWindow::PostMessage(ui::MessageId message, ui::WParam wParam, ui::LParam lParam) {
    System().PostMessage(m_window, message, wParam, lParam);
}
ui::LResult CUIWindow::SendMessage(ui::MessageId message, ui::WParam wParam, ui::LParam lParam) {
    return System().SendMessage(m_window, message, wParam, lParam);
}
