#include "ui/color.h"

#include "foundation/color_text.h"
#include "platform/system_colors.h"

CUIColor CUIColor::FromString(std::string_view text) {
    uint32_t rgb = ParseColorText(text);
    return CUIColor(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                    static_cast<uint8_t>(rgb));
}

uint32_t CUIColor::GetPacked() const {
    return IsSystem() ? platform::GetSysColor(m_systemIndex) : m_packed;
}
