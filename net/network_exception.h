// Network, HTTP and internet-format failures. A network exception carries a WinSock error number;
// its text puts the number (%1) and the WinSock catalogue's text for it (%2) into the template, and
// leaves the template unchanged when the number is 0. Subclasses with a text argument (a host, a URI,
// a header) then put that argument into the %1 that remains.
// The family lives with the network layer; foundation keeps CException and the catalogues.
#pragma once

#include "foundation/exception.h"

class CNetworkException : public CException {
public:
    explicit CNetworkException(int32_t error, const char* code = "ENET") : CException(code), m_error(error) {}
    std::string Format(const std::string& tmpl) const override;
    int32_t GetError() const { return m_error; }

private:
    int32_t m_error;
};

class CNetworkUnavailableException : public CNetworkException {
public:
    CNetworkUnavailableException() : CNetworkException(0, "ENETNOTAVAIL") {}
};

class CSocketException : public CNetworkException {
public:
    CSocketException(); // takes the thread's last WinSock error
    explicit CSocketException(int32_t error) : CNetworkException(error) {}
};

class CSocketNotConnectedException : public CSocketException {
public:
    CSocketNotConnectedException() : CSocketException(10057) {}
};

class CSocketConnectionFailedException : public CSocketException {
public:
    explicit CSocketConnectionFailedException(int32_t error) : CSocketException(error) {}
};

// A network exception whose text has one more argument: the network format first, then %1 of the
// result becomes `argument`.
class CNetworkArgumentException : public CNetworkException {
public:
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetArgument() const { return m_argument; }

protected:
    CNetworkArgumentException(int32_t error, const char* code, std::string argument)
        : CNetworkException(error, code), m_argument(std::move(argument)) {}

private:
    std::string m_argument;
};

class CHostNotFoundException : public CNetworkArgumentException {
public:
    explicit CHostNotFoundException(std::string host)
        : CNetworkArgumentException(11001, "ENET", std::move(host)) {}
    const std::string& GetHost() const { return GetArgument(); }
};

class CNoHostDataException : public CNetworkArgumentException {
public:
    explicit CNoHostDataException(std::string host)
        : CNetworkArgumentException(11004, "ENET", std::move(host)) {}
    const std::string& GetHost() const { return GetArgument(); }
};

// --- HTTP --------------------------------------------------------------------------------------

class CHTTPException : public CNetworkException {
public:
    explicit CHTTPException(const char* code) : CNetworkException(0, code) {}
};

