#include "platform/system_message.h"

#include <algorithm>
#include <iterator>

namespace platform {
namespace {

struct SystemText {
    uint32_t error;
    const char* text;
};

// The system's own texts for the errors our layers can return, so that messages read as they do on
// Windows. Sorted by number.
constexpr SystemText kSystemTexts[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorPathNotFound, "The system cannot find the path specified."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough storage is available to process this command."},
    {kErrorInvalidData, "The data is invalid."},
    {kErrorOutOfMemory, "Not enough storage is available to complete this operation."},
    {kErrorWriteFault, "The system cannot write to the specified device."},
    {kErrorReadFault, "The system cannot read from the specified device."},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrorLockViolation,
     "The process cannot access the file because another process has locked a portion of the file."},
    {kErrorNotSupported, "The request is not supported."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorDiskFull, "There is not enough space on the disk."},
    {kErrorCallNotImplemented, "This function is not supported on this system."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrorModNotFound, "The specified module could not be found."},
    {kErrorProcNotFound, "The specified procedure could not be found."},
    {kErrorBadPathname, "The specified path is invalid."},
    {kErrorBusy, "The requested resource is in use."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorMoreData, "More data is available."},
    {kErrorNoMoreItems, "No more data is available."},
    {kErrorBadDatabase, "The configuration registry database is corrupt."},
    {kErrorBadKey, "The configuration registry key is invalid."},
    {kErrorCantOpenKey, "The configuration registry key could not be opened."},
    {kErrorCantRead, "The configuration registry key could not be read."},
    {kErrorCantWrite, "The configuration registry key could not be written."},
    {kErrorRegistryRecovered,
     "One of the files in the registry database had to be recovered by use of a log or alternate "
     "copy. The recovery was successful."},
    {kErrorRegistryCorrupt,
     "The registry is corrupted. The structure of one of the files containing registry data is "
     "corrupted, or the system's memory image of the file is corrupted, or the file could not be "
     "recovered because the alternate copy or log was absent or corrupted."},
    {kErrorRegistryIOFailed,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not read "
     "in, or write out, or flush, one of the files that contain the system's image of the registry."},
    {kErrorNotRegistryFile,
     "The system has attempted to load or restore a file into the registry, but the specified file "
     "is not in a registry file format."},
    {kErrorKeyDeleted, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {kErrorChildMustBeVolatile, "Cannot create a stable subkey under a volatile parent key."},
    {kErrorInvalidWindowHandle, "Invalid window handle."},
    {kErrorInvalidMenuHandle, "Invalid menu handle."},
    {kErrorCannotFindWndClass, "Cannot find window class."},
    {kErrorClassAlreadyExists, "Class already exists."},
    {kErrorClassDoesNotExist, "Class does not exist."},
    {kErrorResourceDataNotFound, "The specified image file did not contain a resource section."},
    {kErrorResourceTypeNotFound, "The specified resource type cannot be found in the image file."},
    {kErrorResourceNameNotFound, "The specified resource name cannot be found in the image file."},
    {kErrorResourceLangNotFound, "The specified resource language ID cannot be found in the image file."},
    {kRegdbEKeyMissing, "Could not find the key in the registry."},
    {kRegdbEInvalidValue, "Invalid value for registry."},
};

static_assert(std::is_sorted(std::begin(kSystemTexts), std::end(kSystemTexts),
                             [](const SystemText& a, const SystemText& b) { return a.error < b.error; }));

} // namespace

std::string FormatSystemMessage(uint32_t error) {
    auto it = std::lower_bound(std::begin(kSystemTexts), std::end(kSystemTexts), error,
                               [](const SystemText& entry, uint32_t value) { return entry.error < value; });
    if (it == std::end(kSystemTexts) || it->error != error)
        return std::string();
    return std::string(it->text) + "\r\n";
}

} // namespace platform
