// The window system over GTK 3. Every toolkit window is a GtkFixed with a GdkWindow of its own (own
// drawn, able to hold children); a top-level one sits in a GtkWindow. Native controls of dialogs are
// GTK widgets placed in the dialog's GtkFixed. GDK events become message records in a queue of our
// own; control notifications and paints are sent to the window procedure at once, as the native
// system sends them.
#include "platform/last_error.h"
#include "platform/system_colors.h"
#include "platform/system_message.h"
#include "platform/window_system.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <deque>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <map>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

// A GtkFixed that asks for no minimum size of its own: a toolkit window may be made smaller than
// its children, which it then clips, as native windows are; a frame can then shrink as well as grow.
// A size request set on the widget still holds.
struct PxClientArea {
    GtkFixed parent;
};
struct PxClientAreaClass {
    GtkFixedClass parentClass;
};
G_DEFINE_TYPE(PxClientArea, px_client_area, GTK_TYPE_FIXED)

static void px_client_area_get_preferred_width(GtkWidget* widget, gint* minimum, gint* natural) {
    GTK_WIDGET_CLASS(px_client_area_parent_class)->get_preferred_width(widget, minimum, natural);
    *minimum = 0;
}

static void px_client_area_get_preferred_height(GtkWidget* widget, gint* minimum, gint* natural) {
    GTK_WIDGET_CLASS(px_client_area_parent_class)->get_preferred_height(widget, minimum, natural);
    *minimum = 0;
}

static void px_client_area_class_init(PxClientAreaClass* type) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(type);
    widget->get_preferred_width = px_client_area_get_preferred_width;
    widget->get_preferred_height = px_client_area_get_preferred_height;
}

static void px_client_area_init(PxClientArea*) {}

namespace platform {
namespace {

constexpr uintptr_t kHitClient = 1;   // the client-area hit code of WM_SETCURSOR
constexpr int kMaxPendingRounds = 64; // native events turned into records by one look without waiting

// The cross-thread event's source only wakes the wait; the pump looks at the event itself.
gboolean KeepEventSource(gint, GIOCondition, gpointer) {
    return G_SOURCE_CONTINUE;
}

uint32_t MonotonicMilliseconds() {
    return static_cast<uint32_t>(g_get_monotonic_time() / 1000);
}

bool Readable(NativeWaitHandle handle) {
    if (handle == kInvalidNativeWaitHandle)
        return false;
    pollfd entry{static_cast<int>(handle), POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

// "&Open" as GTK's mnemonics write it: "_Open"; a literal "_" doubled, "&&" a literal "&".
std::string ToMnemonic(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&' && i + 1 < text.size() && text[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (c == '&') {
            out += '_';
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

std::string FromMnemonic(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_' && i + 1 < text.size() && text[i + 1] == '_') {
            out += '_';
            ++i;
        } else if (c == '_') {
            out += '&';
        } else if (c == '&') {
            out += "&&";
        } else {
            out += c;
        }
    }
    return out;
}

uint32_t VirtualKey(guint keyval) {
    guint upper = gdk_keyval_to_upper(keyval);
    if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9'))
        return upper;
    switch (keyval) {
    case GDK_KEY_BackSpace:
        return ui::kVkBack;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        return ui::kVkTab;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return ui::kVkReturn;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return ui::kVkShift;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
        return ui::kVkControl;
    case GDK_KEY_Escape:
        return ui::kVkEscape;
    case GDK_KEY_space:
        return ui::kVkSpace;
    case GDK_KEY_Page_Up:
        return ui::kVkPrior;
    case GDK_KEY_Page_Down:
        return ui::kVkNext;
    case GDK_KEY_End:
        return ui::kVkEnd;
    case GDK_KEY_Home:
        return ui::kVkHome;
    case GDK_KEY_Left:
        return ui::kVkLeft;
    case GDK_KEY_Up:
        return ui::kVkUp;
    case GDK_KEY_Right:
        return ui::kVkRight;
    case GDK_KEY_Down:
        return ui::kVkDown;
    case GDK_KEY_Delete:
        return ui::kVkDelete;
    case GDK_KEY_Menu:
        return ui::kVkApps;
    default:
        if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
            return ui::kVkF1 + (keyval - GDK_KEY_F1);
        return 0;
    }
}

// The character a key press types, as WM_CHAR carries it; 0 for none.
uint32_t TypedCharacter(const GdkEventKey* event) {
    switch (event->keyval) {
    case GDK_KEY_BackSpace:
        return 8;
    case GDK_KEY_Tab:
        return 9;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        return 13;
    case GDK_KEY_Escape:
        return 27;
    default:
        break;
    }
    if ((event->state & GDK_CONTROL_MASK) != 0) {
        guint upper = gdk_keyval_to_upper(event->keyval);
        return upper >= 'A' && upper <= 'Z' ? upper - 'A' + 1 : 0;
    }
    gunichar c = gdk_keyval_to_unicode(event->keyval);
    return c >= 0x20 && c != 0x7F ? c : 0;
}

constexpr int kWheelDelta = 120; // one notch of the wheel

ui::WParam MouseKeyState(guint state) {
    ui::WParam keys = 0;
    if (state & GDK_BUTTON1_MASK)
        keys |= ui::kMkLButton;
    if (state & GDK_BUTTON3_MASK)
        keys |= ui::kMkRButton;
    if (state & GDK_BUTTON2_MASK)
        keys |= ui::kMkMButton;
    if (state & GDK_SHIFT_MASK)
        keys |= ui::kMkShift;
    if (state & GDK_CONTROL_MASK)
        keys |= ui::kMkControl;
    return keys;
}

class GtkWindowSystem final : public WindowSystem {
public:
    GtkWindowSystem() : m_thread(std::this_thread::get_id()) {}

    // --- Queue ---------------------------------------------------------------------------------------

    bool PeekMessage(ui::Message& message) override {
        AssertUIThread();
        if (m_queue.empty())
            return false;
        message = m_queue.front();
        m_queue.pop_front();
        m_messageTime = message.time;
        return true;
    }

    void PostMessage(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                     ui::LParam lParam) override {
        AssertUIThread();
        if (window != nullptr && !IsWindow(window))
            return;
        m_queue.push_back({window, message, wParam, lParam, MonotonicMilliseconds()});
    }

    void PostQuitMessage(int exitCode) override {
        PostMessage(nullptr, ui::kWmQuit, static_cast<ui::WParam>(exitCode), 0);
    }

    bool HasQueuedMessage(NativeWindow window, ui::MessageId message) override {
        AssertUIThread();
        return std::any_of(m_queue.begin(), m_queue.end(), [&](const ui::Message& queued) {
            return queued.window == window && queued.message == message;
        });
    }

    WaitResult MsgWait(NativeWaitHandle event, int timeoutMs) override {
        AssertUIThread();
        if (!m_queue.empty())
            return WaitResult::Input;
        if (Readable(event))
            return WaitResult::Event;
        if (timeoutMs == 0) {
            // Native events that are ready now become records; nothing blocks.
            for (int round = 0;
                 round < kMaxPendingRounds && m_queue.empty() && g_main_context_pending(nullptr); ++round)
                g_main_context_iteration(nullptr, FALSE);
        } else {
            // One round of the main context, woken by native events, by the cross-thread event (its
            // handle is a source only while we wait, so that a set event does not spin other loops)
            // or by the time-out.
            GSource* eventSource = nullptr;
            if (event != kInvalidNativeWaitHandle) {
                eventSource = g_unix_fd_source_new(static_cast<int>(event), G_IO_IN);
                g_source_set_callback(eventSource, G_SOURCE_FUNC(&KeepEventSource), nullptr, nullptr);
                g_source_attach(eventSource, nullptr);
            }
            GSource* timeoutSource = nullptr;
            bool timedOut = false;
            if (timeoutMs > 0) {
                timeoutSource = g_timeout_source_new(static_cast<guint>(timeoutMs));
                g_source_set_callback(
                    timeoutSource,
                    [](gpointer flag) {
                        *static_cast<bool*>(flag) = true;
                        return gboolean(G_SOURCE_CONTINUE);
                    },
                    &timedOut, nullptr);
                g_source_attach(timeoutSource, nullptr);
            }
            // Attaching and destroying sources wakes the context: a round that only took that wake
            // (it dispatched nothing) is not the end of the wait, or every wait would return at once
            // and an idle program would spin.
            while (!g_main_context_iteration(nullptr, TRUE) && !timedOut && m_queue.empty() && !Readable(event)) {
            }
            for (GSource* source : {eventSource, timeoutSource}) {
                if (source != nullptr) {
                    g_source_destroy(source);
                    g_source_unref(source);
                }
            }
        }
        if (!m_queue.empty())
            return WaitResult::Input;
        if (Readable(event))
            return WaitResult::Event;
        return WaitResult::Timeout;
    }

    uint32_t GetMessageTime() override { return m_messageTime; }

    ui::LResult DispatchMessage(const ui::Message& message) override {
        AssertUIThread();
        if (message.window == nullptr || !IsWindow(message.window))
            return 0;
        return CallProc(message.window, message.message, message.wParam, message.lParam);
    }

    ui::LResult SendMessage(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                            ui::LParam lParam) override {
        AssertUIThread();
        if (!IsWindow(window))
            return 0;
        return CallProc(window, message, wParam, lParam);
    }

    bool IsDialogMessage(NativeWindow dialog, const ui::Message& message) override {
        AssertUIThread();
        Record* record = Find(dialog);
        if (record == nullptr || !record->isDialog || message.message != ui::kWmKeyDown)
            return false;
        switch (message.wParam) {
        case ui::kVkTab: {
            bool back =
                (gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(gdk_display_get_default())) &
                 GDK_SHIFT_MASK) != 0;
            gtk_widget_child_focus(record->widget, back ? GTK_DIR_TAB_BACKWARD : GTK_DIR_TAB_FORWARD);
            return true;
        }
        case ui::kVkReturn:
            return ClickDefaultButton(dialog);
        case ui::kVkEscape:
            SendCommand(dialog, ui::kIdCancel, ui::kBnClicked, nullptr);
            return true;
        default:
            return false;
        }
    }

    // --- Thread timer -----------------------------------------------------------------------------

    uintptr_t SetThreadTimer(unsigned intervalMs) override {
        AssertUIThread();
        auto* timer = new ThreadTimer{this, 0};
        guint source =
            g_timeout_add_full(G_PRIORITY_DEFAULT, intervalMs, &GtkWindowSystem::OnTimerTick, timer,
                               [](gpointer data) { delete static_cast<ThreadTimer*>(data); });
        timer->id = source;
        return source;
    }

    void KillThreadTimer(uintptr_t id) override {
        AssertUIThread();
        if (id != 0)
            g_source_remove(static_cast<guint>(id));
        std::erase_if(m_queue, [&](const ui::Message& queued) {
            return queued.window == nullptr && queued.message == ui::kWmTimer && queued.wParam == id;
        });
    }

    // --- Windows ------------------------------------------------------------------------------------

    NativeWindow CreateTopLevelWindow(const std::string& title, NativeWindow owner) override {
        AssertUIThread();
        GtkWidget* frame = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(frame), title.c_str());
        if (Record* ownerRecord = Find(TopLevelOf(owner)))
            gtk_window_set_transient_for(GTK_WINDOW(frame), GTK_WINDOW(ownerRecord->widget));
        GtkWidget* client = NewClientArea();
        gtk_container_add(GTK_CONTAINER(frame), client);
        Record& record = AddRecord(frame, client, nullptr);
        record.isTopLevel = true;
        ConnectFrame(frame);
        gtk_widget_show(client);
        return frame;
    }