class CHTTPInvalidURIException : public CHTTPException {
public:
    explicit CHTTPInvalidURIException(std::string uri)
        : CHTTPException("EHTTPBADURI"), m_uri(std::move(uri)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetURI() const { return m_uri; }

private:
    std::string m_uri;
};

class CHTTPNoHeaderException : public CHTTPException {
public:
    explicit CHTTPNoHeaderException(std::string name)
        : CHTTPException("EHTTPNOHEADER"), m_name(std::move(name)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

// A request header that cannot be sent as given (a name or value holding CR or LF, for instance).
class CHTTPBadHeaderException : public CHTTPException {
public:
    explicit CHTTPBadHeaderException(std::string header)
        : CHTTPException("EHTTPBADHEADER"), m_header(std::move(header)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetHeader() const { return m_header; }

private:
    std::string m_header;
};

class CHTTPBadEntityException : public CHTTPException {
public:
    CHTTPBadEntityException() : CHTTPException("EHTTPBADENTITY") {}
};

class CHTTPConnectionShutdownException : public CHTTPException {
public:
    CHTTPConnectionShutdownException() : CHTTPException("EHTTPCONNSHUTDOWN") {}
};

class CHTTPRequestResubmitted : public CHTTPException {
public:
    CHTTPRequestResubmitted() : CHTTPException("EHTTPREQDUP") {}
};

class CHTTPAuthenticationException : public CHTTPException {
protected:
    explicit CHTTPAuthenticationException(const char* code) : CHTTPException(code) {}
};

class CHTTPAuthNewSchemeException : public CHTTPAuthenticationException {
public:
    CHTTPAuthNewSchemeException() : CHTTPAuthenticationException("EHTTPAUTHNEWSCHEME") {}
};

class CHTTPAuthContinuationException : public CHTTPAuthenticationException {
public:
    CHTTPAuthContinuationException() : CHTTPAuthenticationException("EHTTPAUTHINCOMPLETE") {}
};

class CHTTPAuthNoAuthenticatorException : public CHTTPAuthenticationException {
public:
    explicit CHTTPAuthNoAuthenticatorException(std::string scheme)
        : CHTTPAuthenticationException("EHTTPAUTHNOSCHEME"), m_scheme(std::move(scheme)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetScheme() const { return m_scheme; }

private:
    std::string m_scheme;
};

class CHTTPAuthFailedException : public CHTTPAuthenticationException {
public:
    CHTTPAuthFailedException() : CHTTPAuthenticationException("EHTTPAUTHFAILED") {}
};

class CHTTPResponseException : public CHTTPException {
protected:
    explicit CHTTPResponseException(const char* code) : CHTTPException(code) {}
};

// Failures after which the whole exchange may be tried again on a new connection.
class CHTTPRestartableResponseException : public CHTTPResponseException {
protected:
    explicit CHTTPRestartableResponseException(const char* code) : CHTTPResponseException(code) {}
};

class CHTTPNoResponseException : public CHTTPRestartableResponseException {
public:
    CHTTPNoResponseException() : CHTTPRestartableResponseException("EHTTPNORPLY") {}
};

class CHTTPUnexpectedEndOfResponseException : public CHTTPRestartableResponseException {
public:
    CHTTPUnexpectedEndOfResponseException() : CHTTPRestartableResponseException("EHTTPRPLYTRUNC") {}
};

class CHTTPBadResponseStatusException : public CHTTPResponseException {
public:
    CHTTPBadResponseStatusException() : CHTTPResponseException("EHTTPRPLYBADSTATUS") {}
};

class CHTTPBadResponseHeaderException : public CHTTPResponseException {
public:
    CHTTPBadResponseHeaderException() : CHTTPResponseException("EHTTPRPLYBADHEADER") {}
};

class CHTTPUnknownEncodingException : public CHTTPResponseException {
public:
    CHTTPUnknownEncodingException() : CHTTPResponseException("EHTTPRPLYBADENCODING") {}
};

class CHTTPResponseTooBigException : public CHTTPResponseException {
public:
    CHTTPResponseTooBigException() : CHTTPResponseException("EHTTPRPLYTOOBIG") {}
};

class CHTTPResponseAuthMissingChallenge : public CHTTPResponseException {
public:
    CHTTPResponseAuthMissingChallenge() : CHTTPResponseException("EHTTPAUTHNOCHAL") {}
};

class CHTTPResponseAuthInvalidChallenge : public CHTTPResponseException {
public:
    explicit CHTTPResponseAuthInvalidChallenge(std::string challenge)
        : CHTTPResponseException("EHTTPAUTHBADCHAL"), m_challenge(std::move(challenge)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetChallenge() const { return m_challenge; }

private:
    std::string m_challenge;
};

// The platform's security interface has no package for the scheme. Its code is not in the
// catalogue, so its text is the catalogue's "<unknown error: ...>" naming the code.
class CHTTPMicrosoftSSPIAuthenticateNoScheme : public CException {
public:
    explicit CHTTPMicrosoftSSPIAuthenticateNoScheme(std::string scheme)
        : CException("EHTTPAUTHSCHEME"), m_scheme(std::move(scheme)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetScheme() const { return m_scheme; }

private:
    std::string m_scheme;
};

// --- Internet text formats ---------------------------------------------------------------------

class CInternetException : public CException {
protected:
    explicit CInternetException(const char* code) : CException(code) {}
};

// %1 = the whole badly encoded text.
class CInternetBadEncodingException : public CInternetException {
public:
    explicit CInternetBadEncodingException(std::string text)
        : CInternetException("EINETBADENCODING"), m_text(std::move(text)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetInput() const { return m_text; }

private:
    std::string m_text;
};

// %1 = the whole date text.
class CInternetBadDateException : public CInternetException {
public:
    explicit CInternetBadDateException(std::string text)
        : CInternetException("EINETBADDATE"), m_text(std::move(text)) {}
    std::string Format(const std::string& tmpl) const override;
    const std::string& GetInput() const { return m_text; }

private:
    std::string m_text;
};
