// The "Transfer Status" dialog that follows an upload run: on white, a banner and an icon that say how
// the run went, the message in the page's font, and image buttons in the page's button colours that
// end the dialog ("View pictures" with 1, the other button and closing with 2). The texts and bitmaps
// come from MakeTransferStatusContent; this class only lays them out, paints them and runs the buttons.
//
// Threads: the UI thread only.
#pragma once

#include "ui/dialog.h"
#include "ui/font.h"
#include "ui/image.h"
#include "ui/image_button.h"
#include "views/transfer_status.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CUIDrawableRep;
struct PluginParameters;

// How the host page styles the dialog.
struct CTransferStatusStyle {
    static constexpr const char* kDefaultFont = "Verdana-normal-13";

    std::string font = kDefaultFont; // font spec; one that makes no font falls back to the dialog font
    CUIImageButton::Colors buttons = DefaultButtonColors();

    static CUIImageButton::Colors DefaultButtonColors();
    // The page's button colours, on the dialog's white.
    static CTransferStatusStyle FromParameters(const PluginParameters& parameters);
};

class CTransferStatusDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 143;
    static constexpr int kMessage = 1039;
    static constexpr CUISize kClientSize{460, 300};
    static constexpr CUIPoint kBannerAt{60, 20};
    static constexpr CUIPoint kIconAt{60, 95};
    static constexpr CUIRect kMessageRect = {120, 95, 120 + 304, 95 + 131};
    // Buttons sit this far below the message pane, 6 pixels apart, right-aligned with its right edge.
    static constexpr int kButtonGap = 6;
    static constexpr int kButtonsBelowMessage = 16;

    explicit CTransferStatusDialog(CTransferStatusStyle style = {});
    ~CTransferStatusDialog() override;

    // Modal over `owner` (may be null): 1 for "View pictures", 2 for the other button or closing.
    int Run(CUIWindow* owner, uint64_t successes, uint64_t failures);

    // While it runs (for the upload list's tests and the dialog's own).
    const CTransferStatusContent& GetContent() const { return m_content; }
    // The buttons in client coordinates, left to right, each with the bitmap it was made from.
    struct Button {
        uint32_t bitmap;
        CUIRect rect;
    };
    std::vector<Button> GetButtons() const;
    // The message as painted: its font, its lines and their height (known after the first paint).
    const CUIFont& GetMessageFont() const { return m_font; }
    const std::vector<std::string>& GetMessageLines() const { return m_lines; }
    int GetMessageLineHeight() const { return m_lineHeight; }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

protected:
    void OnInit() override;
    bool OnCommand(int id, int notification) override;

private:
    // Ends the dialog with the result of its button.
    class EndCommand : public IUIButtonCommand {
    public:
        EndCommand(CTransferStatusDialog& dialog, int result) : m_dialog(dialog), m_result(result) {}
        bool IsEnabled() const override { return true; }
        void Execute() override { m_dialog.End(m_result); }

    private:
        CTransferStatusDialog& m_dialog;
        int m_result;
    };
    struct Entry {
        uint32_t bitmap = 0;
        CUIImageButton button;
        std::unique_ptr<EndCommand> command;
    };

    void Layout();
    void Paint();
    // Chooses the font and breaks the message into the lines that fit the pane.
    void FitMessage(CUIDrawableRep& drawable);
    void OnMouse(const ui::Message& message);
    Entry* ButtonAt(CUIPoint point);

    CTransferStatusStyle m_style;
    CTransferStatusContent m_content;
    CUIFont m_font;
    std::vector<std::string> m_lines;
    int m_lineHeight = 0;
    std::optional<CUIImage> m_banner;
    std::optional<CUIImage> m_icon;
    std::vector<Entry> m_buttons;
};
