// The upload list's texts that depend only on numbers and names: an item's status, the album header
// and the count of pictures left. The host program's terminal progress shows the same texts. The size
// column's text is FormatSizeText (pictures/size_text.h), the time remaining CTimeRemainingTable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The states of an upload item and of the overall progress, as the session reports them.
constexpr int kUploadStateActive = 0; // in progress or waiting
constexpr int kUploadStateComplete = 1;
constexpr int kUploadStateFailed = 2;

// While active, the fraction done (0 to 1) as a whole percentage truncated toward zero ("99%");
// "Complete"; "Error -- Click for details..."; nothing for any other state.
std::string FormatStatusText(int state, double fraction);

// "Uploading": names the activity where a percentage would say too much.
std::string UploadingText();

// "Adding to album: NAME", with "<unnamed>" standing for an empty name.
std::string FormatAlbumHeaderText(std::string_view album);

// "PENDING of TOTAL remaining", or nothing unless both counts are non-zero.
std::string FormatRemainingCountText(uint64_t pending, uint64_t total);
