// Failures as values. An exception carries a static error code ("ENOENT", "EHTTPBADURI", ...) and,
// by class, its arguments; the text for the user is made only when it is shown, by looking the code up
// in the error catalogue and letting the class fill the template's %1 and %2 (Format).
//
// This header holds the base class and the foundation's own families; the registry, network, user
// interface and upload families have headers of their own beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CException {
public:
    // `code` is a static string that is never owned; null is stored as "". The detail text is for the
    // reader of the raising code only: it is neither kept nor shown.
    explicit CException(const char* code, const char* detail = nullptr);
    virtual ~CException();
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;

    const char* GetCode() const { return m_code; }

    // The template with this exception's arguments put in; the base returns it unchanged.
    virtual std::string Format(const std::string& tmpl) const;

    // The user-facing text, made through the installed error catalogue.
    std::string GetText() const;

private:
    const char* m_code;
};

// The text for a caught object that is not a CException.
std::string GetUnknownExceptionText();

// --- Resources ---------------------------------------------------------------------------------

class CResourceUnavailableException : public CException {
public:
    CResourceUnavailableException() : CException("ENORSRC") {}

protected:
    explicit CResourceUnavailableException(const char* code) : CException(code) {}
};

class CMutexUnavailable : public CResourceUnavailableException {
public:
    CMutexUnavailable() : CResourceUnavailableException("ENOMUTEX") {}
};

class CThreadUnavailable : public CResourceUnavailableException {
public:
    CThreadUnavailable() : CResourceUnavailableException("ENOTHREAD") {}
};

class CSignalUnavailable : public CResourceUnavailableException {
public:
    CSignalUnavailable() : CResourceUnavailableException("ENOSIGNAL") {}
};

class CTimeoutException : public CResourceUnavailableException {
public:
    CTimeoutException() : CResourceUnavailableException("ETIME") {}
};

// %1 = the name of the resource module that could not be loaded.
class CUIResourceNotFoundException : public CResourceUnavailableException {
public:
    explicit CUIResourceNotFoundException(std::string module)
        : CResourceUnavailableException("EUINORSRC"), m_module(std::move(module)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetModule() const { return m_module; }

private:
    std::string m_module;
};

// Raised to the thread that acquires a mutex whose previous owner ended while holding it. The thread
// now owns the mutex; the exception holds that ownership and gives it back when the last copy of the
// exception is destroyed (copies share the release, so the mutex is unlocked exactly once).
class CMutexAbandonedException : public CException {
public:
    // `release` unlocks the mutex once; it runs when the last copy of this exception goes.
    explicit CMutexAbandonedException(std::shared_ptr<void> release)
        : CException("EMUTEXABDN"), m_release(std::move(release)) {}

private:
    std::shared_ptr<void> m_release;
};

// %1 = the index, in decimal.
class COutOfRangeException : public CException {
public:
    explicit COutOfRangeException(int32_t index) : CException("ERANGE"), m_index(index) {}
    std::string Format(const std::string& tmpl) const override;
    int32_t GetIndex() const { return m_index; }

private:
    int32_t m_index;
};

// %1 = the regular-expression engine's error number, %2 = its description.
class CRegExpException : public CException {
public:
    explicit CRegExpException(int32_t error) : CException("EREGEXP"), m_error(error) {}
    std::string Format(const std::string& tmpl) const override;
    int32_t GetError() const { return m_error; }

private:
    int32_t m_error;
};

// --- Input and output --------------------------------------------------------------------------

class CIOException : public CException {
public:
    CIOException() : CException("EIO") {}

protected:
    explicit CIOException(const char* code) : CException(code) {}
};

// %1 = the path.
class CFileNotFoundException : public CIOException {
public:
    explicit CFileNotFoundException(std::string path) : CIOException("ENOENT"), m_path(std::move(path)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetPath() const { return m_path; }

private:
    std::string m_path;
};

// %1 = the path.
class CDeviceFull : public CIOException {
public:
    explicit CDeviceFull(std::string path) : CIOException("ENOSPC"), m_path(std::move(path)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetPath() const { return m_path; }

private:
    std::string m_path;
};

class CInputStreamClosedException : public CIOException {
public:
    CInputStreamClosedException() : CIOException("EISHUTDOWN") {}
};

class COutputStreamClosedException : public CIOException {
public:
    COutputStreamClosedException() : CIOException("EOSHUTDOWN") {}
};

class CCommandIOException : public CIOException {
protected:
    explicit CCommandIOException(const char* code) : CIOException(code) {}
};

class CCommandBadValueIOException : public CCommandIOException {
public:
    CCommandBadValueIOException() : CCommandIOException("ECMDBADV") {}
};

// --- Documents and selections ------------------------------------------------------------------

// %1 = the offending property path.
class CBadNameValueDocumentPathException : public CException {
public:
    explicit CBadNameValueDocumentPathException(std::string path)
        : CException("EINVAL"), m_path(std::move(path)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetPath() const { return m_path; }

private:
    std::string m_path;
};

// %1 = the selection identifier.
class CSelectionIDExists : public CException {
public:
    explicit CSelectionIDExists(std::string id) : CException("EINUSE"), m_id(std::move(id)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetID() const { return m_id; }

private:
    std::string m_id;
};
