// A colour of the toolkit: 24-bit RGB packed as red in the low byte, then green, then blue (the
// native colour value layout), or a system colour by index, resolved each time it is used so that
// a change of the desktop's theme shows at the next paint.
#pragma once

#include <cstdint>
#include <string_view>

class CUIColor {
public:
    constexpr CUIColor() = default; // black
    constexpr CUIColor(uint8_t red, uint8_t green, uint8_t blue)
        : m_packed(red | (green << 8) | (blue << 16)) {}

    static constexpr CUIColor FromPacked(uint32_t packed) {
        CUIColor color;
        color.m_packed = packed & 0xffffff;
        return color;
    }
    static constexpr CUIColor FromSystem(int index) {
        CUIColor color;
        color.m_systemIndex = index;
        return color;
    }
    // "#" and a hexadecimal number (0xRRGGBB), or an HTML colour name; anything else is black.
    static CUIColor FromString(std::string_view text);

    bool IsSystem() const { return m_systemIndex >= 0; }
    int GetSystemIndex() const { return m_systemIndex; }

    // The packed value now (a system colour is looked up).
    uint32_t GetPacked() const;
    uint8_t Red() const { return GetPacked() & 0xff; }
    uint8_t Green() const { return (GetPacked() >> 8) & 0xff; }
    uint8_t Blue() const { return (GetPacked() >> 16) & 0xff; }

    friend bool operator==(const CUIColor&, const CUIColor&) = default;

private:
    uint32_t m_packed = 0;
    int m_systemIndex = -1;
};