    NativeWindow CreateChildWindow(NativeWindow parent) override {
        AssertUIThread();
        Record* parentRecord = Find(parent);
        if (parentRecord == nullptr) {
            SetLastError(kErrorInvalidWindowHandle);
            return nullptr;
        }
        GtkWidget* client = NewClientArea();
        gtk_fixed_put(GTK_FIXED(parentRecord->client), client, 0, 0);
        AddRecord(client, client, parent);
        return client;
    }

    void DestroyWindow(NativeWindow window) override {
        AssertUIThread();
        Record* record = Find(window);
        if (record == nullptr)
            return;
        // The window hears of its end first, then its children, as the native system orders it.
        std::vector<NativeWindow> doomed{window};
        for (size_t i = 0; i < doomed.size(); ++i)
            for (auto& [handle, other] : m_records)
                if (other.parent == doomed[i])
                    doomed.push_back(handle);
        for (NativeWindow handle : doomed)
            if (Find(handle) != nullptr)
                CallProc(handle, ui::kWmDestroy, 0, 0);
        GtkWidget* widget = Find(window) != nullptr ? Find(window)->widget : nullptr;
        for (NativeWindow handle : doomed)
            Forget(handle);
        if (widget != nullptr)
            gtk_widget_destroy(widget);
    }

    bool IsWindow(NativeWindow window) override { return window != nullptr && m_records.count(window) != 0; }

    NativeWindow GetParent(NativeWindow window) override {
        Record* record = Find(window);
        return record != nullptr ? record->parent : nullptr;
    }

    void SetUserData(NativeWindow window, void* data) override {
        if (Record* record = Find(window))
            record->userData = data;
    }
    void* GetUserData(NativeWindow window) override {
        Record* record = Find(window);
        return record != nullptr ? record->userData : nullptr;
    }
    void SetWindowProc(NativeWindow window, WindowProc proc) override {
        if (Record* record = Find(window))
            record->proc = proc;
    }
    WindowProc GetWindowProc(NativeWindow window) override {
        Record* record = Find(window);
        return record != nullptr ? record->proc : nullptr;
    }

    ui::LResult DefWindowProc(NativeWindow window, ui::MessageId message, ui::WParam wParam,
                              ui::LParam lParam) override {
        switch (message) {
        case ui::kWmClose:
            DestroyWindow(window);
            return 0;
        case ui::kWmRButtonUp: {
            CUIPoint screen = ClientToScreen(window, {ui::GetXLParam(lParam), ui::GetYLParam(lParam)});
            SendMessage(window, ui::kWmContextMenu, reinterpret_cast<ui::WParam>(window),
                        ui::MakePointLParam(screen.x, screen.y));
            return 0;
        }
        case ui::kWmKeyDown:
            if (wParam == ui::kVkApps)
                SendMessage(window, ui::kWmContextMenu, reinterpret_cast<ui::WParam>(window), -1);
            return 0;
        case ui::kWmContextMenu:
            // Unhandled: the parent may want it.
            if (NativeWindow parent = GetParent(window))
                return SendMessage(parent, message, wParam, lParam);
            return 0;
        default:
            return 0;
        }
    }

    // --- Geometry -----------------------------------------------------------------------------------

    void MoveWindow(NativeWindow window, const CUIRect& rect) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        if (record->isTopLevel) {
            gtk_window_move(GTK_WINDOW(record->widget), rect.left, rect.top);
            gtk_window_resize(GTK_WINDOW(record->widget), std::max(rect.Width(), 1),
                              std::max(rect.Height(), 1));
        } else if (Record* parent = Find(record->parent)) {
            gtk_fixed_move(GTK_FIXED(parent->client), record->widget, rect.left, rect.top);
            gtk_widget_set_size_request(record->widget, std::max(rect.Width(), 0),
                                        std::max(rect.Height(), 0));
        }
        record->rect = rect;
    }

