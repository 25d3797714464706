#include "ui/dialog.h"

#include "foundation/exception.h"
#include "foundation/string_format.h"
#include "foundation/ui_exception.h"
#include "platform/resources.h"
#include "ui/application.h"

#include <algorithm>
#include <exception>

namespace {

struct ModalEntry {
    CUIDialog* dialog;
    platform::NativeWindow owner; // disabled for the dialog, or null
    platform::NativeWindow focus; // had the focus before the dialog
};

std::vector<ModalEntry> g_modalStack;
int g_modalResult = 0;

auto FindEntry(const CUIDialog* dialog) {
    return std::find_if(g_modalStack.begin(), g_modalStack.end(),
                        [&](const ModalEntry& entry) { return entry.dialog == dialog; });
}

// The top-level window that holds `window`: the last one before the desktop.
platform::NativeWindow TopLevelOf(platform::WindowSystem& system, platform::NativeWindow window) {
    while (window != nullptr) {
        platform::NativeWindow parent = system.GetParent(window);
        if (parent == nullptr)
            return window;
        window = parent;
    }
    return nullptr;
}

// Little-endian reader of the compiled template.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : m_data(data) {}
    bool Ok() const { return m_ok; }
    uint32_t U(size_t bytes) {
        if (m_data.size() - m_pos < bytes) {
            m_ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value |= static_cast<uint32_t>(m_data[m_pos + i]) << (8 * i);
        m_pos += bytes;
        return value;
    }
    int S16() { return static_cast<int16_t>(static_cast<uint16_t>(U(2))); }
    std::string Text() {
        size_t length = U(2);
        if (!m_ok || m_data.size() - m_pos < length) {
            m_ok = false;
            return {};
        }
        std::string text(reinterpret_cast<const char*>(m_data.data() + m_pos), length);
        m_pos += length;
        return text;
    }
    bool AtEnd() const { return m_pos == m_data.size(); }

private:
    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
    bool m_ok = true;
};

constexpr uint32_t kTemplateMagic = 0x4C445850; // "PXDL"
constexpr uint8_t kLastControlKind = static_cast<uint8_t>(platform::ControlKind::ListBox);

} // namespace

bool DecodeDialogTemplate(std::span<const uint8_t> data, platform::DialogTemplate& dialog) {
    Reader in(data);
    if (in.U(4) != kTemplateMagic)
        return false;
    platform::DialogTemplate decoded;
    decoded.id = in.U(4);
    decoded.size.cx = in.S16();
    decoded.size.cy = in.S16();
    decoded.fontPoints = in.S16();
    decoded.fontFace = in.Text();
    decoded.caption = in.Text();
    size_t count = in.U(2);
    for (size_t i = 0; i < count && in.Ok(); ++i) {
        platform::DialogControl control;
        control.id = in.S16();
        uint32_t kind = in.U(1);
        if (kind > kLastControlKind)
            return false;
        control.kind = static_cast<platform::ControlKind>(kind);
        control.style = in.U(4);
        int x = in.S16(), y = in.S16(), cx = in.S16(), cy = in.S16();
        control.rect = CUIRect::FromSize(x, y, cx, cy);
        control.text = in.Text();
        decoded.controls.push_back(std::move(control));
    }
    if (!in.Ok() || !in.AtEnd())
        return false;
    dialog = std::move(decoded);
    return true;
}

CUIDialog::CUIDialog() = default;

CUIDialog::~CUIDialog() {
    // A dialog deleted while on the modal stack must not leave its owner disabled.
    if (FindEntry(this) != g_modalStack.end())
        End(0);
    Destroy();
}

void CUIDialog::Create(uint32_t templateId, CUIWindow* owner) {
    auto data = platform::FindModuleResource(platform::ResourceType::Dialog, templateId);
    if (!data)
        throw CUIResourceNotFoundException(FormatString("dialog %u", templateId));
    platform::DialogTemplate dialog;
    if (!DecodeDialogTemplate(*data, dialog))
        throw CUIResourceNotFoundException(FormatString("dialog %u", templateId));
    Create(dialog, owner);
}

void CUIDialog::Create(const platform::DialogTemplate& dialog, CUIWindow* owner) {
    platform::NativeWindow window =
        System().CreateDialog(owner != nullptr ? owner->GetHandle() : nullptr, dialog);
    if (window == nullptr)
        throw CUICreateWindowException();
    System().SetWindowProc(window, &CUIWindow::WindowProc);
    Attach(window);
}

void CUIDialog::OnAttach() {
    if (CUIApplication* app = CUIApplication::Get())
        app->RegisterDialog(GetHandle(), this);
}

void CUIDialog::OnDetach() {
    if (CUIApplication* app = CUIApplication::Get())
        app->UnregisterDialog(GetHandle());
}

int CUIDialog::GetModalResult() {
    return g_modalResult;
}

size_t CUIDialog::GetModalDepth() {
    return g_modalStack.size();
}

bool CUIDialog::IsOnModalStack(const CUIDialog* dialog) {
    return FindEntry(dialog) != g_modalStack.end();
}

