#include "apps/pxupload/terminal_progress.h"

#include "apps/pxupload/host_texts.h"
#include "pictures/size_text.h"
#include "views/time_remaining_table.h"
#include "views/upload_list_texts.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr size_t kMinWidth = 40;
constexpr size_t kBarWidth = 20;
constexpr const char* kEllipsis = "...";

// One character of UTF-8 at `at`: its code point and length in bytes. A byte that starts no valid
// sequence is a character of its own (code point 0xFFFD), so that every byte is shown somehow.
struct Character {
    char32_t code;
    size_t length;
};

Character Decode(std::string_view text, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(at);
    if (first < 0x80)
        return {first, 1};
    size_t length = first >= 0xF0 && first <= 0xF4 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 && first < 0xE0 ? 2 : 0;
    if (first >= 0xF5 || length == 0 || at + length > text.size())
        return {0xFFFD, 1};
    char32_t code = first & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0xFFFD, 1};
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are not characters.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return {0xFFFD, 1};
    return {code, length};
}

size_t CharacterWidth(char32_t c) {
    struct Range {
        char32_t first, last;
    };
    static constexpr Range kZero[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
                                      {0x064B, 0x065F}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF},
                                      {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F},
                                      {0xFE20, 0xFE2F}};
    static constexpr Range kWide[] = {{0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF},
                                      {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF},
                                      {0xAC00, 0xD7A3}, {0xF900, 0xFAFF}, {0xFE30, 0xFE4F},
                                      {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
                                      {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    auto in = [c](const auto& ranges) {
        return std::any_of(std::begin(ranges), std::end(ranges),
                           [c](const Range& r) { return c >= r.first && c <= r.last; });
    };
    if (in(kZero))
        return 0;
    return in(kWide) ? 2 : 1;
}

std::string Fit(const std::string& text, size_t width) {
    return FitToWidth(text, width);
}

std::string PadRight(const std::string& text, size_t width) {
    size_t columns = DisplayWidth(text);
    return columns >= width ? text : text + std::string(width - columns, ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
    size_t columns = DisplayWidth(text);
    return columns >= width ? text : std::string(width - columns, ' ') + text;
}

std::string Bar(double fraction) {
    fraction = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    size_t filled = static_cast<size_t>(fraction * kBarWidth);
    std::string bar(kBarWidth + 2, '.');
    bar.front() = '[';
    bar.back() = ']';
    std::fill_n(bar.begin() + 1, std::min(filled, kBarWidth), '#');
    return bar;
}

} // namespace

size_t DisplayWidth(std::string_view text) {
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        Character c = Decode(text, at);
        columns += CharacterWidth(c.code);
        at += c.length;
    }
    return columns;
}

std::string FitToWidth(std::string_view text, size_t width) {
    if (DisplayWidth(text) <= width)
        return std::string(text);
    const size_t ellipsis = std::string_view(kEllipsis).size();
    size_t room = width > ellipsis ? width - ellipsis : width;
    size_t columns = 0, end = 0;
    for (size_t at = 0; at < text.size();) {
        Character c = Decode(text, at);
        size_t w = CharacterWidth(c.code);
        if (columns + w > room)
            break;
        columns += w;
        at += c.length;
        end = at;
    }
    std::string cut(text.substr(0, end));
    if (width > ellipsis)
        cut.append(kEllipsis);
    return cut;
}

std::vector<std::string> RenderProgress(const ProgressFrame& frame, const CTimeRemainingTable& times,
                                        size_t width) {
    width = std::max(width, kMinWidth);
    std::vector<std::string> lines;
    // name | size | status: the status column holds "Error -- Click for details..." whole.
    const size_t statusWidth = 8, sizeWidth = 8;
    const size_t nameWidth = width - 2 - sizeWidth - 2 - statusWidth - 1;
    for (const ProgressFrame::Picture& picture : frame.active) {
        std::string line = "  ";
        line.append(PadRight(Fit(picture.name, nameWidth), nameWidth))
            .append(" ")
            .append(PadLeft(FormatSizeText(picture.size), sizeWidth))
            .append("  ")
            .append(FormatStatusText(picture.state, picture.fraction));
        lines.push_back(Fit(line, width));
    }
    std::string overall = Bar(frame.overallFraction);
    overall.append(" ")
        .append(PadLeft(FormatStatusText(kUploadStateActive, frame.overallFraction), 4))
        .append("  ")
        .append(FormatSizeText(frame.bytesDone))
        .append(" of ")
        .append(FormatSizeText(frame.bytesTotal));
    if (frame.paused) {
        overall += "  " + HostText(host_text::kPaused);
    } else {
        std::string remaining = times.Format(frame.overallState, frame.secondsRemaining);
        if (!remaining.empty())
            overall += "  " + remaining;
    }
    std::string count = FormatRemainingCountText(frame.pending, frame.total);
    if (!count.empty())
        overall += "  (" + count + ")";
    lines.push_back(Fit(overall, width));
    return lines;
}

void CTerminalProgress::Draw(const std::vector<std::string>& lines) {
    Clear();
    for (const std::string& line : lines)
        m_out << Fit(line, m_width - 1) << "\n";
    m_lines = lines;
    m_out.flush();
}

void CTerminalProgress::Print(const std::string& line) {
    std::vector<std::string> block = m_lines;
    Clear();
    m_out << line << "\n";
    Draw(block);
}

void CTerminalProgress::Clear() {
    if (m_lines.empty())
        return;
    // Up to the block's first line, then erase to the end of the screen.
    m_out << "\x1b[" << m_lines.size() << "F\x1b[J";
    m_lines.clear();
}