    void SetClientSize(NativeWindow window, CUISize size) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        if (record->isTopLevel) {
            // The client area is the frame's content: GTK sizes it without the border. A dialog keeps
            // its size as a request, as its template made it; a frame gets none, which would keep the
            // user from making it smaller again.
            if (record->isDialog)
                gtk_widget_set_size_request(record->client, size.cx, size.cy);
            gtk_window_resize(GTK_WINDOW(record->widget), std::max(size.cx, 1), std::max(size.cy, 1));
        } else {
            gtk_widget_set_size_request(record->widget, size.cx, size.cy);
        }
        record->rect.right = record->rect.left + size.cx;
        record->rect.bottom = record->rect.top + size.cy;
    }

    CUIRect GetWindowRect(NativeWindow window) override {
        Record* record = Find(window);
        if (record == nullptr)
            return {};
        if (record->isTopLevel) {
            int x = 0, y = 0, width = 0, height = 0;
            gtk_window_get_position(GTK_WINDOW(record->widget), &x, &y);
            gtk_window_get_size(GTK_WINDOW(record->widget), &width, &height);
            return CUIRect::FromSize(x, y, width, height);
        }
        CUIRect client = GetClientRect(window);
        return client.Offset(record->rect.left, record->rect.top);
    }

    CUIRect GetClientRect(NativeWindow window) override {
        Record* record = Find(window);
        if (record == nullptr)
            return {};
        if (gtk_widget_get_realized(record->client)) {
            GtkAllocation allocation;
            gtk_widget_get_allocation(record->client, &allocation);
            return {0, 0, allocation.width, allocation.height};
        }
        return {0, 0, record->rect.Width(), record->rect.Height()};
    }

    CUIPoint ClientToScreen(NativeWindow window, CUIPoint point) override {
        Record* record = Find(window);
        if (record == nullptr || !gtk_widget_get_realized(record->client))
            return point;
        int x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(record->client), &x, &y);
        if (!gtk_widget_get_has_window(record->client)) {
            GtkAllocation allocation;
            gtk_widget_get_allocation(record->client, &allocation);
            x += allocation.x;
            y += allocation.y;
        }
        return {point.x + x, point.y + y};
    }

    void ShowWindow(NativeWindow window, bool show) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        if (show)
            gtk_widget_show(record->widget);
        else
            gtk_widget_hide(record->widget);
    }
    bool IsWindowVisible(NativeWindow window) override {
        Record* record = Find(window);
        return record != nullptr && gtk_widget_is_visible(record->widget);
    }
    void EnableWindow(NativeWindow window, bool enable) override {
        if (Record* record = Find(window))
            gtk_widget_set_sensitive(record->widget, enable);
    }
    bool IsWindowEnabled(NativeWindow window) override {
        Record* record = Find(window);
        return record != nullptr && gtk_widget_get_sensitive(record->widget);
    }
    void SetFocus(NativeWindow window) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        GtkWidget* target = record->isTopLevel ? record->client : record->focusWidget;
        gtk_widget_grab_focus(target);
        m_focus = window;
    }
    NativeWindow GetFocus() override { return IsWindow(m_focus) ? m_focus : nullptr; }
    void SetActiveWindow(NativeWindow window) override {
        if (Record* record = Find(TopLevelOf(window)))
            gtk_window_present(GTK_WINDOW(record->widget));
    }
    void SetCapture(NativeWindow window) override {
        Record* record = Find(window);
        if (record == nullptr || !gtk_widget_get_realized(record->client))
            return;
        GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
        if (gdk_seat_grab(seat, gtk_widget_get_window(record->client), GDK_SEAT_CAPABILITY_ALL_POINTING,
                          FALSE, nullptr, nullptr, nullptr, nullptr) == GDK_GRAB_SUCCESS)
            m_capture = window;
    }
    void ReleaseCapture() override {
        if (m_capture == nullptr)
            return;
        gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
        m_capture = nullptr;
    }
    NativeWindow GetCapture() override { return IsWindow(m_capture) ? m_capture : nullptr; }

    void SetWindowText(NativeWindow window, const std::string& text) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        GtkWidget* widget = record->focusWidget;
        if (record->isTopLevel)
            gtk_window_set_title(GTK_WINDOW(record->widget), text.c_str());
        else if (GTK_IS_TEXT_VIEW(widget))
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)), text.c_str(), -1);
        else if (GTK_IS_ENTRY(widget))
            gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
        else if (GTK_IS_BUTTON(widget))
            gtk_button_set_label(GTK_BUTTON(widget), ToMnemonic(text).c_str());
        else if (GTK_IS_LABEL(widget))
            gtk_label_set_text_with_mnemonic(GTK_LABEL(widget), ToMnemonic(text).c_str());
        else if (GTK_IS_FRAME(widget))
            gtk_frame_set_label(GTK_FRAME(widget), text.c_str());
        record->text = text;
    }

    std::string GetWindowText(NativeWindow window) override {
        Record* record = Find(window);
        if (record == nullptr)
            return {};
        GtkWidget* widget = record->focusWidget;
        if (record->isTopLevel) {
            const char* title = gtk_window_get_title(GTK_WINDOW(record->widget));
            return title != nullptr ? title : "";
        }
        if (GTK_IS_TEXT_VIEW(widget)) {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
            GtkTextIter start, end;
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
            std::string result(text);
            g_free(text);
            return result;
        }
        if (GTK_IS_ENTRY(widget))
            return gtk_entry_get_text(GTK_ENTRY(widget));
        if (GTK_IS_BUTTON(widget))
            return FromMnemonic(gtk_button_get_label(GTK_BUTTON(widget)));
        return record->text;
    }

    // --- Painting -------------------------------------------------------------------------------

    void InvalidateRect(NativeWindow window, const CUIRect* rect) override {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        if (rect == nullptr)
            gtk_widget_queue_draw(record->client);
        else if (!rect->IsEmpty())
            gtk_widget_queue_draw_area(record->client, rect->left, rect->top, rect->Width(), rect->Height());
    }
    // GTK cannot take back a queued redraw; painting what is valid again is harmless.
    void ValidateRect(NativeWindow, const CUIRect*) override {}

    bool BeginPaint(NativeWindow window, PaintInfo& info) override {
        Record* record = Find(window);
        if (record == nullptr || record->paint == nullptr)
            return false;
        info = *record->paint;
        return true;
    }
    void EndPaint(NativeWindow) override {}

    // --- Dialogs --------------------------------------------------------------------------------

    NativeWindow CreateDialog(NativeWindow owner, const DialogTemplate& dialog) override;
    CUISize GetDialogBaseUnits(NativeWindow dialog) override {
        Record* record = Find(dialog);
        return record != nullptr ? record->baseUnits : CUISize{};
    }
    NativeWindow GetDlgItem(NativeWindow dialog, int id) override {
        Record* record = Find(dialog);
        if (record == nullptr)
            return nullptr;
        auto it = record->items.find(id);
        return it == record->items.end() ? nullptr : it->second;
    }
    int GetDlgCtrlID(NativeWindow control) override {
        Record* record = Find(control);
        return record != nullptr ? record->controlId : 0;
    }
    void CheckDlgButton(NativeWindow dialog, int id, bool checked) override {
        Record* record = Find(GetDlgItem(dialog, id));
        if (record == nullptr || !GTK_IS_TOGGLE_BUTTON(record->widget))
            return;
        // Setting a state is not a click: no notification.
        record->silent = true;
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(record->widget), checked);
        record->silent = false;
    }
    bool IsDlgButtonChecked(NativeWindow dialog, int id) override {
        Record* record = Find(GetDlgItem(dialog, id));
        return record != nullptr && GTK_IS_TOGGLE_BUTTON(record->widget) &&
               gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(record->widget));
    }
    void SetEditReadOnly(NativeWindow control, bool readOnly) override {
        Record* record = Find(control);
        if (record == nullptr || !GTK_IS_ENTRY(record->widget))
            return;
        MarkReadOnly(record->widget, readOnly);
    }
    bool IsEditReadOnly(NativeWindow control) override {
        Record* record = Find(control);
        return record != nullptr && GTK_IS_ENTRY(record->widget) &&
               !gtk_editable_get_editable(GTK_EDITABLE(record->widget));
    }

    int MessageBox(NativeWindow owner, const std::string& text, const std::string& caption,
                   uint32_t flags) override;

    int TrackPopupMenu(const std::vector<MenuItem>& menu, uint32_t flags, CUIPoint screen,
                       NativeWindow owner) override;
    void AcceptDrops(NativeWindow window, bool accept) override;

    void SetClipboardText(const std::string& text) override {
        AssertUIThread();
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.data(),
                               static_cast<gint>(text.size()));
        gtk_clipboard_store(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    }
    std::optional<std::string> GetClipboardText() override {
        AssertUIThread();
        gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
        if (text == nullptr)
            return std::nullopt;
        std::string result(text);
        g_free(text);
        return result;
    }

    void SetCursor(NativeWindow window, CursorShape shape) override;
    CursorShape GetCursor(NativeWindow window) override;
    void SetToolTip(NativeWindow window, const std::string& text) override {
        if (Record* record = Find(window))
            gtk_widget_set_tooltip_text(record->client, text.empty() ? nullptr : text.c_str());
    }
    std::vector<std::string> ChooseFiles(NativeWindow owner, const FileChooserOptions& options) override;

