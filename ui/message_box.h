// A message box: caption, text, a set of buttons, an icon and which button is the default. Shown
// modally over its owner; the answer comes back as 1 (OK or Yes), 0 (Cancel), 2 (No) or -1.
//
// Threads: the UI thread only.
#pragma once

#include <cstdint>
#include <string>

class CUIWindow;

class CUIMessageBox {
public:
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Icon { None, Exclamation, Stop, Question, Information };

    static constexpr int kOkOrYes = 1;
    static constexpr int kCancel = 0;
    static constexpr int kNo = 2;
    static constexpr int kOther = -1;

    CUIMessageBox(std::string caption, std::string text, Buttons buttons = Buttons::Ok,
                  Icon icon = Icon::None, int defaultButton = 1)
        : m_caption(std::move(caption)), m_text(std::move(text)), m_buttons(buttons), m_icon(icon),
          m_defaultButton(defaultButton) {}

    int Show(CUIWindow* owner) const;

    // The native box's flags for this box; the default button is 1 (first), 2 (second) or 0 (last).
    uint32_t GetFlags() const;
    // The answer for a native result (ui::kIdOk...).
    static int MapResult(int nativeResult);

private:
    std::string m_caption;
    std::string m_text;
    Buttons m_buttons;
    Icon m_icon;
    int m_defaultButton;
};
