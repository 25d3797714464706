// A font of the toolkit, made from a font spec string ("Verdana-normal-13": family, style and size in
// pixels joined by "-") or from a standard font kind. An empty font is valid and stands for the
// drawing context's default font. Copies share the realised font.
#pragma once

#include "platform/draw_context.h"

#include <memory>
#include <string_view>

class CUIFont {
public:
    // Standard font kinds.
    static constexpr int kSystemFont = 0;
    static constexpr int kFixedFont = 1;
    static constexpr int kIconTitleFont = 2;
    static constexpr int kDialogFont = 3;

    CUIFont() = default; // empty

    // A font for the font description; empty when none can be made.
    static CUIFont FromSpec(std::string_view spec);
    // A standard kind (0..3); any other value gives an empty font.
    static CUIFont FromStandard(int kind);
    // The logical font record a spec asks for.
    static platform::LogicalFont ParseSpec(std::string_view spec);

    bool IsEmpty() const { return m_font == nullptr; }
    // Fonts made from a spec belong to this object and its copies; standard fonts are shared stock.
    bool IsOwned() const { return m_owned; }
    // This font, or the dialog font when it is empty: what callers that need a real font use.
    CUIFont OrDialogFont() const { return IsEmpty() ? FromStandard(kDialogFont) : *this; }

    // Of the font itself, or of the context's default font when empty.
    int GetHeight() const { return GetTextMetrics().height; }
    platform::TextMetrics GetTextMetrics() const;

    // The realised font (null when empty).
    const platform::Font* GetNative() const { return m_font.get(); }

    friend bool operator==(const CUIFont& a, const CUIFont& b) { return a.m_font == b.m_font; }

private:
    std::shared_ptr<const platform::Font> m_font;
    bool m_owned = false;
};