private:
    struct Record {
        GtkWidget* widget = nullptr;      // the frame, the client area or the control
        GtkWidget* client = nullptr;      // where children go and events arrive
        GtkWidget* focusWidget = nullptr; // what takes the focus and the text
        NativeWindow parent = nullptr;
        void* userData = nullptr;
        WindowProc proc = nullptr;
        bool isTopLevel = false;
        bool isDialog = false;
        bool silent = false; // a state change made by the program: no notification
        int controlId = 0;
        ControlKind kind = ControlKind::Label;
        uint32_t style = 0;
        int defaultButton = 0;
        std::string text;
        CUIRect rect;
        std::map<int, NativeWindow> items;
        const PaintInfo* paint = nullptr; // during a WM_PAINT only
        CUISize lastSize{-1, -1};
        CUISize baseUnits; // of a dialog
        bool acceptsDrops = false;
        bool dragInside = false;
    };

    struct ThreadTimer {
        GtkWindowSystem* system;
        guint id;
    };

    void AssertUIThread() const {
        assert(std::this_thread::get_id() == m_thread &&
               "window-system call from a thread other than the UI thread");
    }

    Record* Find(NativeWindow window) {
        if (window == nullptr)
            return nullptr;
        auto it = m_records.find(window);
        return it == m_records.end() ? nullptr : &it->second;
    }

    NativeWindow TopLevelOf(NativeWindow window) {
        while (Record* record = Find(window)) {
            if (record->parent == nullptr)
                return window;
            window = record->parent;
        }
        return nullptr;
    }

    NativeWindow HandleOf(GtkWidget* widget) { return g_object_get_data(G_OBJECT(widget), "px-window"); }

    Record& AddRecord(GtkWidget* widget, GtkWidget* client, NativeWindow parent) {
        NativeWindow handle = widget;
        Record& record = m_records[handle];
        record.widget = widget;
        record.client = client;
        record.focusWidget = client;
        record.parent = parent;
        g_object_set_data(G_OBJECT(widget), "px-window", handle);
        g_object_set_data(G_OBJECT(client), "px-window", handle);
        g_object_set_data(G_OBJECT(widget), "px-system", this);
        g_object_set_data(G_OBJECT(client), "px-system", this);
        return record;
    }

    void Forget(NativeWindow window) {
        Record* record = Find(window);
        if (record == nullptr)
            return;
        g_object_set_data(G_OBJECT(record->widget), "px-window", nullptr);
        g_object_set_data(G_OBJECT(record->client), "px-window", nullptr);
        if (m_focus == window)
            m_focus = nullptr;
        if (m_capture == window)
            ReleaseCapture();
        std::erase_if(m_queue, [&](const ui::Message& queued) { return queued.window == window; });
        m_records.erase(window);
    }

    ui::LResult CallProc(NativeWindow window, ui::MessageId message, ui::WParam wParam, ui::LParam lParam) {
        Record* record = Find(window);
        WindowProc proc = record != nullptr ? record->proc : nullptr;
        if (proc == nullptr)
            return DefWindowProc(window, message, wParam, lParam);
        return proc(window, message, wParam, lParam);
    }

    void SendCommand(NativeWindow dialog, int id, uint16_t notification, NativeWindow control) {
        SendMessage(dialog, ui::kWmCommand, ui::MakeWParam(static_cast<uint16_t>(id), notification),
                    reinterpret_cast<ui::LParam>(control));
    }

    bool ClickDefaultButton(NativeWindow dialog) {
        Record* record = Find(dialog);
        if (record == nullptr)
            return false;
        int id = record->defaultButton != 0 ? record->defaultButton : ui::kIdOk;
        NativeWindow button = GetDlgItem(dialog, id);
        if (button != nullptr && !IsWindowEnabled(button))
            return true; // a disabled default button swallows Enter
        SendCommand(dialog, id, ui::kBnClicked, button);
        return true;
    }

    // A toolkit window's area: a GtkFixed with a GdkWindow of its own, so that it takes pointer and
    // key events, paints, and holds children.
    GtkWidget* NewClientArea() {
        GtkWidget* client = GTK_WIDGET(g_object_new(px_client_area_get_type(), nullptr));
        gtk_widget_set_has_window(client, TRUE);
        gtk_widget_set_can_focus(client, TRUE);
        gtk_widget_add_events(client, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                          GDK_POINTER_MOTION_MASK | GDK_KEY_PRESS_MASK |
                                          GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK | GDK_SCROLL_MASK |
                                          GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK);
        g_signal_connect(client, "draw", G_CALLBACK(&GtkWindowSystem::OnDraw), this);
        g_signal_connect(client, "button-press-event", G_CALLBACK(&GtkWindowSystem::OnButton), this);
        g_signal_connect(client, "button-release-event", G_CALLBACK(&GtkWindowSystem::OnButton), this);
        g_signal_connect(client, "motion-notify-event", G_CALLBACK(&GtkWindowSystem::OnMotion), this);
        g_signal_connect(client, "scroll-event", G_CALLBACK(&GtkWindowSystem::OnScroll), this);
        g_signal_connect(client, "enter-notify-event", G_CALLBACK(&GtkWindowSystem::OnEnter), this);
        g_signal_connect(client, "leave-notify-event", G_CALLBACK(&GtkWindowSystem::OnLeave), this);
        g_signal_connect(client, "focus-in-event", G_CALLBACK(&GtkWindowSystem::OnFocusIn), this);
        g_signal_connect(client, "size-allocate", G_CALLBACK(&GtkWindowSystem::OnSizeAllocate), this);
        return client;
    }

    void ConnectFrame(GtkWidget* frame) {
        g_signal_connect(frame, "delete-event", G_CALLBACK(&GtkWindowSystem::OnDelete), this);
        g_signal_connect(frame, "key-press-event", G_CALLBACK(&GtkWindowSystem::OnKeyPress), this);
        g_signal_connect(frame, "key-release-event", G_CALLBACK(&GtkWindowSystem::OnKeyRelease), this);
    }

    static gboolean OnTimerTick(gpointer data) {
        auto* timer = static_cast<ThreadTimer*>(data);
        GtkWindowSystem* self = timer->system;
        // Ticks that the pump has not taken yet are one tick, as native timers coalesce them.
        if (!self->HasQueuedMessage(nullptr, ui::kWmTimer))
            self->PostMessage(nullptr, ui::kWmTimer, timer->id, 0);
        return G_SOURCE_CONTINUE;
    }

    static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        Record* record = self->Find(window);
        if (record == nullptr)
            return FALSE;
        double x1, y1, x2, y2;
        cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
        PaintInfo info{cr,
                       {static_cast<int>(std::floor(x1)), static_cast<int>(std::floor(y1)),
                        static_cast<int>(std::ceil(x2)), static_cast<int>(std::ceil(y2))}};
        record->paint = &info;
        cairo_save(cr);
        self->CallProc(window, ui::kWmPaint, 0, 0);
        cairo_restore(cr);
        if (Record* still = self->Find(window))
            still->paint = nullptr;
        return FALSE; // children are drawn after
    }

    static gboolean OnButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        if (window == nullptr)
            return FALSE;
        ui::MessageId message = 0;
        bool press = event->type == GDK_BUTTON_PRESS || event->type == GDK_2BUTTON_PRESS;
        if (event->button == 1)
            message = event->type == GDK_2BUTTON_PRESS ? ui::kWmLButtonDblClk
                      : press                          ? ui::kWmLButtonDown
                                                       : ui::kWmLButtonUp;
        else if (event->button == 3 && event->type != GDK_2BUTTON_PRESS)
            message = press ? ui::kWmRButtonDown : ui::kWmRButtonUp;
        if (message == 0)
            return TRUE;
        if (press)
            gtk_widget_grab_focus(widget);
        // The state is from before the event; the button that went down or up is set or cleared.
        ui::WParam keys = MouseKeyState(event->state);
        ui::WParam button = event->button == 1 ? ui::kMkLButton : ui::kMkRButton;
        keys = press ? (keys | button) : (keys & ~button);
        self->PostMessage(window, message, keys,
                          ui::MakePointLParam(static_cast<int>(std::floor(event->x)),
                                              static_cast<int>(std::floor(event->y))));
        return TRUE;
    }

    static gboolean OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        if (window == nullptr)
            return FALSE;
        self->SendMessage(window, ui::kWmSetCursor, reinterpret_cast<ui::WParam>(window),
                          static_cast<ui::LParam>(ui::MakeWParam(kHitClient, ui::kWmMouseMove)));
        self->PostMessage(window, ui::kWmMouseMove, MouseKeyState(event->state),
                          ui::MakePointLParam(static_cast<int>(std::floor(event->x)),
                                              static_cast<int>(std::floor(event->y))));
        return TRUE;
    }

    // The wheel as WM_MOUSEWHEEL: the key state in the low word, the distance in the high word (120
    // a notch, positive away from the user), the pointer's screen position in lParam.
    static gboolean OnScroll(GtkWidget* widget, GdkEventScroll* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        if (window == nullptr)
            return FALSE;
        int delta = 0;
        if (event->direction == GDK_SCROLL_UP)
            delta = kWheelDelta;
        else if (event->direction == GDK_SCROLL_DOWN)
            delta = -kWheelDelta;
        else if (event->direction == GDK_SCROLL_SMOOTH)
            delta = static_cast<int>(std::lround(-event->delta_y * kWheelDelta));
        if (delta == 0)
            return TRUE;
        const ui::WParam keys = MouseKeyState(event->state);
        self->PostMessage(window, ui::kWmMouseWheel,
                          ui::MakeWParam(static_cast<uint16_t>(keys), static_cast<uint16_t>(static_cast<int16_t>(delta))),
                          ui::MakePointLParam(static_cast<int>(std::floor(event->x_root)),
                                              static_cast<int>(std::floor(event->y_root))));
        return TRUE;
    }

    // Moving from a child into its parent in one step gives the parent a crossing but no motion; the
    // pointer is in the parent at that position all the same.
    static gboolean OnEnter(GtkWidget* widget, GdkEventCrossing* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        // A "virtual" crossing passes through on the way into a child: the pointer is not here.
        if (window == nullptr || event->mode != GDK_CROSSING_NORMAL || event->detail == GDK_NOTIFY_VIRTUAL ||
            event->detail == GDK_NOTIFY_NONLINEAR_VIRTUAL)
            return FALSE;
        self->PostMessage(window, ui::kWmMouseMove, MouseKeyState(event->state),
                          ui::MakePointLParam(static_cast<int>(std::floor(event->x)),
                                              static_cast<int>(std::floor(event->y))));
        return TRUE;
    }

    // Leaving a child for its parent: GDK gives the parent neither a crossing nor the motion that
    // ended there, so the parent's move is made here, in the innermost ancestor that holds the point.
    static gboolean OnLeave(GtkWidget* widget, GdkEventCrossing* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        if (window == nullptr || event->mode != GDK_CROSSING_NORMAL || event->detail != GDK_NOTIFY_ANCESTOR)
            return FALSE;
        for (NativeWindow ancestor = self->GetParent(window); ancestor != nullptr;
             ancestor = self->GetParent(ancestor)) {
            CUIPoint origin = self->ClientToScreen(ancestor, {0, 0});
            CUIPoint point{static_cast<int>(std::floor(event->x_root)) - origin.x,
                           static_cast<int>(std::floor(event->y_root)) - origin.y};
            if (self->GetClientRect(ancestor).Contains(point)) {
                self->PostMessage(ancestor, ui::kWmMouseMove, MouseKeyState(event->state),
                                  ui::MakePointLParam(point.x, point.y));
                break;
            }
        }
        return FALSE;
    }

    static gboolean OnFocusIn(GtkWidget* widget, GdkEventFocus*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        if (window == nullptr || self->m_focus == window)
            return FALSE;
        NativeWindow previous = self->m_focus;
        self->m_focus = window;
        self->PostMessage(window, ui::kWmSetFocus, reinterpret_cast<ui::WParam>(previous), 0);
        return FALSE;
    }

    static void OnSizeAllocate(GtkWidget* widget, GdkRectangle* allocation, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow window = self->HandleOf(widget);
        Record* record = self->Find(window);
        if (record == nullptr)
            return;
        CUISize size{allocation->width, allocation->height};
        if (size == record->lastSize)
            return;
        record->lastSize = size;
        self->PostMessage(window, ui::kWmSize, 0, ui::MakePointLParam(size.cx, size.cy));
    }

    static gboolean OnDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (NativeWindow window = self->HandleOf(widget))
            self->PostMessage(window, ui::kWmClose, 0, 0);
        return TRUE; // the window goes only when its procedure destroys it
    }

    // Keys go to the focused toolkit window as records; a native control keeps its own keys, except
    // Enter and Escape, which a dialog takes for its default and Cancel buttons.
    static gboolean OnKeyPress(GtkWidget* frame, GdkEventKey* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow frameWindow = self->HandleOf(frame);
        Record* frameRecord = self->Find(frameWindow);
        if (frameRecord == nullptr)
            return FALSE;
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(frame));
        NativeWindow target = focus != nullptr ? self->HandleOf(focus) : frameWindow;
        Record* targetRecord = self->Find(target);
        bool ownDrawn = targetRecord != nullptr && targetRecord->focusWidget == targetRecord->client &&
                        GTK_IS_FIXED(targetRecord->client);
        if (ownDrawn) {
            uint32_t vk = VirtualKey(event->keyval);
            if (vk != 0)
                self->PostMessage(target, ui::kWmKeyDown, vk, 1);
            if (uint32_t c = TypedCharacter(event))
                self->PostMessage(target, ui::kWmChar, c, 1);
            return TRUE;
        }
        if (!frameRecord->isDialog)
            return FALSE;
        if (event->keyval == GDK_KEY_Escape) {
            self->SendCommand(frameWindow, ui::kIdCancel, ui::kBnClicked, nullptr);
            return TRUE;
        }
        bool multiLine = targetRecord != nullptr && GTK_IS_TEXT_VIEW(targetRecord->focusWidget);
        bool onButton = focus != nullptr && GTK_IS_BUTTON(focus);
        if ((event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) && !multiLine && !onButton)
            return self->ClickDefaultButton(frameWindow);
        return FALSE;
    }

    static gboolean OnKeyRelease(GtkWidget* frame, GdkEventKey* event, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(frame));
        NativeWindow target = focus != nullptr ? self->HandleOf(focus) : self->HandleOf(frame);
        Record* record = self->Find(target);
        if (record == nullptr || record->focusWidget != record->client || !GTK_IS_FIXED(record->client))
            return FALSE;
        if (uint32_t vk = VirtualKey(event->keyval))
            self->PostMessage(target, ui::kWmKeyUp, vk, 1);
        return TRUE;
    }

    static void OnClicked(GtkButton* button, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow control = self->HandleOf(GTK_WIDGET(button));
        Record* record = self->Find(control);
        if (record == nullptr || record->silent)
            return;
        // A radio button that the user's click turned off says nothing; the one turned on does.
        if (GTK_IS_RADIO_BUTTON(button) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)))
            return;
        self->SendCommand(record->parent, record->controlId, ui::kBnClicked, control);
    }

    static void OnEditChanged(GtkWidget* widget, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        NativeWindow control = self->HandleOf(widget);
        Record* record = self->Find(control);
        if (record == nullptr || record->silent)
            return;
        self->SendCommand(record->parent, record->controlId, ui::kEnChange, control);
    }

    static void OnBufferChanged(GtkTextBuffer* buffer, gpointer data) {
        OnEditChanged(static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(buffer), "px-view")), data);
    }

    // The style class that paints a read-only entry in the dialog's colours.
    static void MarkReadOnly(GtkWidget* entry, bool readOnly) {
        gtk_editable_set_editable(GTK_EDITABLE(entry), !readOnly);
        GtkStyleContext* style = gtk_widget_get_style_context(entry);
        if (readOnly)
            gtk_style_context_add_class(style, kReadOnlyClass);
        else
            gtk_style_context_remove_class(style, kReadOnlyClass);
    }
    static constexpr const char* kReadOnlyClass = "px-readonly";

    // Digits-only edits refuse anything else, as they do natively.
    static void OnInsertDigits(GtkEditable* editable, const gchar* text, gint length, gint*, gpointer) {
        for (gint i = 0; i < (length < 0 ? static_cast<gint>(strlen(text)) : length); ++i) {
            if (!g_ascii_isdigit(text[i])) {
                gdk_display_beep(gdk_display_get_default());
                g_signal_stop_emission_by_name(editable, "insert-text");
                return;
            }
        }
    }

    static void OnMenuItemActivate(GtkMenuItem* item, gpointer data);
    static gboolean OnDragMotion(GtkWidget* widget, GdkDragContext* context, gint x, gint y, guint time,
                                 gpointer data);
    static void OnDragLeave(GtkWidget* widget, GdkDragContext* context, guint time, gpointer data);
    static void OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint x, gint y,
                                   GtkSelectionData* selection, guint info, guint time, gpointer data);
    void SetDragInside(NativeWindow window, bool inside);

    GtkWidget* MakeControl(const DialogControl& control, GtkWidget*& focusWidget, GtkWidget*& lastRadio);
    CUISize DialogBaseUnits(const DialogTemplate& dialog, GtkWidget* widget);

    const std::thread::id m_thread;
    std::map<NativeWindow, Record> m_records;
    std::deque<ui::Message> m_queue;
    uint32_t m_messageTime = 0;
    NativeWindow m_focus = nullptr;
    NativeWindow m_capture = nullptr;
};

