// The progress of `pxupload upload` in a terminal: one line per picture being moved (name, size text,
// status text) and a line for the whole run (a bar, the percentage, bytes, the time-remaining text and
// the count of pictures left). Rendering is a pure function of a frame, so it is tested without a
// terminal; CTerminalProgress redraws the block in place on a terminal.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class CTimeRemainingTable;

struct ProgressFrame {
    struct Picture {
        std::string name;
        uint64_t size = 0;
        int state = 0; // as the upload list shows it: 0 active, 1 complete, 2 failed
        double fraction = 0;
    };
    std::vector<Picture> active; // pictures being moved, in the list's order
    int overallState = 0;
    double overallFraction = 0;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    double secondsRemaining = -1; // negative: unknown
    uint64_t pending = 0;         // pictures not finished
    uint64_t total = 0;           // pictures of the run
    bool paused = false;
};

// The columns that UTF-8 `text` takes on a terminal: two for East Asian wide and full-width
// characters, none for combining marks, one for everything else (a byte that is not UTF-8 included).
size_t DisplayWidth(std::string_view text);
// `text` when it fits in `width` columns; else cut at a character boundary and ended with "...",
// the whole at most `width` columns.
std::string FitToWidth(std::string_view text, size_t width);

// The lines of the block, none wider than `width` columns (at least 40 are assumed).
std::vector<std::string> RenderProgress(const ProgressFrame& frame, const CTimeRemainingTable& times,
                                        size_t width);

// Draws the block on a terminal, replacing the previous one; lines written with Print scroll above it.
class CTerminalProgress {
public:
    CTerminalProgress(std::ostream& out, size_t width) : m_out(out), m_width(width) {}

    void Draw(const std::vector<std::string>& lines);
    // A line that stays: the block is cleared, the line written, and the block drawn again.
    void Print(const std::string& line);
    // Removes the block, leaving the cursor where it began.
    void Clear();

private:
    std::ostream& m_out;
    size_t m_width;
    std::vector<std::string> m_lines; // the block on the screen
};
