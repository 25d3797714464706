#include "tests/support/catalogues.h"
#include "views/upload_list_texts.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

class UploadListTexts : public CataloguesInstalled {};

TEST_F(UploadListTexts, StatusTextByStateAndFraction) {
    const struct {
        int state;
        double fraction;
        const char* text;
    } cases[] = {
        {0, 0.0, "0%"},                            // nothing sent yet
        {0, 0.999, "99%"},                         // truncated, never rounded up to 100%
        {0, 0.5, "50%"},                           // the plain case
        {0, 1.0, "100%"},                          // every byte sent, not yet confirmed
        {0, -0.5, "0%"},                           // a fraction below 0 is held at 0
        {0, 3.0, "100%"},                          // and one above 1 at 1
        {0, std::nan(""), "0%"},                   // NaN neither crashes nor prints garbage
        {0, 1e300, "100%"},                        // no overflow of the conversion to int
        {1, 0.0, "Complete"},                      // complete whatever the fraction
        {1, 0.42, "Complete"},                     // a stale fraction is not shown
        {2, 0.7, "Error -- Click for details..."}, // a failure invites the click on its details
        {3, 0.5, ""},                              // an unknown state shows nothing
        {-1, 0.5, ""},                             // negative states too
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatStatusText(c.state, c.fraction), c.text) << c.state << " " << c.fraction;
    EXPECT_EQ(UploadingText(), "Uploading");
}

TEST_F(UploadListTexts, AlbumHeaderNamesTheAlbumOrUnnamed) {
    EXPECT_EQ(FormatAlbumHeaderText("Holidays 2004"), "Adding to album: Holidays 2004");
    // An empty name reads as unnamed.
    EXPECT_EQ(FormatAlbumHeaderText(""), "Adding to album: <unnamed>");
    // A placeholder inside the name is text, not a second substitution.
    EXPECT_EQ(FormatAlbumHeaderText("100%1 %2"), "Adding to album: 100%1 %2");
}

TEST_F(UploadListTexts, RemainingCountOnlyWhenBothCountsAreSet) {
    const struct {
        uint64_t pending;
        uint64_t total;
        const char* text;
    } cases[] = {
        {3, 10, "3 of 10 remaining"},                                   // the plain case, pending first
        {0, 10, ""},                                                    // nothing pending: no text
        {3, 0, ""},                                                     // no total: no text
        {5000000000, 6000000000, "5000000000 of 6000000000 remaining"}, // counts beyond 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatRemainingCountText(c.pending, c.total), c.text) << c.pending << " " << c.total;
}

} // namespace