// A system colour (red in the low byte) as CSS writes it.
std::string CssColor(uint32_t color) {
    return "rgb(" + std::to_string(color & 0xFF) + "," + std::to_string((color >> 8) & 0xFF) + "," +
           std::to_string((color >> 16) & 0xFF) + ")";
}

// Dialog units to pixels: a horizontal unit is a quarter of the dialog font's average character width,
// a vertical unit an eighth of its height.
CUISize GtkWindowSystem::DialogBaseUnits(const DialogTemplate& dialog, GtkWidget* widget) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, dialog.fontFace.empty() ? "Sans" : dialog.fontFace.c_str());
    pango_font_description_set_size(font, std::max(dialog.fontPoints, 1) * PANGO_SCALE);
    PangoLayout* layout =
        gtk_widget_create_pango_layout(widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    pango_layout_set_font_description(layout, font);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    pango_font_description_free(font);
    return {std::max((width + 26) / 52, 1), std::max(height, 1)};
}

GtkWidget* GtkWindowSystem::MakeControl(const DialogControl& control, GtkWidget*& focusWidget,
                                        GtkWidget*& lastRadio) {
    std::string label = ToMnemonic(control.text);
    GtkWidget* widget = nullptr;
    focusWidget = nullptr;
    switch (control.kind) {
    case ControlKind::Button:
    case ControlKind::DefaultButton:
        widget = gtk_button_new_with_mnemonic(label.c_str());
        g_signal_connect(widget, "clicked", G_CALLBACK(&GtkWindowSystem::OnClicked), this);
        break;
    case ControlKind::CheckBox:
        widget = gtk_check_button_new_with_mnemonic(label.c_str());
        g_signal_connect(widget, "clicked", G_CALLBACK(&GtkWindowSystem::OnClicked), this);
        break;
    case ControlKind::RadioButton:
        widget =
            (control.style & kStyleGroup) != 0 || lastRadio == nullptr
                ? gtk_radio_button_new_with_mnemonic(nullptr, label.c_str())
                : gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(lastRadio), label.c_str());
        lastRadio = widget;
        g_signal_connect(widget, "clicked", G_CALLBACK(&GtkWindowSystem::OnClicked), this);
        break;
    case ControlKind::GroupBox:
        widget = gtk_frame_new(control.text.c_str());
        break;
    case ControlKind::Label:
        widget = gtk_label_new_with_mnemonic(label.c_str());
        gtk_label_set_xalign(GTK_LABEL(widget), 0);
        gtk_label_set_yalign(GTK_LABEL(widget), 0);
        gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
        // Wrapped at the template's width, not at the text's natural one.
        gtk_label_set_max_width_chars(GTK_LABEL(widget), 1);
        break;
    case ControlKind::Edit:
        if ((control.style & kEditMultiLine) != 0) {
            GtkWidget* view = gtk_text_view_new();
            gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
            gtk_text_view_set_editable(GTK_TEXT_VIEW(view), (control.style & kEditReadOnly) == 0);
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), control.text.c_str(), -1);
            // The buffer speaks for the view: the handler needs both the view and this system.
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
            g_object_set_data(G_OBJECT(buffer), "px-view", view);
            g_signal_connect(buffer, "changed", G_CALLBACK(&GtkWindowSystem::OnBufferChanged), this);
            widget = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(widget), GTK_SHADOW_IN);
            // A text longer than the edit shows its scroll bar, not a last line cut off in the middle;
            // the lines wrap, so there is nothing to scroll sideways.
            gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(widget), FALSE);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
            gtk_container_add(GTK_CONTAINER(widget), view);
            gtk_widget_show(view);
            focusWidget = view;
        } else {
            widget = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
            gtk_entry_set_text(GTK_ENTRY(widget), control.text.c_str());
            gtk_entry_set_visibility(GTK_ENTRY(widget), (control.style & kEditPassword) == 0);
            MarkReadOnly(widget, (control.style & kEditReadOnly) != 0);
            if ((control.style & kEditNumber) != 0) {
                gtk_entry_set_input_purpose(GTK_ENTRY(widget), GTK_INPUT_PURPOSE_DIGITS);
                g_signal_connect(widget, "insert-text", G_CALLBACK(&GtkWindowSystem::OnInsertDigits), this);
            }
            g_signal_connect(widget, "changed", G_CALLBACK(&GtkWindowSystem::OnEditChanged), this);
        }
        break;
    case ControlKind::ListBox: {
        GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
        GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
        g_object_unref(store);
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
        gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", gtk_cell_renderer_text_new(),
                                                    "text", 0, nullptr);
        widget = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(widget), GTK_SHADOW_IN);
        gtk_container_add(GTK_CONTAINER(widget), view);
        gtk_widget_show(view);
        focusWidget = view;
        break;
    }
    }
    if (focusWidget == nullptr)
        focusWidget = widget;
    return widget;
}

