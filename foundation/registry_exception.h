// Registry failures. Each carries the Win32 error number that the registry returned; its text shows
// the number as "0x%08x" (%1) and the system's message for it (%2).
#pragma once

#include "foundation/exception.h"

class CRegistryException : public CException {
public:
    explicit CRegistryException(uint32_t error) : CException("EREGISTRY"), m_error(error) {}
    std::string Format(const std::string& tmpl) const override;
    uint32_t GetError() const { return m_error; }

private:
    uint32_t m_error;
};

class CRegistryBadPathException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryKeyNotFoundException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryKeyNotCreatedException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryNoValueException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryValueNotSetException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryNotRemovedException : public CRegistryException {
public:
    using CRegistryException::CRegistryException;
};

class CRegistryKeyNotRemovedException : public CRegistryNotRemovedException {
public:
    using CRegistryNotRemovedException::CRegistryNotRemovedException;
};

class CRegistryValueNotRemovedException : public CRegistryNotRemovedException {
public:
    using CRegistryNotRemovedException::CRegistryNotRemovedException;
};
