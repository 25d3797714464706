// The toolkit's event vocabulary: one record per event, numbered and packed as Win32 window messages
// are, so that the toolkit's logic reads the same on every native layer. The numbers live in the
// namespace `ui` with a "kWm" prefix, so that they never clash with the macros of windows.h once a
// Win32 layer includes it. Header only: the native layers produce these records as well.
#pragma once

#include "platform/native_handles.h"

#include <cstdint>

namespace ui {

using MessageId = uint32_t;
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

struct Message {
    platform::NativeWindow window = nullptr; // null for thread messages (the thread timer, quit)
    MessageId message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
    uint32_t time = 0; // milliseconds of a monotonic clock, as message times count
};

inline constexpr MessageId kWmNull = 0x0000;
inline constexpr MessageId kWmCreate = 0x0001;
inline constexpr MessageId kWmDestroy = 0x0002;
inline constexpr MessageId kWmMove = 0x0003;
inline constexpr MessageId kWmSize = 0x0005;
inline constexpr MessageId kWmSetFocus = 0x0007;
inline constexpr MessageId kWmKillFocus = 0x0008;
inline constexpr MessageId kWmEnable = 0x000A;
inline constexpr MessageId kWmPaint = 0x000F;
inline constexpr MessageId kWmClose = 0x0010;
inline constexpr MessageId kWmQuit = 0x0012;
inline constexpr MessageId kWmSysColorChange = 0x0015;
inline constexpr MessageId kWmWinIniChange = 0x001A;
inline constexpr MessageId kWmSetCursor = 0x0020;
inline constexpr MessageId kWmNcMouseMove = 0x00A0;
inline constexpr MessageId kWmNcLButtonDown = 0x00A1;
inline constexpr MessageId kWmKeyDown = 0x0100;
inline constexpr MessageId kWmKeyUp = 0x0101;
inline constexpr MessageId kWmChar = 0x0102;
inline constexpr MessageId kWmInitDialog = 0x0110;
inline constexpr MessageId kWmCommand = 0x0111;
inline constexpr MessageId kWmTimer = 0x0113;
inline constexpr MessageId kWmMouseMove = 0x0200;
inline constexpr MessageId kWmLButtonDown = 0x0201;
inline constexpr MessageId kWmLButtonUp = 0x0202;
inline constexpr MessageId kWmLButtonDblClk = 0x0203;
inline constexpr MessageId kWmRButtonDown = 0x0204;
inline constexpr MessageId kWmRButtonUp = 0x0205;
inline constexpr MessageId kWmMouseWheel = 0x020A;
inline constexpr MessageId kWmDropFiles = 0x0233;
inline constexpr MessageId kWmContextMenu = 0x007B;
inline constexpr MessageId kWmUser = 0x0400;
inline constexpr MessageId kWmApp = 0x8000;

// The toolkit's private messages.
inline constexpr MessageId kWmRunPendingWork = 0x8002; // timers, cross-thread calls, idle work
inline constexpr MessageId kWmMouseEntered = 0x8003;
inline constexpr MessageId kWmMouseLeft = 0x8004;
inline constexpr MessageId kWmDragOver = 0x8005; // wParam 1: files dragged in, 0: left or dropped

// Notification codes in the high word of WM_COMMAND's wParam.
inline constexpr uint16_t kBnClicked = 0;
inline constexpr uint16_t kEnChange = 0x0300;

// Mouse-message key state in wParam.
inline constexpr WParam kMkLButton = 0x0001;
inline constexpr WParam kMkRButton = 0x0002;
inline constexpr WParam kMkShift = 0x0004;
inline constexpr WParam kMkControl = 0x0008;
inline constexpr WParam kMkMButton = 0x0010;

// Virtual keys that the views use; letters and digits are their upper-case ASCII codes.
inline constexpr uint32_t kVkBack = 0x08;
inline constexpr uint32_t kVkTab = 0x09;
inline constexpr uint32_t kVkReturn = 0x0D;
inline constexpr uint32_t kVkShift = 0x10;
inline constexpr uint32_t kVkControl = 0x11;
inline constexpr uint32_t kVkEscape = 0x1B;
inline constexpr uint32_t kVkSpace = 0x20;
inline constexpr uint32_t kVkPrior = 0x21;
inline constexpr uint32_t kVkNext = 0x22;
inline constexpr uint32_t kVkEnd = 0x23;
inline constexpr uint32_t kVkHome = 0x24;
inline constexpr uint32_t kVkLeft = 0x25;
inline constexpr uint32_t kVkUp = 0x26;
inline constexpr uint32_t kVkRight = 0x27;
inline constexpr uint32_t kVkDown = 0x28;
inline constexpr uint32_t kVkDelete = 0x2E;
inline constexpr uint32_t kVkF1 = 0x70;
inline constexpr uint32_t kVkApps = 0x5D;

// Dialog results and the standard control ids.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

constexpr uint16_t LoWord(uintptr_t value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}
constexpr uint16_t HiWord(uintptr_t value) {
    return static_cast<uint16_t>((value >> 16) & 0xFFFF);
}
constexpr WParam MakeWParam(uint16_t low, uint16_t high) {
    return static_cast<WParam>(low) | (static_cast<WParam>(high) << 16);
}
// Client coordinates as WM_MOUSEMOVE and the button messages pack them: signed 16-bit x and y.
constexpr LParam MakePointLParam(int x, int y) {
    return static_cast<LParam>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}
constexpr int GetXLParam(LParam value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
}
constexpr int GetYLParam(LParam value) {
    return static_cast<int16_t>(static_cast<uint16_t>((value >> 16) & 0xFFFF));
}

} // namespace ui
