#include "views/upload_list_texts.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

#include <cmath>

namespace {

constexpr uint32_t kStringUploading = 10001;
constexpr uint32_t kStringComplete = 10003;
constexpr uint32_t kStringFailed = 10004;      // "Error -- Click for details..."
constexpr uint32_t kStringAlbumHeader = 10053; // "Adding to album: %1"
constexpr uint32_t kStringUnnamedAlbum = 10054;
constexpr uint32_t kStringRemaining = 10055; // "%1 of %2 remaining"

// The session keeps the fraction within 0 to 1; holding it there also keeps the conversion to int
// defined for any value, NaN included.
int WholePercent(double fraction) {
    if (!(fraction > 0))
        return 0;
    return static_cast<int>(std::fmin(fraction, 1.0) * 100);
}

} // namespace

std::string FormatStatusText(int state, double fraction) {
    switch (state) {
    case kUploadStateActive:
        return FormatString("%d%%", WholePercent(fraction));
    case kUploadStateComplete:
        return platform::LoadText(kStringComplete);
    case kUploadStateFailed:
        return platform::LoadText(kStringFailed);
    default:
        return std::string();
    }
}

std::string UploadingText() {
    return platform::LoadText(kStringUploading);
}

std::string FormatAlbumHeaderText(std::string_view album) {
    std::string name = album.empty() ? platform::LoadText(kStringUnnamedAlbum) : std::string(album);
    return SubstituteArgs(platform::LoadText(kStringAlbumHeader), {name});
}

std::string FormatRemainingCountText(uint64_t pending, uint64_t total) {
    if (pending == 0 || total == 0)
        return std::string();
    return SubstituteArgs(platform::LoadText(kStringRemaining),
                          {std::to_string(pending), std::to_string(total)});
}
