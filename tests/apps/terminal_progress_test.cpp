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

// Whether `text` is well-formed UTF-8 throughout.
bool IsWholeUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

TEST_F(TerminalProgressTest, NamesAreCutOnCharactersByTheirWidthOnScreen) {
    const std::string e = "\xc3\xa9";           // é: two bytes, one column
    const std::string han = "\xe5\x86\x99";     // 写: three bytes, two columns
    const std::string acute = "\xcc\x81";       // a combining acute accent: no column
    const std::string emoji = "\xf0\x9f\x93\xb7"; // a camera: four bytes, two columns
    EXPECT_EQ(DisplayWidth("abc"), 3u);
    EXPECT_EQ(DisplayWidth(e + e), 2u);
    EXPECT_EQ(DisplayWidth(han + "x"), 3u);
    EXPECT_EQ(DisplayWidth("e" + acute), 1u);
    EXPECT_EQ(DisplayWidth(emoji), 2u);
    EXPECT_EQ(DisplayWidth("\xff\xc3"), 2u); // bytes that are no UTF-8 take a column each

    EXPECT_EQ(FitToWidth(e + e + e, 3), e + e + e);
    EXPECT_EQ(FitToWidth(std::string(10, 'a'), 6), "aaa...");
    // Never half a character: é (1 column) fits whole; a wide character that would overrun is left out.
    EXPECT_EQ(FitToWidth(e + e + e + e + e + e + e, 6), e + e + e + "...");
    EXPECT_EQ(FitToWidth("a" + han + han + han, 6), "a" + han + "...");
    // A combining mark stays with its letter.
    EXPECT_EQ(FitToWidth("e" + acute + "e" + acute + "xxxxxxx", 5), "e" + acute + "e" + acute + "...");

    const CTimeRemainingTable times = CTimeRemainingTable::Load();
    ProgressFrame frame = TwoActive();
    std::string wide;
    for (int i = 0; i < 60; ++i)
        wide += (i % 2 == 0 ? han : e);
    frame.active[1].name = wide + ".jpg";
    frame.active[0].name = "\xc3\x89t\xc3\xa9 " + emoji + " photo.jpg";
    for (size_t width : {40u, 61u, 80u, 100u}) {
        std::vector<std::string> lines = RenderProgress(frame, times, width);
        ASSERT_EQ(lines.size(), 3u);
        for (const std::string& line : lines) {
            EXPECT_TRUE(IsWholeUtf8(line)) << width << ": " << line;
            EXPECT_LE(DisplayWidth(line), width) << line;
        }
        // The columns after the name line up whatever the name is made of.
        EXPECT_EQ(DisplayWidth(lines[0]), DisplayWidth(lines[1])) << lines[0] << "\n" << lines[1];
        // The cut name ends in "..." (a space after it where a wide character did not fit).
        EXPECT_NE(lines[1].find("..."), std::string::npos) << lines[1];
        EXPECT_NE(lines[1].find(" 1.00MB  50%"), std::string::npos) << lines[1];
    }
    // At 100 columns the short name is padded by its columns, not its bytes.
    EXPECT_EQ(RenderProgress(frame, times, 100)[0],
              "  \xc3\x89t\xc3\xa9 " + emoji + " photo.jpg" + std::string(79 - 16, ' ') + "   1.50KB  99%");
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
