// What the Transfer Status dialog shows after an upload run, by the counts of pictures that went and
// that failed: the message, the banner and icon bitmaps, and the image buttons from left to right.
// Button 198 ("View pictures") ends the dialog with 1, the others with 2.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CTransferStatusContent {
    std::string message;
    uint32_t banner = 0;
    uint32_t icon = 0;
    std::vector<uint32_t> buttons;
};

constexpr uint32_t kTransferStatusViewPictures = 198;
constexpr uint32_t kTransferStatusAddMore = 199;
constexpr uint32_t kTransferStatusRetryFailed = 200;
constexpr int kTransferStatusResultView = 1;
constexpr int kTransferStatusResultOther = 2;

CTransferStatusContent MakeTransferStatusContent(uint64_t successes, uint64_t failures);

// The dialog's result for a click on the button made from bitmap `button`.
int TransferStatusResultOf(uint32_t button);
