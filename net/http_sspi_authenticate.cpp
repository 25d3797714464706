#include "net/http_sspi_authenticate.h"

#include "foundation/trace.h"
#include "net/base64.h"
#include "net/network_exception.h"

#include <algorithm>
#include <mutex>
#include <vector>

using namespace platform::sspi;

namespace {

constexpr const char* kTrace = "http";
// What the first round asks of the context: delegation, mutual authentication, replay and sequence
// detection, confidentiality and connection semantics (0xA1F).
constexpr uint32_t kFirstRoundRequirements = 0xA1F;

// The security interface, loaded by the first user and freed by the last.
struct SharedInterface {
    std::mutex mutex;
    int users = 0;                              // guarded
    platform::SecurityModule* module = nullptr; // guarded
    const SecurityFunctions* table = nullptr;   // guarded
};

SharedInterface& Shared() {
    static SharedInterface shared;
    return shared;
}

bool IsUsable(const SecurityFunctions* table) {
    return table != nullptr && table->AcquireCredentialsHandleA != nullptr &&
           table->FreeCredentialsHandle != nullptr && table->InitializeSecurityContextA != nullptr &&
           table->DeleteSecurityContext != nullptr && table->QuerySecurityPackageInfoA != nullptr &&
           table->FreeContextBuffer != nullptr;
}

// The package calls, or null when the interface cannot be loaded. Each non-null result is one share,
// given back with ReleaseInterface.
const SecurityFunctions* AcquireInterface() {
    SharedInterface& shared = Shared();
    std::lock_guard lock(shared.mutex);
    if (shared.users == 0) {
        platform::SecurityModule* module = platform::LoadSecurityModule("security.dll");
        if (module == nullptr)
            module = platform::LoadSecurityModule("secur32.dll");
        if (module == nullptr)
            return nullptr;
        auto init = reinterpret_cast<InitSecurityInterfaceFn>(
            platform::GetSecurityModuleProc(module, "InitSecurityInterfaceA"));
        const SecurityFunctions* table = init != nullptr ? init() : nullptr;
        // A table without one of the calls used would be called through a null pointer.
        if (!IsUsable(table)) {
            platform::FreeSecurityModule(module);
            return nullptr;
        }
        shared.module = module;
        shared.table = table;
    }
    ++shared.users;
    return shared.table;
}

void ReleaseInterface() {
    SharedInterface& shared = Shared();
    std::lock_guard lock(shared.mutex);
    if (--shared.users > 0)
        return;
    platform::FreeSecurityModule(shared.module);
    shared.module = nullptr;
    shared.table = nullptr;
}

// One more share of an interface that the caller already holds.
const SecurityFunctions* ShareInterface() {
    const SecurityFunctions* table = AcquireInterface();
    if (table == nullptr)
        throw CHTTPMicrosoftSSPIAuthenticateNoScheme(""); // cannot happen while the caller holds one
    return table;
}

// A security context that the current round owns: deleted when the round ends without handing it on.
class OwnedContext {
public:
    OwnedContext(const SecurityFunctions& functions, const SecHandle& context)
        : m_functions(functions), m_context(context) {}
    ~OwnedContext() {
        if (m_owned)
            m_functions.DeleteSecurityContext(&m_context);
    }
    OwnedContext(const OwnedContext&) = delete;
    OwnedContext& operator=(const OwnedContext&) = delete;

    SecHandle* Get() { return &m_context; }

private:
    const SecurityFunctions& m_functions;
    SecHandle m_context;
    bool m_owned = true;
};

} // namespace

// --- CHTTPMicrosoftSSPIAuthenticate ------------------------------------------------------------

CHTTPMicrosoftSSPIAuthenticate::CHTTPMicrosoftSSPIAuthenticate(const std::string& package)
    : CHTTPAuthenticate(package), m_package(package), m_functions(AcquireInterface()) {
    if (m_functions == nullptr)
        throw CHTTPMicrosoftSSPIAuthenticateNoScheme(package);
    std::string name = package; // the call takes a writable text
    SecurityPackageInfo* info = nullptr;
    SecurityStatus status = m_functions->QuerySecurityPackageInfoA(name.data(), &info);
    if (status != kSecEOk || info == nullptr) {
        if (info != nullptr)
            m_functions->FreeContextBuffer(info);
        ReleaseInterface();
        throw CHTTPMicrosoftSSPIAuthenticateNoScheme(package);
    }
    m_capabilities = info->capabilities;
    m_maxToken = info->maxToken;
    m_functions->FreeContextBuffer(info);
}

CHTTPMicrosoftSSPIAuthenticate::CHTTPMicrosoftSSPIAuthenticate(const CHTTPMicrosoftSSPIAuthenticate& other)
    : CHTTPAuthenticate(other), m_package(other.m_package), m_capabilities(other.m_capabilities),
      m_maxToken(other.m_maxToken), m_functions(ShareInterface()) {}

CHTTPMicrosoftSSPIAuthenticate::~CHTTPMicrosoftSSPIAuthenticate() {
    ReleaseInterface();
}