NativeWindow GtkWindowSystem::CreateDialog(NativeWindow owner, const DialogTemplate& dialog) {
    AssertUIThread();
    NativeWindow frameWindow = CreateTopLevelWindow(dialog.caption, owner);
    Record& frame = *Find(frameWindow);
    frame.isDialog = true;
    gtk_window_set_resizable(GTK_WINDOW(frame.widget), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(frame.widget), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(frame.widget), GTK_WIN_POS_CENTER_ON_PARENT);

    // Every control speaks the dialog's font, with the little padding that template rectangles expect.
    GtkCssProvider* css = gtk_css_provider_new();
    std::string face = dialog.fontFace.empty() ? "Sans" : dialog.fontFace;
    std::string rules =
        "* { font-family: \"" + face + "\"; font-size: " + std::to_string(std::max(dialog.fontPoints, 1)) +
        "pt; }\n"
        "button { padding: 0 4px; min-height: 0; min-width: 0; }\n"
        "entry { padding: 0 3px; min-height: 0; }\n"
        "checkbutton, radiobutton { padding: 0; min-height: 0; }\n"
        "check, radio { margin: 0 4px 0 0; padding: 0; min-width: 12px; min-height: 12px; }\n"
        // Read-only and disabled single-line edits take the dialog's face, as the system paints them.
        "entry.px-readonly, entry:disabled { background-color: " +
        CssColor(GetSysColor(kColorBtnFace)) +
        "; background-image: none; }\n"
        "entry:disabled { color: " +
        CssColor(GetSysColor(kColorGrayText)) + "; }\n";
    gtk_css_provider_load_from_data(css, rules.c_str(), -1, nullptr);

    CUISize base = DialogBaseUnits(dialog, frame.widget);
    frame.baseUnits = base;
    auto toPixels = [&](const CUIRect& rect) {
        return CUIRect{rect.left * base.cx / 4, rect.top * base.cy / 8, rect.right * base.cx / 4,
                       rect.bottom * base.cy / 8};
    };
    CUIRect client = toPixels(CUIRect::FromSize(0, 0, dialog.size.cx, dialog.size.cy));
    gtk_widget_set_size_request(frame.client, client.Width(), client.Height());

    GtkWidget* lastRadio = nullptr;
    GtkWidget* mnemonicLabel = nullptr; // a label whose mnemonic moves to the control after it
    for (const DialogControl& control : dialog.controls) {
        GtkWidget* focusWidget = nullptr;
        GtkWidget* widget = MakeControl(control, focusWidget, lastRadio);
        if (control.kind == ControlKind::Label || control.kind == ControlKind::GroupBox) {
            if (control.kind == ControlKind::Label && control.text.find('&') != std::string::npos)
                mnemonicLabel = widget;
        } else if (mnemonicLabel != nullptr) {
            gtk_label_set_mnemonic_widget(GTK_LABEL(mnemonicLabel), focusWidget);
            mnemonicLabel = nullptr;
        }
        auto styleAll = [&](GtkWidget* w) {
            gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(css),
                                           GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        };
        styleAll(widget);
        if (focusWidget != widget)
            styleAll(focusWidget);
        if (GtkWidget* child = GTK_IS_BIN(widget) ? gtk_bin_get_child(GTK_BIN(widget)) : nullptr)
            styleAll(child);
        CUIRect rect = toPixels(control.rect);
        gtk_widget_set_size_request(widget, rect.Width(), rect.Height());
        gtk_fixed_put(GTK_FIXED(frame.client), widget, rect.left, rect.top);
        gtk_widget_set_sensitive(widget, (control.style & kStyleDisabled) == 0);
        gtk_widget_show(widget);

        Record& record = AddRecord(widget, widget, frameWindow);
        record.focusWidget = focusWidget;
        g_object_set_data(G_OBJECT(focusWidget), "px-window", widget);
        record.controlId = control.id;
        record.kind = control.kind;
        record.style = control.style;
        record.text = control.text;
        record.rect = rect;
        g_signal_connect(focusWidget, "focus-in-event", G_CALLBACK(&GtkWindowSystem::OnFocusIn), this);
        Find(frameWindow)->items[control.id] = widget;
        if (control.kind == ControlKind::DefaultButton) {
            Find(frameWindow)->defaultButton = control.id;
            gtk_widget_set_can_default(widget, TRUE);
            gtk_window_set_default(GTK_WINDOW(Find(frameWindow)->widget), widget);
        }
    }
    g_object_unref(css);
    return frameWindow;
}

