// An authentication scheme that answers the challenges of 401 and 407 replies. The plugin object keeps
// one prototype per scheme and registers it with every connection; each exchange works on a clone,
// which the request keeps with its last answer between the rounds of a scheme that needs several.
// The base keeps the challenge text (what follows the scheme name in the challenge header) and parses
// its parameters on the first lookup.
//
// Threads: prototypes are shared by all connections and only cloned during exchanges; a clone belongs
// to one connection's worker thread, which alone sets its challenge and looks up its parameters.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

class CHTTPAuthResponse;

class CHTTPAuthenticate {
public:
    using Parameters = std::map<std::string, std::string>;

    virtual ~CHTTPAuthenticate() = default;

    virtual std::unique_ptr<CHTTPAuthenticate> Clone() const = 0;
    // The scheme name as it appears in challenges ("Basic", "NTLM"); compared case-sensitively.
    virtual std::string GetScheme() const { return m_scheme; }
    // The answer to the current challenge, given this authenticator's previous answer in the same
    // exchange (null in the first round); null when it cannot answer.
    virtual std::unique_ptr<CHTTPAuthResponse> Respond(CHTTPAuthResponse* previous) = 0;

    // Stores the text that follows the scheme name in the challenge; its parameters are parsed anew on
    // the next lookup.
    void SetChallenge(const std::string& text);
    const std::string& GetChallenge() const { return m_challenge; }
    // The value of a challenge parameter by its lower-case name, or none.
    std::optional<std::string> GetParameter(const std::string& name);

    // Splits a challenge header into the scheme (the leading token) and the parameter text after the
    // white space that follows it; false when it does not start with a token.
    static bool SplitChallenge(const std::string& challenge, std::string& scheme, std::string& parameters);
    // The parameters of a challenge text: name=value pairs, values as tokens or quoted strings (the
    // text between the quotes, escapes kept), separated by commas. Names are made lower case; a
    // repeated name keeps its first value; parsing stops at the first text that does not fit.
    static Parameters ParseParameters(const std::string& text);

protected:
    CHTTPAuthenticate() = default;
    explicit CHTTPAuthenticate(std::string scheme) : m_scheme(std::move(scheme)) {}
    // For Clone: the scheme and the challenge with its parameters.
    CHTTPAuthenticate(const CHTTPAuthenticate&) = default;
    CHTTPAuthenticate& operator=(const CHTTPAuthenticate&) = delete;

private:
    std::string m_scheme;
    std::string m_challenge;
    Parameters m_parameters;
    bool m_parsed = false; // m_parameters holds the parameters of m_challenge
};