// --- CHTTPMicrosoftSSPIAuthResponse ------------------------------------------------------------

CHTTPMicrosoftSSPIAuthResponse::CHTTPMicrosoftSSPIAuthResponse(const SecHandle& context)
    : m_context(context), m_functions(ShareInterface()) {}

CHTTPMicrosoftSSPIAuthResponse::~CHTTPMicrosoftSSPIAuthResponse() {
    if (m_owned)
        m_functions->DeleteSecurityContext(&m_context);
    ReleaseInterface();
}

SecHandle CHTTPMicrosoftSSPIAuthResponse::TakeContext() {
    m_owned = false;
    return m_context;
}

// --- CHTTPNTLMAuthenticate ---------------------------------------------------------------------

CHTTPNTLMAuthenticate::CHTTPNTLMAuthenticate() : CHTTPMicrosoftSSPIAuthenticate("NTLM") {}

std::unique_ptr<CHTTPAuthenticate> CHTTPNTLMAuthenticate::Clone() const {
    return std::unique_ptr<CHTTPAuthenticate>(new CHTTPNTLMAuthenticate(*this));
}

std::unique_ptr<CHTTPAuthResponse> CHTTPNTLMAuthenticate::Respond(CHTTPAuthResponse* previous) {
    try {
        return previous == nullptr ? FirstRound() : SecondRound(*previous);
    } catch (...) {
        // Any failure of a round is simply no answer: the connection reports it as failed.
        return nullptr;
    }
}

std::unique_ptr<CHTTPAuthResponse> CHTTPNTLMAuthenticate::FirstRound() {
    const SecurityFunctions& sspi = Functions();
    std::string package = GetPackage();
    SecHandle credentials{};
    TimeStamp expiry{};
    // No identity: the package uses the logged-on user's.
    SecurityStatus status =
        sspi.AcquireCredentialsHandleA(nullptr, package.data(), kCredentialsOutbound, nullptr, nullptr,
                                       nullptr, nullptr, &credentials, &expiry);
    if (status != kSecEOk) {
        Trace(kTrace, 2, "auth: no credentials: 0x%x", static_cast<unsigned>(status));
        return nullptr;
    }
    std::vector<char> token(GetMaxToken());
    SecBuffer out{static_cast<uint32_t>(token.size()), kBufferToken, token.data()};
    SecBufferDesc output{kBufferVersion, 1, &out};
    SecHandle context{};
    uint32_t attributes = 0;
    char target[] = "";
    status = sspi.InitializeSecurityContextA(&credentials, nullptr, target, kFirstRoundRequirements, 0,
                                             kNativeDataRepresentation, nullptr, 0, &context, &output,
                                             &attributes, &expiry);
    sspi.FreeCredentialsHandle(&credentials);
    if (status == kSecIContinueNeeded) {
        auto response = std::make_unique<CHTTPMicrosoftSSPIAuthResponse>(context);
        response->AppendCredentials(Base64Encode({token.data(), std::min<size_t>(out.size, token.size())}));
        return response;
    }
    if (status == kSecEOk || status == kSecICompleteNeeded || status == kSecICompleteAndContinue)
        sspi.DeleteSecurityContext(&context);
    Trace(kTrace, 2, "auth: first round: 0x%x", static_cast<unsigned>(status));
    return nullptr;
}

std::unique_ptr<CHTTPAuthResponse> CHTTPNTLMAuthenticate::SecondRound(CHTTPAuthResponse& previous) {
    auto* first = dynamic_cast<CHTTPMicrosoftSSPIAuthResponse*>(&previous);
    if (first == nullptr || !first->OwnsContext())
        return nullptr;
    const SecurityFunctions& sspi = Functions();
    // Taken over at once: whatever happens below, this round deletes the context.
    OwnedContext context(sspi, first->TakeContext());
    std::string challenge = Base64Decode(GetChallenge());
    SecBuffer in{static_cast<uint32_t>(challenge.size()), kBufferToken | kBufferReadOnly, challenge.data()};
    SecBufferDesc input{kBufferVersion, 1, &in};
    std::vector<char> token(GetMaxToken());
    SecBuffer out{static_cast<uint32_t>(token.size()), kBufferToken, token.data()};
    SecBufferDesc output{kBufferVersion, 1, &out};
    uint32_t attributes = 0;
    TimeStamp expiry{};
    char target[] = "";
    SecurityStatus status =
        sspi.InitializeSecurityContextA(nullptr, context.Get(), target, 0, 0, kNativeDataRepresentation,
                                        &input, 0, context.Get(), &output, &attributes, &expiry);
    if (status != kSecEOk) {
        Trace(kTrace, 2, "auth: second round: 0x%x", static_cast<unsigned>(status));
        return nullptr;
    }
    auto response = std::make_unique<CHTTPAuthResponse>();
    response->AppendCredentials(Base64Encode({token.data(), std::min<size_t>(out.size, token.size())}));
    return response;
}
