#include "views/time_remaining_table.h"

#include "foundation/string_format.h"
#include "foundation/string_number.h"
#include "platform/resources.h"
#include "views/upload_list_texts.h"

#include <algorithm>
#include <limits>

namespace {

constexpr uint32_t kStringTimeRemaining = 10058;
constexpr std::string_view kLineBreak = "\r\n";

// The integer part of x + 0.5 for x >= 0, held at the largest 64-bit count so that an absurd estimate
// still reads as a number instead of overflowing.
int64_t Near(double x) {
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    double shifted = x + 0.5;
    if (shifted >= kLimit)
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(shifted);
}

} // namespace

CTimeRemainingTable::CTimeRemainingTable(std::string_view table) {
    while (!table.empty()) {
        size_t end = table.find(kLineBreak);
        std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + kLineBreak.size());
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        m_rows.push_back({StrToL32(line.substr(0, equals), 10), std::string(line.substr(equals + 1))});
    }
    // Rows of 0 or less are all equal here, so the stable sort leaves them in the text's order.
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& a, const Row& b) {
        return a.threshold > 0 && (b.threshold <= 0 || a.threshold < b.threshold);
    });
}

CTimeRemainingTable CTimeRemainingTable::Load() {
    return CTimeRemainingTable(platform::LoadStringResource(kStringTimeRemaining).value_or(""));
}

std::string CTimeRemainingTable::Format(int state, double seconds) const {
    if (state != kUploadStateActive || !(seconds >= 0) || m_rows.empty())
        return std::string();
    auto last = m_rows.end() - 1;
    auto row = std::find_if(m_rows.begin(), last, [&](const Row& r) { return r.threshold >= seconds; });
    int64_t wholeSeconds = Near(seconds);
    int64_t minutes = Near(seconds / 60);
    return SubstituteArgs(row->text, {std::to_string(wholeSeconds), std::to_string(minutes),
                                      std::to_string(Near(seconds / 3600)), std::to_string(wholeSeconds % 60),
                                      std::to_string(minutes % 60)});
}
