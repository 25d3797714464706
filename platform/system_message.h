// The operating system's text for a Win32 error number, as the system gives it (in the neutral
// language, trailing line break included), or "" when it has none. On Windows the text is
// FormatMessageA's (Wine's wording is its own); COM's registry results, which not every system's
// table has, then read as Windows words them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Win32 error numbers that the layers under platform/ report.
enum Win32Error : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorInvalidData = 13,
    kErrorOutOfMemory = 14,
    kErrorWriteFault = 29,
    kErrorReadFault = 30,
    kErrorSharingViolation = 32,
    kErrorLockViolation = 33,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorCallNotImplemented = 120,
    kErrorInsufficientBuffer = 122,
    kErrorInvalidName = 123,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorBusy = 170,
    kErrorAlreadyExists = 183,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
    kErrorBadPathname = 161,
    kErrorKeyDeleted = 1018,
    kErrorBadDatabase = 1009,
    kErrorBadKey = 1010,
    kErrorCantOpenKey = 1011,
    kErrorCantRead = 1012,
    kErrorCantWrite = 1013,
    kErrorRegistryRecovered = 1014,
    kErrorRegistryCorrupt = 1015,
    kErrorRegistryIOFailed = 1016,
    kErrorNotRegistryFile = 1017,
    kErrorChildMustBeVolatile = 1021,
    kErrorInvalidWindowHandle = 1400,
    kErrorInvalidMenuHandle = 1401,
    kErrorClassAlreadyExists = 1410,
    kErrorClassDoesNotExist = 1411,
    kErrorCannotFindWndClass = 1407,
    kErrorResourceDataNotFound = 1812,
    kErrorResourceTypeNotFound = 1813,
    kErrorResourceNameNotFound = 1814,
    kErrorResourceLangNotFound = 1815,
    // COM's registry results, which the registry key wrapper reports in the same way.
    kRegdbEKeyMissing = 0x80040152,
    kRegdbEInvalidValue = 0x80040153,
};

std::string FormatSystemMessage(uint32_t error);

} // namespace platform
