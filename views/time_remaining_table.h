// The time-remaining text under the upload list's progress bar ("About one minute", "1 hour, 15
// minutes"): rows of (threshold in seconds, template) from the string table, chosen by the estimate
// and filled with it in seconds, minutes and hours. Immutable once built, so any thread may format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CTimeRemainingTable {
public:
    struct Row {
        int32_t threshold; // seconds; a row of 0 or less only ever follows every positive row
        std::string text;  // %1 seconds, %2 minutes, %3 hours, %4 seconds and %5 minutes past the unit
    };

    // Lines "THRESHOLD=TEMPLATE" separated by CR LF. The threshold is a decimal number (empty or not a
    // number: 0); the template is everything after the first "="; a line without "=" is skipped.
    explicit CTimeRemainingTable(std::string_view table);

    // The module's table (string 10058); no rows when the module has none.
    static CTimeRemainingTable Load();

    // The first row whose threshold is at least `seconds`, else the last row, filled in. Nothing while
    // the progress is not active, for an unknown estimate (negative or NaN), or without rows.
    std::string Format(int state, double seconds) const;

    // Positive thresholds ascending first, then the other rows in the order the text gave them.
    const std::vector<Row>& Rows() const { return m_rows; }

private:
    std::vector<Row> m_rows;
};
