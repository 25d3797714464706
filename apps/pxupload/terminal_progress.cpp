#include "apps/pxupload/terminal_progress.h"

#include "apps/pxupload/host_texts.h"
#include "pictures/size_text.h"
#include "views/time_remaining_table.h"
#include "views/upload_list_texts.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kMinWidth = 40;
constexpr size_t kBarWidth = 20;
constexpr const char* kEllipsis = "...";

// Cut to `width` bytes, ending in "..." when something was cut.
std::string Fit(const std::string& text, size_t width) {
    if (text.size() <= width)
        return text;
    if (width <= 3)
        return text.substr(0, width);
    std::string cut = text.substr(0, width - 3);
    cut.append(kEllipsis);
    return cut;
}

std::string PadRight(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
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
