#include "upload/upload_exception.h"

#include "foundation/string_format.h"

std::string PxNameUploadException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_name});
}

std::string CPluginAddUploadExistsException::Format(const std::string& tmpl) const {
    return SubstituteArgs(tmpl, {m_file});
}
