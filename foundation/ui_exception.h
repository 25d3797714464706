// User-interface failures. Each carries the Win32 error number of the failed window-system call
// (the thread's last error when none is given); its text shows the number as "%u" (%1) and the
// system's message for it (%2).
#pragma once

#include "foundation/exception.h"

class CUIException : public CException {
public:
    CUIException(); // takes the thread's last error
    explicit CUIException(uint32_t error) : CException("EUI"), m_error(error) {}
    std::string Format(const std::string& tmpl) const override;
    uint32_t GetError() const { return m_error; }

private:
    uint32_t m_error;
};

class CUICreateWindowException : public CUIException {
public:
    using CUIException::CUIException;
};
