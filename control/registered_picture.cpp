#include "control/registered_picture.h"

#include "pictures/picture_format_list.h"

bool IsRegisteredPicture(const std::string& path) {
    const CPictureFormat* format = CPictureFormatList::Get().FindByFileName(path);
    return format != nullptr && format->CanRead(path);
}