int GtkWindowSystem::MessageBox(NativeWindow owner, const std::string& text, const std::string& caption,
                                uint32_t flags) {
    AssertUIThread();
    GtkMessageType type = GTK_MESSAGE_OTHER;
    switch (flags & 0xF0) {
    case kMbIconExclamation:
        type = GTK_MESSAGE_WARNING;
        break;
    case kMbIconHand:
        type = GTK_MESSAGE_ERROR;
        break;
    case kMbIconQuestion:
        type = GTK_MESSAGE_QUESTION;
        break;
    case kMbIconAsterisk:
        type = GTK_MESSAGE_INFO;
        break;
    default:
        break;
    }
    Record* ownerRecord = Find(TopLevelOf(owner));
    GtkWidget* box =
        gtk_message_dialog_new(ownerRecord != nullptr ? GTK_WINDOW(ownerRecord->widget) : nullptr,
                               GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    // GTK 3 no longer draws the kind's icon itself: it goes beside the text, as people expect it.
    const char* iconName = type == GTK_MESSAGE_WARNING    ? "dialog-warning"
                           : type == GTK_MESSAGE_ERROR    ? "dialog-error"
                           : type == GTK_MESSAGE_QUESTION ? "dialog-question"
                           : type == GTK_MESSAGE_INFO     ? "dialog-information"
                                                          : nullptr;
    GtkWidget* textArea = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
    GtkWidget* row = gtk_widget_get_parent(textArea);
    if (iconName != nullptr && GTK_IS_BOX(row)) {
        GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(row), image, 0);
        gtk_widget_show(image);
    }
    std::vector<std::pair<const char*, int>> buttons;
    switch (flags & 0xF) {
    case kMbOkCancel:
        buttons = {{"OK", ui::kIdOk}, {"Cancel", ui::kIdCancel}};
        break;
    case kMbYesNo:
        buttons = {{"_Yes", ui::kIdYes}, {"_No", ui::kIdNo}};
        break;
    case kMbYesNoCancel:
        buttons = {{"_Yes", ui::kIdYes}, {"_No", ui::kIdNo}, {"Cancel", ui::kIdCancel}};
        break;
    default:
        buttons = {{"OK", ui::kIdOk}};
        break;
    }
    for (auto [label, id] : buttons)
        gtk_dialog_add_button(GTK_DIALOG(box), label, id);
    size_t defaultIndex = (flags & kMbDefButton3) != 0 ? 2 : (flags & kMbDefButton2) != 0 ? 1 : 0;
    defaultIndex = std::min(defaultIndex, buttons.size() - 1);
    gtk_dialog_set_default_response(GTK_DIALOG(box), buttons[defaultIndex].second);
    gint response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (response > 0)
        return response;
    // Closed without a button: Cancel where there is one, OK for a box that has only OK.
    bool hasCancel =
        std::any_of(buttons.begin(), buttons.end(), [](auto& b) { return b.second == ui::kIdCancel; });
    if (hasCancel)
        return ui::kIdCancel;
    return buttons.size() == 1 ? ui::kIdOk : 0;
}

// --- Menus ----------------------------------------------------------------------------------------------

namespace {

struct MenuRun {
    GMainLoop* loop = nullptr;
    int chosen = 0;
};

GtkWidget* BuildMenu(const std::vector<MenuItem>& items, MenuRun& run, GCallback onActivate, gpointer data) {
    GtkWidget* menu = gtk_menu_new();
    for (const MenuItem& item : items) {
        GtkWidget* widget = nullptr;
        switch (item.kind) {
        case MenuItem::Kind::Separator:
            widget = gtk_separator_menu_item_new();
            break;
        case MenuItem::Kind::SubMenu:
            widget = gtk_menu_item_new_with_mnemonic(ToMnemonic(item.text).c_str());
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), BuildMenu(item.items, run, onActivate, data));
            break;
        case MenuItem::Kind::Command:
            if (item.checked) {
                widget = gtk_check_menu_item_new_with_mnemonic(ToMnemonic(item.text).c_str());
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), TRUE);
            } else {
                widget = gtk_menu_item_new_with_mnemonic(ToMnemonic(item.text).c_str());
            }
            g_object_set_data(G_OBJECT(widget), "px-command", GINT_TO_POINTER(item.id));
            g_object_set_data(G_OBJECT(widget), "px-menu-run", &run);
            g_signal_connect(widget, "activate", onActivate, data);
            break;
        }
        gtk_widget_set_sensitive(widget, item.enabled);
        gtk_widget_show(widget);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    return menu;
}

} // namespace

void GtkWindowSystem::OnMenuItemActivate(GtkMenuItem* item, gpointer) {
    auto* run = static_cast<MenuRun*>(g_object_get_data(G_OBJECT(item), "px-menu-run"));
    if (run != nullptr && gtk_menu_item_get_submenu(item) == nullptr)
        run->chosen = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "px-command"));
}

int GtkWindowSystem::TrackPopupMenu(const std::vector<MenuItem>& items, uint32_t flags, CUIPoint screen,
                                    NativeWindow owner) {
    AssertUIThread();
    if (items.empty())
        return 0;
    MenuRun run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    GtkWidget* menu = BuildMenu(items, run, G_CALLBACK(&GtkWindowSystem::OnMenuItemActivate), this);
    if (Record* ownerRecord = Find(TopLevelOf(owner)))
        gtk_menu_attach_to_widget(GTK_MENU(menu), ownerRecord->widget, nullptr);
    // The shell deactivates the menu before it activates the chosen item; the loop ends on the next
    // idle round, when the choice is known.
    g_signal_connect_swapped(menu, "deactivate", G_CALLBACK(+[](MenuRun* r) {
                                 g_idle_add(
                                     [](gpointer loop) {
                                         g_main_loop_quit(static_cast<GMainLoop*>(loop));
                                         return gboolean(G_SOURCE_REMOVE);
                                     },
                                     r->loop);
                             }),
                             &run);
    GdkRectangle at{screen.x, screen.y, 1, 1};
    gtk_menu_popup_at_rect(GTK_MENU(menu), gdk_get_default_root_window(), &at, GDK_GRAVITY_NORTH_WEST,
                           GDK_GRAVITY_NORTH_WEST, nullptr);
    if (gtk_widget_get_visible(menu))
        g_main_loop_run(run.loop);
    g_main_loop_unref(run.loop);
    gtk_widget_destroy(menu);
    if (run.chosen != 0 && (flags & kTpmReturnCmd) == 0 && IsWindow(owner))
        PostMessage(owner, ui::kWmCommand, ui::MakeWParam(static_cast<uint16_t>(run.chosen), 0), 0);
    return run.chosen;
}

// --- Drag and drop of files -------------------------------------------------------------------------------

void GtkWindowSystem::AcceptDrops(NativeWindow window, bool accept) {
    AssertUIThread();
    Record* record = Find(window);
    if (record == nullptr || record->acceptsDrops == accept)
        return;
    record->acceptsDrops = accept;
    if (!accept) {
        gtk_drag_dest_unset(record->client);
        return;
    }
    static const GtkTargetEntry kUriList{const_cast<gchar*>("text/uri-list"), 0, 0};
    // Motion and drop are ours: a drop that holds no local file is refused.
    gtk_drag_dest_set(record->client, GtkDestDefaults(0), &kUriList, 1,
                      GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
    if (g_object_get_data(G_OBJECT(record->client), "px-drop-connected") == nullptr) {
        g_object_set_data(G_OBJECT(record->client), "px-drop-connected", GINT_TO_POINTER(1));
        g_signal_connect(record->client, "drag-motion", G_CALLBACK(&GtkWindowSystem::OnDragMotion), this);
        g_signal_connect(record->client, "drag-leave", G_CALLBACK(&GtkWindowSystem::OnDragLeave), this);
        g_signal_connect(record->client, "drag-drop",
                         G_CALLBACK(+[](GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                                        gpointer) -> gboolean {
                             GdkAtom target = gtk_drag_dest_find_target(widget, context, nullptr);
                             if (target == GDK_NONE)
                                 return FALSE;
                             gtk_drag_get_data(widget, context, target, time);
                             return TRUE;
                         }),
                         this);
        g_signal_connect(record->client, "drag-data-received",
                         G_CALLBACK(&GtkWindowSystem::OnDragDataReceived), this);
    }
}

void GtkWindowSystem::SetDragInside(NativeWindow window, bool inside) {
    Record* record = Find(window);
    if (record == nullptr || record->dragInside == inside)
        return;
    record->dragInside = inside;
    SendMessage(window, ui::kWmDragOver, inside ? 1 : 0, 0);
}

gboolean GtkWindowSystem::OnDragMotion(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                                       gpointer data) {
    auto* self = static_cast<GtkWindowSystem*>(data);
    NativeWindow window = self->HandleOf(widget);
    Record* record = self->Find(window);
    if (record == nullptr || !record->acceptsDrops ||
        gtk_drag_dest_find_target(widget, context, nullptr) == GDK_NONE) {
        gdk_drag_status(context, GdkDragAction(0), time);
        return FALSE;
    }
    self->SetDragInside(window, true);
    gdk_drag_status(context, GDK_ACTION_COPY, time);
    return TRUE;
}

void GtkWindowSystem::OnDragLeave(GtkWidget* widget, GdkDragContext*, guint, gpointer data) {
    auto* self = static_cast<GtkWindowSystem*>(data);
    self->SetDragInside(self->HandleOf(widget), false);
}

void GtkWindowSystem::OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint x, gint y,
                                         GtkSelectionData* selection, guint, guint time, gpointer data) {
    auto* self = static_cast<GtkWindowSystem*>(data);
    NativeWindow window = self->HandleOf(widget);
    std::vector<std::string> paths;
    if (gchar** uris = gtk_selection_data_get_uris(selection)) {
        for (gchar** uri = uris; *uri != nullptr; ++uri) {
            // Only local files have a path; other addresses (http:, remote hosts) are left out.
            if (gchar* path = g_filename_from_uri(*uri, nullptr, nullptr)) {
                paths.emplace_back(path);
                g_free(path);
            }
        }
        g_strfreev(uris);
    }
    self->SetDragInside(window, false);
    gtk_drag_finish(context, !paths.empty(), FALSE, time);
    if (!paths.empty() && self->IsWindow(window))
        self->SendMessage(window, ui::kWmDropFiles, reinterpret_cast<ui::WParam>(&paths),
                          ui::MakePointLParam(x, y));
}