bool CUIDialog::IsModalOpen() const {
    return GetHandle() != nullptr && System().IsWindow(GetHandle()) && IsOnModalStack(this);
}

void CUIDialog::ModalStep() {
    CUIApplication::Get()->PumpOnce();
}

int CUIDialog::RunModal() {
    CUIApplication* app = CUIApplication::Get();
    platform::WindowSystem& system = System();

    platform::NativeWindow owner = !g_modalStack.empty() ? g_modalStack.back().dialog->GetHandle()
                                                         : TopLevelOf(system, app->GetMainWindow());
    platform::NativeWindow focus = system.GetFocus();
    if (owner != nullptr && system.IsWindowEnabled(owner))
        system.EnableWindow(owner, false);
    else
        owner = nullptr;
    g_modalStack.push_back({this, owner, focus});
    Enable(true);

    try {
        OnInit();
        if (IsModalOpen()) {
            Show(true);
            system.SetActiveWindow(GetHandle());
        }
        while (!app->IsQuitting() && IsModalOpen())
            ModalStep();
    } catch (...) {
        // The exception goes on once the dialog is ended with the code set so far.
        if (IsOnModalStack(this))
            End(g_modalResult);
        OnEnd(g_modalResult);
        throw;
    }
    if (IsOnModalStack(this))
        End(0);
    OnEnd(g_modalResult);
    return g_modalResult;
}

void CUIDialog::End(int code) {
    platform::WindowSystem& system = System();
    auto it = FindEntry(this);
    if (it == g_modalStack.end()) {
        if (GetHandle() != nullptr)
            Show(false);
        return;
    }
    ModalEntry ended = *it;
    bool wasTop = std::next(it) == g_modalStack.end();
    if (!wasTop) {
        // The dialog above was made modal to this one: it takes over this dialog's owner and saved
        // focus, or the owner this dialog disabled would stay disabled for good.
        ModalEntry& above = *std::next(it);
        if (above.owner == GetHandle() || above.owner == nullptr)
            above.owner = ended.owner;
        else if (ended.owner != nullptr && system.IsWindow(ended.owner))
            system.EnableWindow(ended.owner, true);
        above.focus = ended.focus;
    }
    g_modalStack.erase(it);
    g_modalResult = code;
    if (g_modalStack.empty()) {
        if (ended.owner != nullptr && system.IsWindow(ended.owner))
            system.EnableWindow(ended.owner, true);
    } else if (wasTop) {
        system.EnableWindow(g_modalStack.back().dialog->GetHandle(), true);
    }
    // Only the top dialog hands the focus back; one further down would take it from the dialog that
    // stays on top.
    if (wasTop && ended.focus != nullptr && system.IsWindow(ended.focus))
        system.SetFocus(ended.focus);
    if (GetHandle() != nullptr && system.IsWindow(GetHandle()))
        Show(false);
}

bool CUIDialog::HandleMessage(const ui::Message& message, ui::LResult& result) {
    switch (message.message) {
    case ui::kWmCommand:
        if (OnCommand(ui::LoWord(message.wParam), ui::HiWord(message.wParam))) {
            result = 0;
            return true;
        }
        return false;
    case ui::kWmClose:
        // Closing the frame is Cancel; the native window stays for the owner to destroy.
        End(ui::kIdCancel);
        return true;
    default:
        return false;
    }
}

bool CUIDialog::OnCommand(int id, int notification) {
    if (notification == ui::kBnClicked && (id == ui::kIdOk || id == ui::kIdCancel)) {
        End(id);
        return true;
    }
    return false;
}

platform::NativeWindow CUIDialog::GetItem(int id) const {
    return System().GetDlgItem(GetHandle(), id);
}

int CUIDialog::GetItemId(platform::NativeWindow control) const {
    return System().GetDlgCtrlID(control);
}

void CUIDialog::SetItemText(int id, const std::string& text) {
    if (platform::NativeWindow item = GetItem(id))
        System().SetWindowText(item, text);
}

std::string CUIDialog::GetItemText(int id) const {
    platform::NativeWindow item = GetItem(id);
    return item != nullptr ? System().GetWindowText(item) : std::string();
}

void CUIDialog::SetItemChecked(int id, bool checked) {
    System().CheckDlgButton(GetHandle(), id, checked);
}

bool CUIDialog::IsItemChecked(int id) const {
    return System().IsDlgButtonChecked(GetHandle(), id);
}

void CUIDialog::EnableItem(int id, bool enable) {
    if (platform::NativeWindow item = GetItem(id))
        System().EnableWindow(item, enable);
}

void CUIDialog::SetItemReadOnly(int id, bool readOnly) {
    if (platform::NativeWindow item = GetItem(id))
        System().SetEditReadOnly(item, readOnly);
}

bool CUIDialog::IsItemReadOnly(int id) const {
    platform::NativeWindow item = GetItem(id);
    return item != nullptr && System().IsEditReadOnly(item);
}
