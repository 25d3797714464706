#include "views/transfer_status_dialog.h"

#include "ui/color.h"
#include "ui/drawable.h"
#include "ui/messages.h"
#include "upload/plugin_parameters.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

constexpr CUIColor kWhite{255, 255, 255};
constexpr CUIColor kBlack{0, 0, 0};

CUIImageButton::Colors ButtonColorsOf(const PluginParameters& parameters) {
    CUIImageButton::Colors colors;
    colors.background = kWhite;
    colors.normalBody = CUIColor::FromString(parameters.d_buttonColor);
    colors.normalText = CUIColor::FromString(parameters.d_buttonTextColor);
    colors.pressedBody = CUIColor::FromString(parameters.d_buttonPressedColor);
    colors.pressedText = CUIColor::FromString(parameters.d_buttonPressedTextColor);
    colors.disabledBody = CUIColor::FromString(parameters.d_buttonDisabledColor);
    colors.disabledText = CUIColor::FromString(parameters.d_buttonDisabledTextColor);
    return colors;
}

// The smallest size the message shrinks to, as a share of the page's size.
constexpr int kSmallestSizePercent = 70;
constexpr int kSmallestSize = 8;

// The text as lines that fit `width` in the drawable's font: a new line at each "\n", and words moved
// to the next line where they would run past the width (a word wider than that stands alone).
std::vector<std::string> WrapLines(CUIDrawableRep& drawable, std::string_view text, int width) {
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        size_t end = text.find('\n', start);
        std::string_view paragraph = text.substr(start, end == std::string_view::npos ? end : end - start);
        std::string line;
        for (size_t i = 0; i < paragraph.size();) {
            size_t space = paragraph.find(' ', i);
            std::string_view word = paragraph.substr(i, space == std::string_view::npos ? space : space - i);
            i = space == std::string_view::npos ? paragraph.size() : space + 1;
            if (word.empty() || word == "\r")
                continue;
            std::string longer = line.empty() ? std::string(word) : line + " " + std::string(word);
            if (!line.empty() && drawable.MeasureText(longer).cx > width) {
                lines.push_back(std::move(line));
                line = std::string(word);
            } else {
                line = std::move(longer);
            }
        }
        lines.push_back(std::move(line));
        if (end == std::string_view::npos)
            return lines;
        start = end + 1;
    }
}

// A font description's size in pixels and the description without it ("Verdana-normal-13": 13 and
// "Verdana-normal-"); nothing when it names no size.
std::optional<std::pair<std::string, int>> SplitSize(const std::string& spec) {
    size_t first = spec.find('-');
    size_t second = first == std::string::npos ? first : spec.find('-', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    int size = 0;
    const char* begin = spec.data() + second + 1;
    const char* end = spec.data() + spec.size();
    auto [at, error] = std::from_chars(begin, end, size);
    if (error != std::errc() || at != end || size <= 0)
        return std::nullopt;
    return std::make_pair(spec.substr(0, second + 1), size);
}

} // namespace

CUIImageButton::Colors CTransferStatusStyle::DefaultButtonColors() {
    return ButtonColorsOf(PluginParameters());
}

CTransferStatusStyle CTransferStatusStyle::FromParameters(const PluginParameters& parameters) {
    CTransferStatusStyle style;
    style.buttons = ButtonColorsOf(parameters);
    return style;
}

CTransferStatusDialog::CTransferStatusDialog(CTransferStatusStyle style) : m_style(std::move(style)) {}

CTransferStatusDialog::~CTransferStatusDialog() = default;

int CTransferStatusDialog::Run(CUIWindow* owner, uint64_t successes, uint64_t failures) {
    m_content = MakeTransferStatusContent(successes, failures);
    m_font = CUIFont::FromSpec(m_style.font).OrDialogFont();
    m_lines.clear();
    m_lineHeight = 0;
    m_banner = CUIImage::FromResource(m_content.banner);
    m_icon = CUIImage::FromResource(m_content.icon);
    m_buttons.clear();
    m_buttons.reserve(m_content.buttons.size());
    for (uint32_t bitmap : m_content.buttons) {
        Entry& entry = m_buttons.emplace_back();
        entry.bitmap = bitmap;
        if (std::optional<CUIImage> image = CUIImage::FromResource(bitmap))
            entry.button.SetTemplate(std::move(*image));
        entry.button.SetColors(m_style.buttons);
        entry.command = std::make_unique<EndCommand>(*this, TransferStatusResultOf(bitmap));
        entry.button.SetCommand(entry.command.get());
    }
    Layout();

    Create(kTemplateId, owner);
    SetClientSize(kClientSize);
    // The label keeps the message for whoever reads the dialog's texts; the dialog paints it itself,
    // in the page's font and colours, which a native label does not take.
    SetItemText(kMessage, m_content.message);
    if (platform::NativeWindow label = GetItem(kMessage))
        System().ShowWindow(label, false);
    int result = RunModal();
    Destroy();
    return result;
}