// --- Cursors ----------------------------------------------------------------------------------------------

namespace {

GdkCursorType CursorType(CursorShape shape) {
    switch (shape) {
    case CursorShape::Wait:
        return GDK_WATCH;
    case CursorShape::Hand:
        return GDK_HAND2;
    case CursorShape::Arrow:
        break;
    }
    return GDK_LEFT_PTR;
}

} // namespace

void GtkWindowSystem::SetCursor(NativeWindow window, CursorShape shape) {
    AssertUIThread();
    Record* record = Find(window);
    if (record == nullptr)
        return;
    gtk_widget_realize(record->client);
    GdkWindow* gdkWindow = gtk_widget_get_window(record->client);
    if (gdkWindow == nullptr)
        return;
    GdkCursor* current = gdk_window_get_cursor(gdkWindow);
    if (current != nullptr && gdk_cursor_get_cursor_type(current) == CursorType(shape))
        return; // set on every move over the window: no new cursor each time
    GdkCursor* cursor = gdk_cursor_new_for_display(gdk_window_get_display(gdkWindow), CursorType(shape));
    gdk_window_set_cursor(gdkWindow, cursor);
    g_object_unref(cursor);
}

CursorShape GtkWindowSystem::GetCursor(NativeWindow window) {
    AssertUIThread();
    Record* record = Find(window);
    GdkWindow* gdkWindow = record != nullptr ? gtk_widget_get_window(record->client) : nullptr;
    GdkCursor* cursor = gdkWindow != nullptr ? gdk_window_get_cursor(gdkWindow) : nullptr;
    if (cursor == nullptr)
        return CursorShape::Arrow;
    switch (gdk_cursor_get_cursor_type(cursor)) {
    case GDK_WATCH:
        return CursorShape::Wait;
    case GDK_HAND2:
        return CursorShape::Hand;
    default:
        return CursorShape::Arrow;
    }
}

// --- File choosers ----------------------------------------------------------------------------------------

std::vector<std::string> GtkWindowSystem::ChooseFiles(NativeWindow owner, const FileChooserOptions& options) {
    AssertUIThread();
    Record* ownerRecord = Find(TopLevelOf(owner));
    GtkFileChooserAction action =
        options.folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        options.title.c_str(), ownerRecord != nullptr ? GTK_WINDOW(ownerRecord->widget) : nullptr, action,
        "_Cancel", GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    // GTK's own default size does not fit a small screen (the host's page may be one), and the
    // chooser sizes itself again when it is mapped: keep it inside the monitor's work area then.
    gtk_window_set_default_size(GTK_WINDOW(chooser), 640, 420);
    g_signal_connect_after(chooser, "map", G_CALLBACK(+[](GtkWidget* widget, gpointer) {
                               GdkWindow* window = gtk_widget_get_window(widget);
                               GdkMonitor* monitor = window != nullptr
                                                         ? gdk_display_get_monitor_at_window(
                                                               gtk_widget_get_display(widget), window)
                                                         : nullptr;
                               if (monitor == nullptr)
                                   return;
                               GdkRectangle area;
                               gdk_monitor_get_workarea(monitor, &area);
                               int width = 0;
                               int height = 0;
                               gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
                               if (width <= area.width && height <= area.height)
                                   return;
                               width = std::min(width, area.width * 9 / 10);
                               height = std::min(height, area.height * 9 / 10);
                               gtk_window_resize(GTK_WINDOW(widget), width, height);
                               gtk_window_move(GTK_WINDOW(widget), area.x + (area.width - width) / 2,
                                               area.y + (area.height - height) / 2);
                           }),
                           nullptr);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), options.multiple);
    if (!options.startFolder.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), options.startFolder.c_str());
    // The prompt and the status line under the files; the status follows the selected folder.
    struct StatusLine {
        GtkWidget* label;
        const FileChooserOptions* options;
        static void Update(GtkFileChooser* files, gpointer data) {
            auto* self = static_cast<StatusLine*>(data);
            gchar* chosen = gtk_file_chooser_get_filename(files);
            if (chosen == nullptr)
                chosen = gtk_file_chooser_get_current_folder(files);
            if (chosen == nullptr)
                return; // between folders: the line keeps its text
            std::string text = self->options->statusText(chosen);
            g_free(chosen);
            gtk_label_set_text(GTK_LABEL(self->label), text.c_str());
        }
    };
    StatusLine status{nullptr, &options};
    if (!options.prompt.empty() || options.statusText) {
        GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
        if (!options.prompt.empty()) {
            GtkWidget* prompt = gtk_label_new(options.prompt.c_str());
            gtk_label_set_xalign(GTK_LABEL(prompt), 0);
            gtk_box_pack_start(GTK_BOX(lines), prompt, FALSE, FALSE, 0);
        }
        if (options.statusText) {
            std::string first = options.statusText(options.startFolder);
            status.label = gtk_label_new(first.c_str());
            gtk_label_set_xalign(GTK_LABEL(status.label), 0);
            gtk_label_set_selectable(GTK_LABEL(status.label), FALSE);
            gtk_box_pack_start(GTK_BOX(lines), status.label, FALSE, FALSE, 0);
            g_signal_connect(chooser, "selection-changed", G_CALLBACK(&StatusLine::Update), &status);
            g_signal_connect(chooser, "current-folder-changed", G_CALLBACK(&StatusLine::Update), &status);
        }
        gtk_widget_show_all(lines);
        gtk_file_chooser_set_extra_widget(GTK_FILE_CHOOSER(chooser), lines);
    }
    if (!options.folders) {
        for (const auto& [name, patterns] : options.filters) {
            GtkFileFilter* filter = gtk_file_filter_new();
            gtk_file_filter_set_name(filter, name.c_str());
            size_t start = 0;
            while (start <= patterns.size()) {
                size_t end = patterns.find(';', start);
                std::string pattern = patterns.substr(start, end == std::string::npos ? end : end - start);
                if (!pattern.empty())
                    // "*.*" means every file, also those without a dot in their name.
                    gtk_file_filter_add_pattern(filter, pattern == "*.*" ? "*" : pattern.c_str());
                if (end == std::string::npos)
                    break;
                start = end + 1;
            }
            gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
        }
    }
    std::vector<std::string> paths;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
        for (GSList* file = files; file != nullptr; file = file->next) {
            paths.emplace_back(static_cast<const char*>(file->data));
            g_free(file->data);
        }
        g_slist_free(files);
    }
    gtk_widget_destroy(chooser);
    return paths;
}

} // namespace

WindowSystem* GetNativeWindowSystem() {
    static GtkWindowSystem* system = []() -> GtkWindowSystem* {
        if (!gtk_init_check(nullptr, nullptr))
            return nullptr;
        return new GtkWindowSystem;
    }();
    return system;
}

} // namespace platform
