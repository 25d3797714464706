// Challenge answers: the parameter parser, the Basic scheme, the NTLM rounds over a stand-in for the
// platform's security package, the connection's Authenticate step by step, and whole exchanges with
// a scripted peer on 127.0.0.1 playing the server or the proxy.
#include "foundation/listener_list.h"
#include "foundation/name_value_document.h"
#include "net/base64.h"
#include "net/http_auth_response.h"
#include "net/http_authenticate.h"
#include "net/http_basic_authenticate.h"
#include "net/http_challenge_answerer.h"
#include "net/http_connection.h"
#include "net/http_memory_input.h"
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/http_sspi_authenticate.h"
#include "net/network_exception.h"
#include "net/proxy_settings.h"
#include "net/win_sock_library.h"
#include "platform/sspi.h"
#include "tests/support/loopback_servers.h"
#include "tests/support/network_ready.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace platform::sspi;
using Parameters = CHTTPAuthenticate::Parameters;

const std::string kSupport = "support@pixolane.example";

// --- Parameter parsing -------------------------------------------------------------------------

TEST(HttpAuthParameters, ParsedAsTheServerWroteThem) {
    struct Row {
        std::string text;
        Parameters expected;
    } rows[] = {
        // a quoted value is the text between the quotes
        {R"(realm="proxy")", {{"realm", "proxy"}}},
        // names are made lower case, values are not; a token value and a quoted one
        {R"(Realm=X, charset="utf-8")", {{"realm", "X"}, {"charset", "utf-8"}}},
        // escapes inside a quoted value are kept as they are, and do not end it
        {R"(realm="a \"b\" \\ c", x=1)", {{"realm", R"(a \"b\" \\ c)"}, {"x", "1"}}},
        // white space around commas and empty list elements are skipped
        {"a=1 ,\t b=2,, ,c=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        // a repeated name keeps its first value, whatever its case
        {"realm=first, REALM=second, Realm=third", {{"realm", "first"}}},
        // an empty quoted value is a value
        {R"(a="", b=2)", {{"a", ""}, {"b", "2"}}},
        // a token ends at a separator character; what follows is not a list element
        {"realm=x;y=2", {{"realm", "x"}}},
        // no comma between elements ends the list
        {"a=1 b=2", {{"a", "1"}}},
        // a name without a value ends the list, at the end or before a comma
        {"a=", {}},
        {"a=,b=2", {}},
        // white space before "=" is not allowed
        {"a =1", {}},
        // an unterminated quoted value, and one whose last quote is escaped, end the list
        {R"(a=1, b="open)", {{"a", "1"}}},
        {R"(b="x\")", {}},
        // control characters are not allowed inside quotes
        {"a=\"x\x01y\"", {}},
        // text after a line feed is not a new start
        {"x y\nrealm=z", {}},
        // an NTLM token is no parameter list
        {"TlRMTVNTUAACAAAA", {}},
        {"", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CHTTPAuthenticate::ParseParameters(row.text), row.expected) << row.text;
}

TEST(HttpAuthParameters, ChallengeSplitsIntoSchemeAndParameterText) {
    struct Row {
        std::string challenge;
        bool ok;
        std::string scheme, parameters;
    } rows[] = {
        {R"(Basic realm="x")", true, "Basic", R"(realm="x")"},
        // the scheme alone, and the white space after it
        {"NTLM", true, "NTLM", ""},
        {"NTLM \t TlRMTVNT", true, "NTLM", "TlRMTVNT"},
        // challenge headers joined by "; ": the first scheme with the rest as its text
        {R"(Basic realm="x"; NTLM)", true, "Basic", R"(realm="x"; NTLM)"},
        {"NTLM; Basic realm=x", true, "NTLM", "; Basic realm=x"},
        // no scheme at the start
        {" Basic realm=x", false, "", ""},
        {"=x", false, "", ""},
        {"\"Basic\"", false, "", ""},
        {"", false, "", ""},
    };
    for (const Row& row : rows) {
        std::string scheme = "unchanged", parameters = "unchanged";
        EXPECT_EQ(CHTTPAuthenticate::SplitChallenge(row.challenge, scheme, parameters), row.ok)
            << row.challenge;
        if (!row.ok)
            continue;
        EXPECT_EQ(scheme, row.scheme) << row.challenge;
        EXPECT_EQ(parameters, row.parameters) << row.challenge;
    }
}

TEST(HttpAuthParameters, ParsedAgainAfterANewChallenge) {
    CHTTPBasicAuthenticate basic;
    basic.SetChallenge("realm=one");
    EXPECT_EQ(basic.GetParameter("realm"), "one");
    basic.SetChallenge("other=1");
    EXPECT_EQ(basic.GetParameter("realm"), std::nullopt);
    EXPECT_EQ(basic.GetParameter("other"), "1");
}

// --- Basic -------------------------------------------------------------------------------------

std::string Answer(CHTTPAuthenticate& authenticate, const std::string& challenge) {
    authenticate.SetChallenge(challenge);
    std::unique_ptr<CHTTPAuthResponse> response = authenticate.Respond(nullptr);
    if (!response)
        return "(none)";
    return Base64Decode(response->GetCredentials()) + (response->IsComplete() ? "" : " (incomplete)");
}

