#include "ui/message_box.h"

#include "platform/window_system.h"
#include "ui/application.h"
#include "ui/messages.h"
#include "ui/window.h"

uint32_t CUIMessageBox::GetFlags() const {
    uint32_t flags = platform::kMbOk;
    switch (m_buttons) {
    case Buttons::OkCancel:
        flags = platform::kMbOkCancel;
        break;
    case Buttons::YesNo:
        flags = platform::kMbYesNo;
        break;
    case Buttons::YesNoCancel:
        flags = platform::kMbYesNoCancel;
        break;
    case Buttons::Ok:
        break;
    }
    switch (m_icon) {
    case Icon::Exclamation:
        flags |= platform::kMbIconExclamation;
        break;
    case Icon::Stop:
        flags |= platform::kMbIconHand;
        break;
    case Icon::Question:
        flags |= platform::kMbIconQuestion;
        break;
    case Icon::Information:
        flags |= platform::kMbIconAsterisk;
        break;
    case Icon::None:
        break;
    }
    // A box with only OK has nothing but its first button to default to.
    if (m_buttons != Buttons::Ok) {
        if (m_defaultButton == 2)
            flags |= platform::kMbDefButton2;
        else if (m_defaultButton == 0)
            flags |= m_buttons == Buttons::YesNoCancel ? platform::kMbDefButton3 : platform::kMbDefButton2;
    }
    return flags;
}

int CUIMessageBox::MapResult(int nativeResult) {
    switch (nativeResult) {
    case ui::kIdOk:
    case ui::kIdYes:
        return kOkOrYes;
    case ui::kIdCancel:
        return kCancel;
    case ui::kIdNo:
        return kNo;
    default:
        return kOther;
    }
}

int CUIMessageBox::Show(CUIWindow* owner) const {
    platform::WindowSystem& system = CUIApplication::Get()->GetWindowSystem();
    int result =
        system.MessageBox(owner != nullptr ? owner->GetHandle() : nullptr, m_text, m_caption, GetFlags());
    return MapResult(result);
}
