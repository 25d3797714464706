// Failures of the upload engine that are raised locally (server-side errors arrive as reply fields,
// not as exceptions).
#pragma once

#include "foundation/exception.h"

// Raised with the code that the raiser passes; no arguments.
class PxUploadException : public CException {
public:
    explicit PxUploadException(const char* code) : CException(code) {}
};

class PxNoFileUploadException : public PxUploadException {
public:
    PxNoFileUploadException() : PxUploadException("EUPLOADNOFILE") {}
};

// %1 = a file or parameter name; the code is the raiser's.
class PxNameUploadException : public PxUploadException {
public:
    PxNameUploadException(const char* code, std::string name)
        : PxUploadException(code), m_name(std::move(name)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

class PxTruncatedUploadException : public PxNameUploadException {
public:
    explicit PxTruncatedUploadException(std::string file)
        : PxNameUploadException("EUPLOADTRUNC", std::move(file)) {}
};

class PxUploadMessageParameterNotFound : public PxNameUploadException {
public:
    explicit PxUploadMessageParameterNotFound(std::string parameter)
        : PxNameUploadException("EUPLOADNOPARAM", std::move(parameter)) {}
};

// %1 = the file name of a picture that is already in the queue.
class CPluginAddUploadExistsException : public CException {
public:
    explicit CPluginAddUploadExistsException(std::string file)
        : CException("EAPPUPLOADEXISTS"), m_file(std::move(file)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetFile() const { return m_file; }

private:
    std::string m_file;
};