TEST(HttpBasicAuthenticate, AnswersPerRealmWithTheDefaultEntry) {
    CHTTPBasicAuthenticate basic;
    EXPECT_EQ(basic.GetScheme(), "Basic");
    // nothing stored yet
    EXPECT_EQ(Answer(basic, R"(realm="proxy")"), "(none)");
    basic.SetCredentials("", "user", "pass:word");
    struct Row {
        std::string challenge, expected;
    } rows[] = {
        // only the default entry: it answers every realm
        {R"(realm="proxy")", "user:pass:word"},
        // no realm parameter: no answer, even with a default entry
        {"", "(none)"},
        {R"(charset="utf-8")", "(none)"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Answer(basic, row.challenge), row.expected) << row.challenge;

    basic.SetCredentials("office", "alice", "secret");
    EXPECT_EQ(Answer(basic, "realm=office"), "alice:secret");
    // realms are compared exactly
    EXPECT_EQ(Answer(basic, "realm=Office"), "user:pass:word");
    basic.SetCredentials("office", "bob", "");
    EXPECT_EQ(Answer(basic, "realm=office"), "bob:");
    basic.RemoveCredentials("");
    EXPECT_EQ(Answer(basic, "realm=other"), "(none)");
    EXPECT_EQ(Answer(basic, "realm=office"), "bob:");
    basic.RemoveCredentials("office");
    EXPECT_EQ(Answer(basic, "realm=office"), "(none)");
}

TEST(HttpBasicAuthenticate, ClonesCarryTheCredentialsOfTheirMoment) {
    CHTTPBasicAuthenticate basic;
    basic.SetCredentials("", "user", "one");
    std::unique_ptr<CHTTPAuthenticate> clone = basic.Clone();
    basic.SetCredentials("", "user", "two");
    EXPECT_EQ(clone->GetScheme(), "Basic");
    EXPECT_EQ(Answer(*clone, "realm=x"), "user:one");
    EXPECT_EQ(Answer(*basic.Clone(), "realm=x"), "user:two");
}

TEST(HttpBasicAuthenticate, ProxyPreferencesSetTheDefaultRealm) {
    auto basic = std::make_shared<CHTTPBasicAuthenticate>();
    basic->SetCredentials("", "old", "old");
    basic->SetCredentials("office", "alice", "secret");
    CHTTPBasicAuthenticate::ReceiveProxyCredentials(basic);
    CNameValueDocument preferences;
    preferences.SetValue("proxyState", "none");
    struct Row {
        const char* user;
        const char* password;
        std::string expected; // the answer for a realm without an entry of its own
    } rows[] = {
        {"proxyuser", "pw", "proxyuser:pw"},
        // one of the two suffices
        {"", "pw", ":pw"},
        {"only", "", "only:"},
        // both empty: the entry goes
        {"", "", "(none)"},
    };
    for (const Row& row : rows) {
        preferences.SetValue("proxyUsername", row.user);
        preferences.SetValue("proxyPassword", row.password);
        ApplyProxyPreferences(preferences);
        EXPECT_EQ(Answer(*basic, "realm=x"), row.expected) << row.user << "/" << row.password;
        // other realms keep theirs
        EXPECT_EQ(Answer(*basic, "realm=office"), "alice:secret");
    }
    // Once the plugin has let the prototype go, applying the preferences reaches no one.
    std::weak_ptr<CHTTPBasicAuthenticate> weak = basic;
    basic.reset();
    EXPECT_TRUE(weak.expired());
    ApplyProxyPreferences(preferences);
    SetProxyCredentialsHook(nullptr);
    SetProxySettings(nullptr);
}

TEST(HttpAuthResponse, CredentialsAreJoinedWithCommas) {
    CHTTPAuthResponse response;
    response.AppendCredentials("a");
    response.AppendCredentials("b=1");
    EXPECT_EQ(response.GetCredentials(), "a,b=1");
    EXPECT_TRUE(response.IsComplete());
}

// --- A stand-in for the security package -------------------------------------------------------

// Plays the platform's security module and its "NTLM" package: the first round returns a
// negotiation token and a new context, the second returns "AUTHENTICATE:" and the server's token.
// Every call is recorded, and the contexts, credentials and package information handed out are
// counted, so that a test can see that each was given back exactly once.
class FakeSecurityPackage : public platform::SecurityModuleSource {
public:
    // What the package answers; changed by the tests.
    bool securityDllPresent = false; // only "secur32.dll" by default, the fallback
    bool noTable = false;
    SecurityStatus acquireStatus = kSecEOk;
    SecurityStatus firstStatus = kSecIContinueNeeded;
    SecurityStatus secondStatus = kSecEOk;
    uint32_t maxToken = 64;

    // What it saw.
    std::vector<std::string> loads; // module names asked for
    int modulesHeld = 0;
    int credentialsHeld = 0;
    int infoHeld = 0;
    std::vector<uintptr_t> contextsDeleted;
    int contextsCreated = 0;
    struct Call {
        bool credentials;  // a credentials handle was passed
        uintptr_t context; // the context continued, 0 for none
        std::string target;
        uint32_t requirements;
        uint32_t representation;
        uint32_t inputType; // 0 without input
        std::string input;
        uint32_t outputSize;
    };
    std::vector<Call> calls;

    FakeSecurityPackage() {
        s_active = this;
        platform::SetSecurityModuleSourceForTests(this);
    }
    ~FakeSecurityPackage() override {
        platform::SetSecurityModuleSourceForTests(nullptr);
        s_active = nullptr;
    }
    // Every context handed out has been deleted once, nothing else is held.
    void ExpectNothingHeld() const {
        EXPECT_EQ(modulesHeld, 0);
        EXPECT_EQ(credentialsHeld, 0);
        EXPECT_EQ(infoHeld, 0);
        EXPECT_EQ(static_cast<int>(contextsDeleted.size()), contextsCreated);
    }

    platform::SecurityModule* Load(const char* name) override {
        loads.push_back(name);
        if (std::string(name) == "security.dll" && !securityDllPresent)
            return nullptr;
        if (std::string(name) != "security.dll" && std::string(name) != "secur32.dll")
            return nullptr;
        ++modulesHeld;
        return reinterpret_cast<platform::SecurityModule*>(&s_moduleTag);
    }
    void* GetProc(platform::SecurityModule* module, const char* name) override {
        EXPECT_EQ(module, reinterpret_cast<platform::SecurityModule*>(&s_moduleTag));
        if (std::string(name) != "InitSecurityInterfaceA")
            return nullptr;
        return reinterpret_cast<void*>(&Init);
    }
    void Free(platform::SecurityModule* module) override {
        EXPECT_EQ(module, reinterpret_cast<platform::SecurityModule*>(&s_moduleTag));
        --modulesHeld;
    }

private:
    static SecurityFunctions* PX_SYSTEM_CALL Init() { return s_active->noTable ? nullptr : &s_table; }

    static SecurityStatus PX_SYSTEM_CALL Acquire(char* principal, char* package, uint32_t use, void* logonId,
                                                 void* authData, void*, void*, SecHandle* credential, TimeStamp*) {
        EXPECT_EQ(principal, nullptr);
        EXPECT_STREQ(package, "NTLM");
        EXPECT_EQ(use, kCredentialsOutbound);
        EXPECT_EQ(logonId, nullptr);
        EXPECT_EQ(authData, nullptr); // the logged-on user
        if (s_active->acquireStatus != kSecEOk)
            return s_active->acquireStatus;
        ++s_active->credentialsHeld;
        *credential = {0xC0, 0};
        return kSecEOk;
    }
    static SecurityStatus PX_SYSTEM_CALL FreeCredentials(SecHandle* credential) {
        EXPECT_EQ(credential->lower, 0xC0u);
        --s_active->credentialsHeld;
        return kSecEOk;
    }
    static SecurityStatus PX_SYSTEM_CALL Initialize(SecHandle* credential, SecHandle* context, char* target,
                                                    uint32_t requirements, uint32_t, uint32_t representation,
                                                    SecBufferDesc* input, uint32_t, SecHandle* newContext,
                                                    SecBufferDesc* output, uint32_t*, TimeStamp*) {
        FakeSecurityPackage& self = *s_active;
        Call call{credential != nullptr,
                  context != nullptr ? context->lower : 0,
                  target,
                  requirements,
                  representation,
                  0,
                  "",
                  0};
        if (input != nullptr && input->count == 1) {
            call.inputType = input->buffers[0].type;
            call.input.assign(static_cast<char*>(input->buffers[0].data), input->buffers[0].size);
        }
        if (output != nullptr && output->count == 1)
            call.outputSize = output->buffers[0].size;
        self.calls.push_back(call);
        // A continuation needs the server's token.
        if (context != nullptr && call.input.empty())
            return kSecEInvalidToken;
        std::string token = context == nullptr ? "NEGOTIATE" : "AUTHENTICATE:" + call.input;
        SecurityStatus status = context == nullptr ? self.firstStatus : self.secondStatus;
        if (token.size() > output->buffers[0].size)
            return kSecEBufferTooSmall;
        std::memcpy(output->buffers[0].data, token.data(), token.size());
        output->buffers[0].size = static_cast<uint32_t>(token.size());
        // A new context exists after success and the continuation results.
        bool created = status == kSecEOk || status == kSecIContinueNeeded || status == kSecICompleteNeeded ||
                       status == kSecICompleteAndContinue;
        if (context == nullptr && created)
            *newContext = {0xD0u + static_cast<uintptr_t>(++self.contextsCreated), 0};
        return status;
    }
    static SecurityStatus PX_SYSTEM_CALL Delete(SecHandle* context) {
        s_active->contextsDeleted.push_back(context->lower);
        return kSecEOk;
    }
    static SecurityStatus PX_SYSTEM_CALL Query(char* name, SecurityPackageInfo** info) {
        if (std::string(name) != "NTLM")
            return kSecESecpkgNotFound;
        static char package[] = "NTLM";
        static char comment[] = "stand-in";
        *info = new SecurityPackageInfo{0x82B3, 1, 10, s_active->maxToken, package, comment};
        ++s_active->infoHeld;
        return kSecEOk;
    }
    static SecurityStatus PX_SYSTEM_CALL FreeBuffer(void* buffer) {
        delete static_cast<SecurityPackageInfo*>(buffer);
        --s_active->infoHeld;
        return kSecEOk;
    }

    static inline FakeSecurityPackage* s_active = nullptr;
    static inline int s_moduleTag = 0;
    static inline SecurityFunctions s_table{0,       &Acquire, &FreeCredentials, &Initialize,
                                            &Delete, &Query,   &FreeBuffer};
};

#ifndef _WIN32
TEST(HttpNtlmAuthenticate, LinuxHasNoSecurityPackage) {
    try {
        CHTTPNTLMAuthenticate ntlm;
        FAIL() << "constructed";
    } catch (const CHTTPMicrosoftSSPIAuthenticateNoScheme& e) {
        EXPECT_STREQ(e.GetCode(), "EHTTPAUTHSCHEME");
        EXPECT_EQ(e.GetScheme(), "NTLM");
    }
}
#endif // Windows: the real package, tested in sspi_win32_test.cpp

TEST(HttpNtlmAuthenticate, TheInterfaceIsSharedAndFreedByItsLastUser) {
    FakeSecurityPackage package;
    package.maxToken = 100;
    {
        auto prototype = std::make_unique<CHTTPNTLMAuthenticate>();
        // "security.dll" first, then the fallback; the package facts are kept and their buffer freed
        EXPECT_EQ(package.loads, (std::vector<std::string>{"security.dll", "secur32.dll"}));
        EXPECT_EQ(prototype->GetScheme(), "NTLM");
        EXPECT_EQ(prototype->GetMaxToken(), 100u);
        EXPECT_EQ(prototype->GetCapabilities(), 0x82B3u);
        EXPECT_EQ(package.infoHeld, 0);
        std::unique_ptr<CHTTPAuthenticate> clone = prototype->Clone();
        auto* ntlm = dynamic_cast<CHTTPNTLMAuthenticate*>(clone.get());
        ASSERT_NE(ntlm, nullptr);
        EXPECT_EQ(ntlm->GetMaxToken(), 100u);
        EXPECT_EQ(ntlm->GetCapabilities(), 0x82B3u);
        // one load for the process
        EXPECT_EQ(package.modulesHeld, 1);
        prototype.reset();
        EXPECT_EQ(package.modulesHeld, 1); // the clone still holds it
    }
    package.ExpectNothingHeld();
    // "security.dll" itself when it is there; a module without a table is no interface
    package.securityDllPresent = true;
    package.noTable = true;
    package.loads.clear();
    EXPECT_THROW(CHTTPNTLMAuthenticate(), CHTTPMicrosoftSSPIAuthenticateNoScheme);
    EXPECT_EQ(package.loads, std::vector<std::string>{"security.dll"});
    package.ExpectNothingHeld();
}

TEST(HttpNtlmAuthenticate, FirstRoundResults) {
    struct Row {
        const char* what;
        SecurityStatus acquire, initialize;
        bool answered;
        int contextsDeleted; // right after the round
    } rows[] = {
        {"continue needed: an incomplete answer that keeps the context", kSecEOk, kSecIContinueNeeded, true,
         0},
        {"complete at once: no answer, the context goes", kSecEOk, kSecEOk, false, 1},
        {"complete needed", kSecEOk, kSecICompleteNeeded, false, 1},
        {"complete and continue", kSecEOk, kSecICompleteAndContinue, false, 1},
        {"a failure creates no context", kSecEOk, kSecENoCredentials, false, 0},
        {"no credentials to be had", kSecENoCredentials, kSecIContinueNeeded, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeSecurityPackage package;
        package.acquireStatus = row.acquire;
        package.firstStatus = row.initialize;
        {
            CHTTPNTLMAuthenticate ntlm;
            ntlm.SetChallenge("");
            std::unique_ptr<CHTTPAuthResponse> answer = ntlm.Respond(nullptr);
            ASSERT_EQ(answer != nullptr, row.answered);
            EXPECT_EQ(static_cast<int>(package.contextsDeleted.size()), row.contextsDeleted);
            EXPECT_EQ(package.credentialsHeld, 0); // freed after the call, whatever it returned
            if (answer) {
                EXPECT_FALSE(answer->IsComplete());
                EXPECT_EQ(answer->GetCredentials(), Base64Encode("NEGOTIATE"));
            }
            if (row.acquire == kSecEOk) {
                ASSERT_EQ(package.calls.size(), 1u);
                const FakeSecurityPackage::Call& call = package.calls[0];
                EXPECT_TRUE(call.credentials);
                EXPECT_EQ(call.context, 0u);
                EXPECT_EQ(call.target, "");
                EXPECT_EQ(call.requirements, 0xA1Fu);
                EXPECT_EQ(call.representation, 0x10u);
                EXPECT_EQ(call.inputType, 0u);
                EXPECT_EQ(call.outputSize, 64u); // maxToken
            }
        }
        package.ExpectNothingHeld();
    }
}

TEST(HttpNtlmAuthenticate, SecondRoundResults) {
    struct Row {
        const char* what;
        std::string challenge; // the server's token, as sent
        SecurityStatus initialize;
        bool answered;
    } rows[] = {
        {"complete", Base64Encode("CHALLENGE"), kSecEOk, true},
        {"continue needed again", Base64Encode("CHALLENGE"), kSecIContinueNeeded, false},
        {"complete needed", Base64Encode("CHALLENGE"), kSecICompleteNeeded, false},
        {"complete and continue", Base64Encode("CHALLENGE"), kSecICompleteAndContinue, false},
        {"refused", Base64Encode("CHALLENGE"), kSecEInternalError, false},
        {"a token that is not Base64", "not base64!", kSecEOk, false},
        {"a reply token larger than maxToken", Base64Encode(std::string(60, 'c')), kSecEOk, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeSecurityPackage package;
        package.secondStatus = row.initialize;
        {
            CHTTPNTLMAuthenticate ntlm;
            ntlm.SetChallenge("");
            std::unique_ptr<CHTTPAuthResponse> first = ntlm.Respond(nullptr);
            ASSERT_NE(first, nullptr);
            ntlm.SetChallenge(row.challenge);
            std::unique_ptr<CHTTPAuthResponse> second = ntlm.Respond(first.get());
            ASSERT_EQ(second != nullptr, row.answered);
            // The second round took the context over and deleted it, whatever the result.
            EXPECT_EQ(package.contextsDeleted, std::vector<uintptr_t>{0xD1});
            if (second) {
                EXPECT_TRUE(second->IsComplete());
                EXPECT_EQ(second->GetCredentials(), Base64Encode("AUTHENTICATE:CHALLENGE"));
            }
            if (package.calls.size() == 2) {
                const FakeSecurityPackage::Call& call = package.calls[1];
                EXPECT_FALSE(call.credentials);
                EXPECT_EQ(call.context, 0xD1u);
                EXPECT_EQ(call.target, "");
                EXPECT_EQ(call.requirements, 0u);
                EXPECT_EQ(call.representation, 0x10u);
                EXPECT_EQ(call.inputType, 0x80000002u);
                EXPECT_EQ(call.outputSize, 64u);
                EXPECT_EQ(call.input, Base64Decode(row.challenge));
            }
            // A second answer to the same first round has no context left to continue.
            EXPECT_EQ(ntlm.Respond(first.get()), nullptr);
        }
        package.ExpectNothingHeld();
    }
}

// --- The connection's Authenticate, step by step -----------------------------------------------

// A reply read from memory up to its final status, as the connection has it when it answers.
std::unique_ptr<CHTTPResponse> Reply(const std::string& text) {
    auto response = std::make_unique<CHTTPResponse>();
    CHTTPMemoryInput input;
    input.Arrive(text);
    input.Close();
    for (int i = 0; i < 10 && !response->IsComplete(); ++i)
        response->ReadStep(input);
    return response;
}

std::string Challenge(int status, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) + " Challenge\r\n" + headers + "content-length: 0\r\n\r\n";
}

// What the connection's default answer to one challenge did, called as its reading loop calls it:
// the authorization the request now carries, or the exception's code and text.
std::string Attempt(CHTTPConnection& connection, CHTTPRequest& request, const std::string& reply) {
    std::unique_ptr<CHTTPResponse> response = Reply(reply);
    try {
        if (!CHTTPSchemeChallengeAnswerer().Answer(connection, request, *response))
            return "(false)";
    } catch (const CException& e) {
        return std::string(e.GetCode()) + ": " + e.GetText();
    }
    // Read the authorization and put it back, as the next round finds it.
    CHTTPRequest::Authorization current = request.TakeAuthorization();
    bool proxy = request.IsProxyAuthorization();
    std::string text = std::string(proxy ? "Proxy-Authorization: " : "Authorization: ") +
                       current.authenticator->GetScheme() + " " + current.response->GetCredentials() +
                       (current.response->IsComplete() ? "" : " (incomplete)");
    request.SetAuthorization(std::move(current.authenticator), std::move(current.response), proxy);
    return text;
}

class HttpAuthenticate : public NetworkReadyFastRetries {
protected:
    void SetUp() override {
        NetworkReadyFastRetries::SetUp();
        m_basic->SetCredentials("", "user", "pw");
        m_basic->SetCredentials("special", "alice", "secret");
    }
    void TearDown() override { NetworkReadyFastRetries::TearDown(); }

    std::shared_ptr<CHTTPBasicAuthenticate> m_basic = std::make_shared<CHTTPBasicAuthenticate>();
};

const std::string kUserPw = Base64Encode("user:pw");

TEST_F(HttpAuthenticate, EachChallengeAnsweredOrRefusedAsItShouldBe) {
    struct Row {
        std::string reply;
        std::string expected;
    } rows[] = {
        // a server's challenge for a realm without credentials of its own: the default entry
        {Challenge(401, "WWW-Authenticate: Basic realm=\"proxy\"\r\n"), "Authorization: Basic " + kUserPw},
        // a proxy's challenge: the proxy header
        {Challenge(407, "Proxy-Authenticate: Basic realm=proxy\r\n"),
         "Proxy-Authorization: Basic " + kUserPw},
        // a realm with credentials of its own
        {Challenge(401, "WWW-Authenticate: Basic realm=\"special\"\r\n"),
         "Authorization: Basic " + Base64Encode("alice:secret")},
        // two challenge headers arrive joined: the first scheme is answered
        {Challenge(401, "WWW-Authenticate: Basic realm=\"x\"\r\nWWW-Authenticate: Negotiate\r\n"),
         "Authorization: Basic " + kUserPw},
        // Basic without a realm cannot be answered
        {Challenge(407, "Proxy-Authenticate: Basic\r\n"),
         "EHTTPAUTHFAILED: HTTP authorization failed. Please verify your proxy settings (especially the "
         "username and password fields) or try the simple upload page instead."},
        // a scheme without a prototype
        {Challenge(401, "WWW-Authenticate: Negotiate\r\n"),
         "EHTTPAUTHNOSCHEME: Unknown HTTP authentication scheme (Negotiate). Please verify your proxy "
         "settings or try the simple upload page instead."},
        // scheme names are compared case-sensitively
        {Challenge(401, "WWW-Authenticate: basic realm=x\r\n"),
         "EHTTPAUTHNOSCHEME: Unknown HTTP authentication scheme (basic). Please verify your proxy "
         "settings or try the simple upload page instead."},
        // no challenge header, or the other status's header
        {Challenge(401, ""),
         "EHTTPAUTHNOCHAL: Missing HTTP authentication challenge; please verify your "
         "proxy settings. If this persists, please contact Pixolane Customer Service at " +
             kSupport + "."},
        {Challenge(407, "WWW-Authenticate: Basic realm=x\r\n"),
         "EHTTPAUTHNOCHAL: Missing HTTP authentication challenge; please verify your proxy settings. If "
         "this persists, please contact Pixolane Customer Service at " +
             kSupport + "."},
        // a status that asks for no authorization
        {Challenge(200, "WWW-Authenticate: Basic realm=x\r\n"),
         "EHTTPAUTHNOCHAL: Missing HTTP authentication challenge; please verify your proxy settings. If "
         "this persists, please contact Pixolane Customer Service at " +
             kSupport + "."},
        // a challenge that does not start with a scheme
        {Challenge(401, "WWW-Authenticate: =bad\r\n"),
         "EHTTPAUTHBADCHAL: Invalid HTTP authentication challenge (=bad); please verify your proxy settings. "
         "If this persists, please contact Pixolane Customer Service at " +
             kSupport + "."},
    };
    for (const Row& row : rows) {
        CHTTPRequest request(0);
        CHTTPConnection connection("http://127.0.0.1:1/up", false);
        connection.AddAuthenticator(m_basic);
        EXPECT_EQ(Attempt(connection, request, row.reply), row.expected) << row.reply;
    }
}

TEST_F(HttpAuthenticate, RefusedFinalCredentialsEndTheAnswer) {
    CHTTPRequest request(0);
    CHTTPConnection connection("http://127.0.0.1:1/up", false);
    connection.AddAuthenticator(m_basic);
    const std::string challenge = Challenge(407, "Proxy-Authenticate: Basic realm=x\r\n");
    EXPECT_EQ(Attempt(connection, request, challenge), "Proxy-Authorization: Basic " + kUserPw);
    EXPECT_FALSE(request.IsNtlmKeepAlive()); // only NTLM keeps the connection for the next round
    EXPECT_EQ(Attempt(connection, request, challenge),
              "EHTTPAUTHINCOMPLETE: HTTP authorization failed. Please verify your proxy settings or try the "
              "simple upload page instead.");
    // The failed answer took the authorization away: the request carries none any more.
    EXPECT_EQ(request.TakeAuthorization().authenticator, nullptr);
}

TEST_F(HttpAuthenticate, NtlmRoundsAndTheirFailures) {
    FakeSecurityPackage package;
    {
        auto ntlm = std::make_shared<CHTTPNTLMAuthenticate>();
        const std::string ntlmChallenge = Challenge(407, "Proxy-Authenticate: NTLM\r\n");
        const std::string token =
            Challenge(407, "Proxy-Authenticate: NTLM " + Base64Encode("CHALLENGE") + "\r\n");
        struct Row {
            const char* what;
            std::vector<std::string> replies;
            std::string last; // what the last reply led to
        } rows[] = {
            {"two rounds",
             {ntlmChallenge, token},
             "Proxy-Authorization: NTLM " + Base64Encode("AUTHENTICATE:CHALLENGE")},
            {"a third challenge after the final answer",
             {ntlmChallenge, token, token},
             "EHTTPAUTHINCOMPLETE: HTTP authorization failed. Please verify your proxy settings or try the "
             "simple upload page instead."},
            {"the proxy switches to Basic after the first round",
             {ntlmChallenge, Challenge(407, "Proxy-Authenticate: Basic realm=x\r\n")},
             "EHTTPAUTHNEWSCHEME: The plugin doesn't support multiple proxies requiring authentication. "
             "Please "
             "try the simple upload page instead."},
            {"the second round finds no token",
             {ntlmChallenge, ntlmChallenge},
             "EHTTPAUTHFAILED: HTTP authorization failed. Please verify your proxy settings (especially the "
             "username and password fields) or try the simple upload page instead."},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            CHTTPRequest request(0);
            CHTTPConnection connection("http://127.0.0.1:1/up", false);
            connection.AddAuthenticator(m_basic);
            connection.AddAuthenticator(ntlm);
            EXPECT_EQ(Attempt(connection, request, row.replies[0]),
                      "Proxy-Authorization: NTLM " + Base64Encode("NEGOTIATE") + " (incomplete)");
            // an NTLM answer to a proxy keeps the connection for the next round
            EXPECT_TRUE(request.IsNtlmKeepAlive());
            std::string last;
            for (size_t i = 1; i < row.replies.size(); ++i)
                last = Attempt(connection, request, row.replies[i]);
            EXPECT_EQ(last, row.last);
        }
    }
    package.ExpectNothingHeld();
}

// The unknown-scheme callback: records what it is told, and may register a prototype and ask for
// another look.
class SchemeCallback : public CTypedListener<CHTTPAuthRetryEvent> {
public:
    SchemeCallback(std::shared_ptr<CHTTPAuthenticate> prototype, bool retry, std::vector<int>& seen)
        : m_prototype(std::move(prototype)), m_retry(retry), m_seen(seen) {}

protected:
    void OnEvent(const CHTTPAuthRetryEvent& event) override {
        m_seen.push_back(event.GetResponse().GetStatusNow());
        if (m_prototype)
            event.GetConnection().AddAuthenticator(m_prototype);
        event.SetRetry(m_retry);
    }

private:
    std::shared_ptr<CHTTPAuthenticate> m_prototype;
    bool m_retry;
    std::vector<int>& m_seen;
};

TEST_F(HttpAuthenticate, UnknownSchemeCallbackMayRegisterAndRetry) {
    struct Row {
        const char* what;
        bool registers, retry;
        bool answered;
    } rows[] = {
        {"registers and asks for a retry", true, true, true},
        {"registers without asking", true, false, false},
        {"asks without registering", false, true, false},
    };
    for (const Row& row : rows) {
        std::vector<int> seen;
        CHTTPRequest request(0);
        CHTTPConnection connection("http://127.0.0.1:1/up", false);
        connection.SetUnknownSchemeCallback(
            std::make_unique<SchemeCallback>(row.registers ? m_basic : nullptr, row.retry, seen));
        std::string result =
            Attempt(connection, request, Challenge(401, "WWW-Authenticate: Basic realm=\"x\"\r\n"));
        EXPECT_EQ(result.rfind(row.answered ? "Authorization: Basic " : "EHTTPAUTHNOSCHEME", 0), 0u)
            << row.what << ": " << result;
        EXPECT_EQ(seen, std::vector<int>{401}) << row.what;
    }
}

// --- Whole exchanges with a scripted peer ------------------------------------------------------

// A peer on 127.0.0.1 over the test support's plain sockets: serves one connection per script, reads each
// request whole (headers and content-length bytes), records it, and sends the scripted reply. After
// the last reply of a connection it waits for the client to close.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<std::vector<std::string>> connections)
        : m_scripts(std::move(connections)), m_listener(8) {
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedPeer() { Join(); }
    uint16_t Port() const { return m_listener.Port(); }
    void Join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    // The requests received, per connection.
    std::vector<std::vector<std::string>> Requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void Serve() {
        for (const std::vector<std::string>& script : m_scripts) {
            testsupport::LoopbackStream connection = m_listener.Accept(10);
            if (!connection.IsOpen())
                return;
            {
                std::lock_guard lock(m_mutex);
                m_requests.emplace_back();
            }
            for (const std::string& reply : script) {
                std::string request = loopback::ReadRequest(connection);
                if (request.empty())
                    break;
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.back().push_back(request);
                }
                connection.SendAll(reply);
            }
            connection.ShutdownWrite();
            while (connection.Receive(5).status == testsupport::LoopbackStream::Status::Data) {
            }
        }
    }

    std::vector<std::vector<std::string>> m_scripts;
    testsupport::LoopbackListener m_listener;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::vector<std::string>> m_requests;
};

// Records what the authFailed signal delivers: the kind of challenge and the exception's text.
class FailureLog : public CTypedListener<CHTTPAuthFailedEvent> {
public:
    explicit FailureLog(std::vector<std::string>& log) : m_log(log) {}

protected:
    void OnEvent(const CHTTPAuthFailedEvent& event) override {
        m_log.push_back(std::string(event.IsProxy() ? "proxy: " : "server: ") +
                        event.GetException().GetText());
    }

private:
    std::vector<std::string>& m_log;
};

struct Outcome {
    int status = 0;
    std::string reason;
    std::string body;
    std::vector<std::string> failures; // what authFailed received
};

const std::string kOk = "HTTP/1.1 200 OK\r\ncontent-length: 2\r\n\r\nok";
const std::string kUri = "http://upload.example/up";

// One POST of "data" through the peer as the proxy, with the given prototypes.
Outcome ThroughProxy(ScriptedPeer& peer, std::vector<std::shared_ptr<const CHTTPAuthenticate>> prototypes,
                     int maxRetries = 0, const std::function<void(CHTTPConnection&)>& configure = {}) {
    SetProxySettings(std::make_unique<CManualProxySettings>("127.0.0.1", peer.Port()));
    CHTTPRequest request(maxRetries);
    request.Write("data");
    Outcome outcome;
    CHTTPConnection connection(kUri, true);
    EXPECT_TRUE(connection.UsesProxy());
    for (auto& prototype : prototypes)
        connection.AddAuthenticator(prototype);
    connection.GetAuthFailedListeners().AddListener(std::make_unique<FailureLog>(outcome.failures));
    if (configure)
        configure(connection);
    std::shared_ptr<CHTTPResponse> response = connection.Submit(request, kUri);
    peer.Join();
    outcome.status = response->GetStatus();
    outcome.reason = response->GetReason();
    char buffer[256];
    while (size_t n = response->Read(sizeof buffer, buffer))
        outcome.body.append(buffer, n);
    return outcome;
}

std::string ProxyRequest(const std::string& authorization, const std::string& connection) {
    return "POST " + kUri +
           " HTTP/1.1\r\nHost: upload.example\r\ncontent-length: 4\r\nConnection: " + connection + "\r\n" +
           (authorization.empty() ? "" : "Proxy-Authorization: " + authorization + "\r\n") + "\r\ndata";
}

TEST_F(HttpAuthenticate, BasicProxyAcceptsOrRefusesTheCredentials) {
    const std::string challenge = "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                                  "realm=\"proxy\"\r\ncontent-length: 6\r\n\r\ndenied";
    // Accepted: the answer goes out on a new connection, and the submitter sees only the 200.
    {
        ScriptedPeer peer({{challenge}, {kOk}});
        Outcome x = ThroughProxy(peer, {m_basic});
        EXPECT_EQ(x.status, 200);
        EXPECT_EQ(x.body, "ok");
        EXPECT_TRUE(x.failures.empty());
        EXPECT_EQ(peer.Requests(),
                  (std::vector<std::vector<std::string>>{{ProxyRequest("", "close")},
                                                         {ProxyRequest("Basic " + kUserPw, "close")}}));
    }
    // Refused: the second 407 is the final response, told once to the listeners, and not retried
    // although the request allows retries.
    {
        ScriptedPeer peer({{challenge}, {challenge}});
        Outcome x = ThroughProxy(peer, {m_basic}, 5);
        EXPECT_EQ(x.status, 407);
        EXPECT_EQ(x.reason, "Proxy Authentication Required");
        EXPECT_EQ(x.body, "denied");
        EXPECT_EQ(x.failures,
                  std::vector<std::string>{"proxy: HTTP authorization failed. Please verify your "
                                           "proxy settings or try the simple upload page instead."});
        EXPECT_EQ(peer.Requests().size(), 2u);
    }
}

// Declines every challenge, counting them; the count must outlive the connection.
class DecliningAnswerer : public IHTTPChallengeAnswerer {
public:
    explicit DecliningAnswerer(std::atomic<int>& asked) : m_asked(asked) {}
    bool Answer(CHTTPConnection&, CHTTPRequest&, CHTTPResponse&) override {
        ++m_asked;
        return false;
    }

private:
    std::atomic<int>& m_asked;
};

TEST_F(HttpAuthenticate, TheConnectionsAnswererDecidesAndNoneRestoresTheSchemes) {
    const std::string challenge = "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                                  "realm=\"proxy\"\r\ncontent-length: 6\r\n\r\ndenied";
    std::atomic<int> asked{0};
    // Another answerer replaces the whole decision: declined, the challenge is the final response,
    // although a Basic prototype that could answer it is registered, and it is no failure to report.
    {
        ScriptedPeer peer({{challenge}});
        Outcome x = ThroughProxy(peer, {m_basic}, 0, [&](CHTTPConnection& connection) {
            connection.SetChallengeAnswerer(std::make_unique<DecliningAnswerer>(asked));
        });
        EXPECT_EQ(x.status, 407);
        EXPECT_EQ(x.body, "denied");
        EXPECT_TRUE(x.failures.empty());
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(peer.Requests().size(), 1u);
    }
    // None given: the registered schemes answer again.
    {
        ScriptedPeer peer({{challenge}, {kOk}});
        Outcome x = ThroughProxy(peer, {m_basic}, 0, [&](CHTTPConnection& connection) {
            connection.SetChallengeAnswerer(std::make_unique<DecliningAnswerer>(asked));
            connection.SetChallengeAnswerer(nullptr);
        });
        EXPECT_EQ(x.status, 200);
        EXPECT_EQ(x.body, "ok");
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(peer.Requests(),
                  (std::vector<std::vector<std::string>>{{ProxyRequest("", "close")},
                                                         {ProxyRequest("Basic " + kUserPw, "close")}}));
    }
}

TEST_F(HttpAuthenticate, MissingChallengeIsRetriedLikeANetworkError) {
    const std::string bare = "HTTP/1.1 401 Unauthorized\r\ncontent-length: 0\r\n\r\n";
    ScriptedPeer peer({{bare}, {bare}});
    Outcome x = ThroughProxy(peer, {m_basic}, 1);
    EXPECT_EQ(peer.Requests().size(), 2u); // the first attempt and one retry
    EXPECT_EQ(x.reason, "Missing HTTP authentication challenge; please verify your proxy settings. If this "
                        "persists, please contact Pixolane Customer Service at " +
                            kSupport + ".");
    EXPECT_NE(x.status, 401);
    EXPECT_TRUE(x.failures.empty()); // not an authentication failure
}

TEST_F(HttpAuthenticate, NtlmTwoRoundsThroughAProxy) {
    FakeSecurityPackage package;
    const std::string first = "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: NTLM\r\ncontent-length: 0\r\n\r\n";
    const std::string firstHangup = "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: NTLM\r\nProxy-Connection: "
                                    "close\r\ncontent-length: 0\r\n\r\n";
    const std::string second = "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: NTLM " + Base64Encode("CHALLENGE") +
                               "\r\ncontent-length: 3\r\n\r\nxyz";
    const std::string secondHangup = "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: NTLM " +
                                     Base64Encode("CHALLENGE") +
                                     "\r\nProxy-Connection: close\r\ncontent-length: 3\r\n\r\nxyz";
    const std::string negotiate = "NTLM " + Base64Encode("NEGOTIATE");
    const std::string authenticate = "NTLM " + Base64Encode("AUTHENTICATE:CHALLENGE");
    struct Row {
        const char* what;
        std::vector<std::vector<std::string>> script;
        std::vector<std::vector<std::string>> requests;
    } rows[] = {
        {"the proxy keeps the connection: all three requests on one",
         {{first, second, kOk}},
         {{ProxyRequest("", "close"), ProxyRequest(negotiate, "Keep-Alive"),
           ProxyRequest(authenticate, "Keep-Alive")}}},
        {"the proxy hangs up after its first challenge: the rounds go on a new connection",
         {{firstHangup}, {second, kOk}},
         {{ProxyRequest("", "close")},
          {ProxyRequest(negotiate, "Keep-Alive"), ProxyRequest(authenticate, "Keep-Alive")}}},
        {"the proxy hangs up after the challenge with its token: the second round goes on a new connection",
         {{first, secondHangup}, {kOk}},
         {{ProxyRequest("", "close"), ProxyRequest(negotiate, "Keep-Alive")},
          {ProxyRequest(authenticate, "Keep-Alive")}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        {
            auto ntlm = std::make_shared<CHTTPNTLMAuthenticate>();
            ScriptedPeer peer(row.script);
            Outcome x = ThroughProxy(peer, {m_basic, ntlm});
            EXPECT_EQ(x.status, 200);
            EXPECT_EQ(x.body, "ok");
            EXPECT_TRUE(x.failures.empty());
            EXPECT_EQ(peer.Requests(), row.requests);
        }
        package.ExpectNothingHeld();
    }
}

} // namespace
