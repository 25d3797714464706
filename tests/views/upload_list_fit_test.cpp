#include "views/upload_list_fit.h"

#include <gtest/gtest.h>

namespace {

// Every byte 10 pixels wide, like a fixed font.
int Bytes(std::string_view text) {
    return static_cast<int>(text.size()) * 10;
}

TEST(UploadListFit, ATextThatFitsIsKeptWhole) {
    EXPECT_EQ(FitTextToWidth("abcd", 40, "...", Bytes), "abcd");
    EXPECT_EQ(FitTextToWidth("", 0, "...", Bytes), "");
}

TEST(UploadListFit, ALongTextKeepsWhatFitsBesideTheEllipsis) {
    // 100 pixels, 30 of them for the ellipsis: seven characters.
    EXPECT_EQ(FitTextToWidth("abcdefghijkl", 100, "...", Bytes), "abcdefg...");
    EXPECT_EQ(FitTextToWidth("abcdefghijkl", 109, "...", Bytes), "abcdefg...");
    EXPECT_EQ(FitTextToWidth("abcdefghijkl", 110, "...", Bytes), "abcdefgh...");
    // Nothing fits beside it: the ellipsis alone; a negative width too.
    EXPECT_EQ(FitTextToWidth("abcdef", 35, "...", Bytes), "...");
    EXPECT_EQ(FitTextToWidth("abcdef", -5, "...", Bytes), "...");
}

TEST(UploadListFit, TheCutNeverSplitsAMultiByteCharacter) {
    // "é" is two bytes; after the "a", a cut after an even number of bytes falls inside one.
    const std::string text = "a\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    EXPECT_EQ(FitTextToWidth(text, 79, "...", Bytes), "a\xC3\xA9...");
    EXPECT_EQ(FitTextToWidth(text, 69, "...", Bytes), "a\xC3\xA9...");
    EXPECT_EQ(FitTextToWidth(text, 59, "...", Bytes), "a...");
    EXPECT_EQ(FitTextToWidth(text, 89, "...", Bytes), "a\xC3\xA9\xC3\xA9...");
}

} // namespace
