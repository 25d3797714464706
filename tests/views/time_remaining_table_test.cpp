#include "tests/support/catalogues.h"
#include "views/time_remaining_table.h"

#include <cmath>
#include <limits>
#include <utility>

#include <gtest/gtest.h>

namespace {

class TimeRemainingTable : public CataloguesInstalled {};

TEST_F(TimeRemainingTable, ModuleTableSortsPositiveThresholdsFirst) {
    CTimeRemainingTable table = CTimeRemainingTable::Load();
    std::vector<int32_t> thresholds;
    for (const auto& row : table.Rows())
        thresholds.push_back(row.threshold);
    EXPECT_EQ(thresholds, (std::vector<int32_t>{7, 20, 40, 90, 3000, 4000, 7199, 7259, 7319, 10799, 0, -1}));
    ASSERT_EQ(table.Rows().size(), 12u);
    EXPECT_EQ(table.Rows()[0].text, "A few seconds");
    EXPECT_EQ(table.Rows()[10].text, "Stalled"); // the empty threshold reads as 0
    EXPECT_EQ(table.Rows()[11].text, "Over %3 hours");
}

TEST_F(TimeRemainingTable, ModuleTextsForEstimates) {
    CTimeRemainingTable table = CTimeRemainingTable::Load();
    const std::pair<double, const char*> cases[] = {
        {0, "A few seconds"},                      // the 0 row after the positive ones is never reached
        {7, "A few seconds"},                      // a threshold includes its own value
        {8, "8 seconds"},                          // first value past a threshold
        {8.5, "9 seconds"},                        // %1 is rounded half up
        {21, "Less than a minute"},                // a template without placeholders
        {91, "2 minutes"},                         // %2 rounds 1.52 minutes
        {3001, "About one hour"},                  // just past the minutes row
        {4500, "1 hour, 15 minutes"},              // %5: minutes past the hour
        {7200, "2 hours"},                         // the whole-hours row between two minute rows
        {7260, "2 hours, 1 minute"},               // the singular minute has its own row
        {7320, "2 hours, 2 minutes"},              // %5 past two hours
        {10799, "2 hours, 0 minutes"},             // 179.98 minutes round to 180, which is 0 past the hour
        {10800, "Over 3 hours"},                   // past every positive row: the last row
        {20000, "Over 6 hours"},                   // %3 rounds 5.56 hours
        {1e12, "Over 277777778 hours"},            // hours beyond 32 bits
        {1e300, "Over 9223372036854775807 hours"}, // beyond 64 bits: held at the largest count, no overflow
        {std::numeric_limits<double>::infinity(), "Over 9223372036854775807 hours"}, // infinity likewise
        {-1, ""},           // unknown estimate: no text
        {-0.001, ""},       // any negative estimate, however small
        {std::nan(""), ""}, // NaN counts as unknown
    };
    for (auto [seconds, text] : cases)
        EXPECT_EQ(table.Format(0, seconds), text) << seconds;
    // Only running progress has a time remaining.
    EXPECT_EQ(table.Format(1, 60), "");
    EXPECT_EQ(table.Format(2, 60), "");
    EXPECT_EQ(table.Format(7, 60), "");
}

TEST_F(TimeRemainingTable, OddTablesSortAsWritten) {
    // Non-positive rows keep their order among themselves, wherever they stand in the text.
    CTimeRemainingTable table("=Zero\r\n30=Thirty\r\n-2=MinusTwo\r\n10=Ten\r\n0=AlsoZero\r\n10=TenAgain");
    std::vector<std::pair<int32_t, std::string>> rows;
    for (const auto& row : table.Rows())
        rows.emplace_back(row.threshold, row.text);
    EXPECT_EQ(
        rows,
        (std::vector<std::pair<int32_t, std::string>>{
            {10, "Ten"}, {10, "TenAgain"}, {30, "Thirty"}, {0, "Zero"}, {-2, "MinusTwo"}, {0, "AlsoZero"}}));
}

TEST_F(TimeRemainingTable, OddTablesFormatSafely) {
    const struct {
        const char* table;
        double seconds;
        const char* text;
    } cases[] = {
        {"", 5, ""},                                           // no rows: no text
        {"no equals sign\r\nnor here", 5, ""},                 // lines without "=" are not rows
        {"=Stalled\r\n-1=Over %3 hours", 0, "Stalled"},        // only non-positive rows: 0 >= 0 still matches
        {"=Stalled\r\n-1=Over %3 hours", 5, "Over 0 hours"},   // and otherwise the last row
        {"junk\r\n10=Soon\r\n\r\n=", 5, "Soon"},               // blank and junk lines are skipped
        {"junk\r\n10=Soon\r\n\r\n=", 50, ""},                  // the last row's template may be empty
        {"5=a=b", 1, "a=b"},                                   // the template starts after the first "="
        {"x5=word threshold\r\n3=three", 4, "word threshold"}, // a threshold that is no number is 0
        {" 20 =padded", 1, "padded"},                          // the number may be led by spaces
        {"7=Soon\n20=Later", 1, "Soon\n20=Later"},             // a lone LF separates nothing
        {"100=%4 s\r\n-1=%9 and %%1", 61, "1 s"},              // %4: seconds past the minute
        {"100=%4 s\r\n-1=%9 and %%1", 200, "%9 and %%1"},      // unknown and escaped placeholders stay
        {"10=first\r\n10=second\r\n-1=last", 5, "first"},      // equal thresholds: the earlier row wins
    };
    for (const auto& c : cases)
        EXPECT_EQ(CTimeRemainingTable(c.table).Format(0, c.seconds), c.text) << c.table << " @ " << c.seconds;
}

} // namespace
