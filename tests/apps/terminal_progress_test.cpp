// The terminal progress block: one line per active picture and the overall line, never wider than the
// terminal, with the upload list's size, status and time-remaining texts.
#include "apps/pxupload/terminal_progress.h"
#include "tests/support/catalogues.h"
#include "views/time_remaining_table.h"

#include <sstream>

#include <gtest/gtest.h>

namespace {

class TerminalProgressTest : public CataloguesInstalled {};

ProgressFrame TwoActive() {
    ProgressFrame frame;
    frame.active = {{"IMG_0001.jpg", 1536, 0, 0.999}, {std::string(200, 'n') + ".jpg", 1024 * 1024, 0, 0.5}};
    frame.overallFraction = 0.42;
    frame.bytesDone = 1536;
    frame.bytesTotal = 3 * 1024 * 1024;
    frame.secondsRemaining = 4500;
    frame.pending = 3;
    frame.total = 10;
    return frame;
}

// At 100 columns the name column is 79 wide, the size column 8; the status follows two spaces on.
TEST_F(TerminalProgressTest, LinesCarryTheListTextsAndFitTheWidth) {
    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    std::vector<std::string> lines = RenderProgress(TwoActive(), times, 100);
    ASSERT_EQ(lines.size(), 3u);
    // 99.9% is shown truncated, never rounded up to done.
    EXPECT_EQ(lines[0], "  IMG_0001.jpg" + std::string(79 - 12, ' ') + "   1.50KB  99%");
    // A long name is cut to the column with "..." and the size and status still show.
    EXPECT_EQ(lines[1], "  " + std::string(76, 'n') + "...   1.00MB  50%");
    EXPECT_EQ(lines[2],
              "[########............]  42%  1.50KB of 3.00MB  1 hour, 15 minutes  (3 of 10 remaining)");
    for (size_t width : {40u, 60u, 80u, 200u})
        for (const std::string& line : RenderProgress(TwoActive(), times, width))
            EXPECT_LE(line.size(), width) << line;
    // The narrowest block keeps the status whole and cuts the overall line.
    std::vector<std::string> narrow = RenderProgress(TwoActive(), times, 40);
    EXPECT_EQ(narrow[0], "  IMG_0001.jpg" + std::string(19 - 12, ' ') + "   1.50KB  99%");
    EXPECT_EQ(narrow[2], "[########............]  42%  1.50KB o...");
}

TEST_F(TerminalProgressTest, PausedAndUnknownShowNoEstimate) {
    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    ProgressFrame frame = TwoActive();
    frame.paused = true;
    EXPECT_EQ(RenderProgress(frame, times, 120).back(),
              "[########............]  42%  1.50KB of 3.00MB  paused  (3 of 10 remaining)");

    frame.paused = false;
    frame.secondsRemaining = -1;
    frame.active.clear();
    frame.pending = 0; // nothing left to count: no count text
    EXPECT_EQ(RenderProgress(frame, times, 120),
              (std::vector<std::string>{"[########............]  42%  1.50KB of 3.00MB"}));
}

TEST_F(TerminalProgressTest, TheBlockIsRedrawnInPlaceAndPrintedLinesStay) {
    std::ostringstream out;
    CTerminalProgress progress(out, 80);
    progress.Draw({"a", "b"});
    progress.Print("done x");
    progress.Clear();
    // Draw; then up two lines and erase, the line, the block again; then up two and erase.
    EXPECT_EQ(out.str(), "a\nb\n\x1b[2F\x1b[Jdone x\na\nb\n\x1b[2F\x1b[J");
}

} // namespace
