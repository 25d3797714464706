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

TEST_F(TerminalProgressTest, LinesCarryTheListTextsAndFitTheWidth) {
    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    std::vector<std::string> lines = RenderProgress(TwoActive(), times, 100);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("IMG_0001.jpg"), std::string::npos);
    EXPECT_NE(lines[0].find("1.50KB"), std::string::npos);
    EXPECT_NE(lines[0].find("99%"), std::string::npos); // truncated, never rounded up to done
    // A long name is cut with "..." and the size and status still show.
    EXPECT_NE(lines[1].find("...  "), std::string::npos);
    EXPECT_NE(lines[1].find("1.00MB"), std::string::npos);
    EXPECT_NE(lines[1].find("50%"), std::string::npos);
    EXPECT_NE(lines[2].find("[########............]  42%"), std::string::npos);
    EXPECT_NE(lines[2].find("1.50KB of 3.00MB"), std::string::npos);
    EXPECT_NE(lines[2].find("1 hour, 15 minutes"), std::string::npos);
    EXPECT_NE(lines[2].find("3 of 10 remaining"), std::string::npos);
    for (size_t width : {40u, 60u, 80u, 200u})
        for (const std::string& line : RenderProgress(TwoActive(), times, width))
            EXPECT_LE(line.size(), width) << line;
}

TEST_F(TerminalProgressTest, PausedAndUnknownShowNoEstimate) {
    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    ProgressFrame frame = TwoActive();
    frame.paused = true;
    std::string overall = RenderProgress(frame, times, 120).back();
    EXPECT_NE(overall.find("paused"), std::string::npos);
    EXPECT_EQ(overall.find("hour"), std::string::npos);

    frame.paused = false;
    frame.secondsRemaining = -1;
    frame.active.clear();
    frame.pending = 0; // nothing left to count: no count text
    std::vector<std::string> lines = RenderProgress(frame, times, 120);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find("remaining"), std::string::npos);
    EXPECT_EQ(lines[0].find("hour"), std::string::npos);
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
