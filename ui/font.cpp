#include "ui/font.h"

#include "foundation/string_number.h"

namespace {

// A logical font record holds at most 31 bytes of face name.
constexpr size_t kMaxFaceBytes = 31;

constexpr int kWeightBold = 700;

// The part of text before the next "-", and the rest after it (empty when there is none).
std::string_view TakePart(std::string_view& text) {
    size_t dash = text.find('-');
    std::string_view part = text.substr(0, dash);
    text = dash == std::string_view::npos ? std::string_view() : text.substr(dash + 1);
    return part;
}

// Cut to a face name's room without splitting a UTF-8 character.
std::string_view FitFaceName(std::string_view face) {
    if (face.size() <= kMaxFaceBytes)
        return face;
    size_t end = kMaxFaceBytes;
    while (end > 0 && (static_cast<unsigned char>(face[end]) & 0xc0) == 0x80)
        --end;
    return face.substr(0, end);
}

} // namespace

platform::LogicalFont CUIFont::ParseSpec(std::string_view spec) {
    std::string_view rest = spec;
    std::string_view family = TakePart(rest);
    std::string_view style = TakePart(rest);
    std::string_view size = rest;

    platform::LogicalFont record;
    record.weight = 400;
    record.charSet = 1;
    if (style == "bold") {
        record.weight = kWeightBold;
    } else if (style == "italic") {
        record.italic = true;
    } else if (style == "boldItalic") {
        record.weight = kWeightBold;
        record.italic = true;
    }
    if (family == "fixed")
        record.pitchAndFamily = platform::kFamilyModern | platform::kFixedPitch;
    else if (family == "serif")
        record.pitchAndFamily = platform::kFamilyRoman | platform::kVariablePitch;
    else if (family == "sansserif")
        record.pitchAndFamily = platform::kFamilySwiss | platform::kVariablePitch;
    else
        record.faceName = std::string(FitFaceName(family));
    record.height = -StrToL32(size, 10);
    return record;
}

CUIFont CUIFont::FromSpec(std::string_view spec) {
    CUIFont font;
    font.m_font = platform::CreateFont(ParseSpec(spec));
    font.m_owned = font.m_font != nullptr;
    return font;
}

CUIFont CUIFont::FromStandard(int kind) {
    CUIFont font;
    switch (kind) {
    case kSystemFont:
        font.m_font = platform::GetStockFont(platform::StockFont::System);
        break;
    case kFixedFont:
        font.m_font = platform::GetStockFont(platform::StockFont::AnsiFixed);
        break;
    case kIconTitleFont:
        // Made, not stock, as the desktop's icon-title record is.
        font.m_font = platform::GetStockFont(platform::StockFont::IconTitle);
        font.m_owned = true;
        break;
    case kDialogFont:
        font.m_font = platform::GetStockFont(platform::StockFont::DefaultGui);
        break;
    default:
        break;
    }
    return font;
}

platform::TextMetrics CUIFont::GetTextMetrics() const {
    if (m_font != nullptr)
        return m_font->GetMetrics();
    return platform::GetStockFont(platform::StockFont::System)->GetMetrics();
}