void CTransferStatusDialog::Layout() {
    int right = kMessageRect.right;
    int top = kMessageRect.bottom + kButtonsBelowMessage;
    for (auto it = m_buttons.rbegin(); it != m_buttons.rend(); ++it) {
        right -= it->button.GetSize().cx;
        it->button.SetPosition({right, top});
        right -= kButtonGap;
    }
}

std::vector<CTransferStatusDialog::Button> CTransferStatusDialog::GetButtons() const {
    std::vector<Button> buttons;
    for (const Entry& entry : m_buttons)
        buttons.push_back({entry.bitmap, entry.button.GetRect()});
    return buttons;
}

void CTransferStatusDialog::OnInit() {
    Invalidate();
}

bool CTransferStatusDialog::OnCommand(int id, int notification) {
    // Enter asks for a button 1 that the template does not have: it is no click on "View pictures",
    // which the dialog may not even show.
    if (id == ui::kIdOk)
        return true;
    return CUIDialog::OnCommand(id, notification);
}

bool CTransferStatusDialog::HandleMessage(const ui::Message& message, ui::LResult& result) {
    if (message.window != GetHandle())
        return CUIDialog::HandleMessage(message, result);
    switch (message.message) {
    case ui::kWmPaint:
        Paint();
        return true;
    case ui::kWmMouseMove:
    case ui::kWmLButtonDown:
    case ui::kWmLButtonDblClk:
    case ui::kWmLButtonUp:
        OnMouse(message);
        return true;
    case ui::kWmMouseLeft:
        SetCursor(platform::CursorShape::Arrow);
        return false;
    default:
        return CUIDialog::HandleMessage(message, result);
    }
}

CTransferStatusDialog::Entry* CTransferStatusDialog::ButtonAt(CUIPoint point) {
    for (Entry& entry : m_buttons)
        if (entry.button.HitTest(point))
            return &entry;
    return nullptr;
}

void CTransferStatusDialog::OnMouse(const ui::Message& message) {
    CUIPoint point{ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)};
    SetCursor(ButtonAt(point) != nullptr ? platform::CursorShape::Hand : platform::CursorShape::Arrow);
    bool redraw = false;
    switch (message.message) {
    case ui::kWmMouseMove:
        for (Entry& entry : m_buttons)
            redraw = entry.button.OnMouseMove(point) || redraw;
        break;
    case ui::kWmLButtonDown:
    case ui::kWmLButtonDblClk:
        for (Entry& entry : m_buttons)
            redraw = entry.button.OnButtonDown(point, 0) || redraw;
        if (redraw)
            SetCapture();
        break;
    case ui::kWmLButtonUp: {
        Entry* pressed = nullptr;
        for (Entry& entry : m_buttons)
            if (entry.button.GetPressedButton() == 0)
                pressed = &entry;
        if (pressed == nullptr)
            return;
        ReleaseCapture();
        CUIRect rect = pressed->button.GetRect();
        Invalidate(&rect);
        // Last: the button's command ends the dialog.
        pressed->button.OnButtonUp(point, 0);
        return;
    }
    default:
        return;
    }
    if (redraw)
        Invalidate();
}

void CTransferStatusDialog::Paint() {
    PaintUpdate([this](CUIDrawableRep& dc, const CUIRect&) {
        // The buttons take themselves out of the clip, so the white fill that follows leaves them.
        for (const Entry& entry : m_buttons)
            if (entry.button.GetTemplate())
                entry.button.Draw(dc);
        dc.SetColor(kWhite);
        dc.FillRect(GetClientRect());
        if (m_banner)
            dc.DrawImage(kBannerAt, *m_banner);
        if (m_icon)
            dc.DrawImage(kIconAt, *m_icon);
        if (m_lineHeight == 0)
            FitMessage(dc);
        dc.SetFont(m_font);
        dc.SetColor(kBlack);
        CUIRect line = kMessageRect;
        for (const std::string& text : m_lines) {
            line.bottom = line.top + m_lineHeight;
            dc.DrawText(line, text, platform::kTextLeft | platform::kTextSingleLine);
            line.top = line.bottom;
        }
    });
}

void CTransferStatusDialog::FitMessage(CUIDrawableRep& drawable) {
    // The page's font where the message fits the pane; a font whose faces run wider than the page
    // expects (a substitute) steps down in size rather than losing the last lines.
    std::vector<CUIFont> fonts{m_font};
    if (auto split = SplitSize(m_style.font); split && !CUIFont::FromSpec(m_style.font).IsEmpty()) {
        int smallest = std::max(kSmallestSize, split->second * kSmallestSizePercent / 100);
        for (int size = split->second - 1; size >= smallest; --size)
            if (CUIFont smaller = CUIFont::FromSpec(split->first + std::to_string(size)); !smaller.IsEmpty())
                fonts.push_back(smaller);
    }
    for (const CUIFont& font : fonts) {
        drawable.SetFont(font);
        m_font = font;
        m_lines = WrapLines(drawable, m_content.message, kMessageRect.Width());
        m_lineHeight = std::max(drawable.GetTextMetrics().height, 1);
        if (static_cast<int>(m_lines.size()) * m_lineHeight <= kMessageRect.Height())
            return;
    }
}
