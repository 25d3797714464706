#include "views/transfer_status.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

namespace {
constexpr uint32_t kStringNoSuccess = 10089;
constexpr uint32_t kStringAllWent = 10079;
constexpr uint32_t kStringSomeFailed = 10080;
constexpr uint32_t kStringPictureWas = 10090;
constexpr uint32_t kStringPicturesWere = 10091;
constexpr uint32_t kStringPicture = 10081;
constexpr uint32_t kStringPictures = 10082;
constexpr uint32_t kBannerIncomplete = 195, kIconError = 194, kBannerComplete = 197, kIconOk = 196;

} // namespace

CTransferStatusContent MakeTransferStatusContent(uint64_t successes, uint64_t failures) {
    CTransferStatusContent content;
    if (successes == 0) {
        content.message = platform::LoadText(kStringNoSuccess);
        content.banner = kBannerIncomplete;
        content.icon = kIconError;
        content.buttons = {kTransferStatusRetryFailed};
        return content;
    }
    std::string went = std::to_string(successes);
    std::string wentNoun = platform::LoadText(successes == 1 ? kStringPictureWas : kStringPicturesWere);
    if (failures == 0) {
        content.message = SubstituteArgs(platform::LoadText(kStringAllWent), {went, wentNoun});
        content.banner = kBannerComplete;
        content.icon = kIconOk;
        content.buttons = {kTransferStatusAddMore, kTransferStatusViewPictures};
        return content;
    }
    content.message = SubstituteArgs(platform::LoadText(kStringSomeFailed),
                                     {went, wentNoun, std::to_string(failures),
                                      platform::LoadText(failures == 1 ? kStringPicture : kStringPictures)});
    content.banner = kBannerIncomplete;
    content.icon = kIconError;
    content.buttons = {kTransferStatusRetryFailed, kTransferStatusViewPictures};
    return content;
}

int TransferStatusResultOf(uint32_t button) {
    return button == kTransferStatusViewPictures ? kTransferStatusResultView : kTransferStatusResultOther;
}
