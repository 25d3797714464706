// The system's security modules and their NTLM package, through our reduced table: the table comes
// out of a real "InitSecurityInterfaceA" with each call in its place, and the authenticator's first
// round produces a real negotiation message. Where the system has no NTLM package (Wine without
// Samba's ntlm_auth), the package is reported missing and no authenticator can be made.
#include "net/base64.h"
#include "net/http_auth_response.h"
#include "net/http_sspi_authenticate.h"
#include "net/network_exception.h"
#include "platform/last_error.h"
#include "platform/sspi.h"
#include "platform/system_message.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace platform::sspi;

namespace {

// A module loaded by name with the table its InitSecurityInterfaceA hands out.
struct Interface {
    platform::SecurityModule* module = nullptr;
    const SecurityFunctions* table = nullptr;

    explicit Interface(const char* name) {
        module = platform::LoadSecurityModule(name);
        if (module == nullptr)
            return;
        auto init = reinterpret_cast<InitSecurityInterfaceFn>(
            platform::GetSecurityModuleProc(module, "InitSecurityInterfaceA"));
        table = init != nullptr ? init() : nullptr;
    }
    ~Interface() { platform::FreeSecurityModule(module); }
};

// Whether the system has an NTLM package, asked through the table.
bool HasNtlm(const SecurityFunctions& table) {
    char name[] = "NTLM";
    SecurityPackageInfo* info = nullptr;
    SecurityStatus status = table.QuerySecurityPackageInfoA(name, &info);
    if (info != nullptr)
        table.FreeContextBuffer(info);
    return status == kSecEOk;
}

TEST(SecurityModule, BothModulesGiveOneTableWithEveryCall) {
    Interface security("security.dll"), secur32("secur32.dll");
    ASSERT_NE(security.module, nullptr);
    ASSERT_NE(secur32.module, nullptr);
    ASSERT_NE(secur32.table, nullptr);
    const SecurityFunctions& t = *secur32.table;
    EXPECT_GE(t.version, 1u);
    EXPECT_NE(t.AcquireCredentialsHandleA, nullptr);
    EXPECT_NE(t.FreeCredentialsHandle, nullptr);
    EXPECT_NE(t.InitializeSecurityContextA, nullptr);
    EXPECT_NE(t.DeleteSecurityContext, nullptr);
    EXPECT_NE(t.QuerySecurityPackageInfoA, nullptr);
    EXPECT_NE(t.FreeContextBuffer, nullptr);
    // "security.dll" forwards to "secur32.dll": the same system table, presented once.
    EXPECT_EQ(security.table, secur32.table);
    // Each entry is the call its name says: asking for an unknown package is the package query's
    // own answer, which a call in the wrong slot would not give.
    char unknown[] = "PxNoSuchPackage";
    SecurityPackageInfo* info = nullptr;
    EXPECT_EQ(t.QuerySecurityPackageInfoA(unknown, &info), kSecESecpkgNotFound);
    if (info != nullptr)
        t.FreeContextBuffer(info);
}

TEST(SecurityModule, MissingModulesAndEntriesAreReported) {
    platform::SetLastError(0);
    EXPECT_EQ(platform::LoadSecurityModule("px_no_such_security.dll"), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorModNotFound);
    Interface secur32("secur32.dll");
    ASSERT_NE(secur32.module, nullptr);
    platform::SetLastError(0);
    EXPECT_EQ(platform::GetSecurityModuleProc(secur32.module, "PxNoSuchEntry"), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorProcNotFound);
    EXPECT_EQ(platform::GetSecurityModuleProc(nullptr, "InitSecurityInterfaceA"), nullptr);
}

// The package's facts through our SecurityPackageInfo, thousands of times at full optimisation: a
// misplaced field reads as nonsense, a wrong calling convention unbalances the stack.
TEST(SecurityModule, PackageFactsReadThroughOurLayoutOverManyCalls) {
    Interface secur32("secur32.dll");
    ASSERT_NE(secur32.table, nullptr);
    const SecurityFunctions& t = *secur32.table;
    if (!HasNtlm(t))
        GTEST_SKIP() << "no NTLM package here (under Wine it needs Samba's ntlm_auth)";
    for (int i = 0; i < 5000; ++i) {
        char name[] = "NTLM";
        SecurityPackageInfo* info = nullptr;
        ASSERT_EQ(t.QuerySecurityPackageInfoA(name, &info), kSecEOk) << i;
        ASSERT_NE(info, nullptr);
        ASSERT_STREQ(info->name, "NTLM") << i;
        ASSERT_GT(info->maxToken, 32u);
        ASSERT_LT(info->maxToken, 65536u);
        ASSERT_EQ(t.FreeContextBuffer(info), kSecEOk);
    }
}

// What the authenticator is built on: the package found by its name, and a first round whose token
// is an NTLM negotiation message.
TEST(NtlmPackage, TheAuthenticatorsFirstRoundIsANegotiationMessage) {
    Interface secur32("secur32.dll");
    ASSERT_NE(secur32.table, nullptr);
    if (!HasNtlm(*secur32.table)) {
        // The way a system without the package must fail: no authenticator for the scheme.
        EXPECT_THROW(CHTTPNTLMAuthenticate(), CHTTPMicrosoftSSPIAuthenticateNoScheme);
        return;
    }
    CHTTPNTLMAuthenticate ntlm;
    EXPECT_EQ(ntlm.GetPackage(), "NTLM");
    EXPECT_GT(ntlm.GetMaxToken(), 32u);
    std::unique_ptr<CHTTPAuthenticate> clone = ntlm.Clone();
    std::unique_ptr<CHTTPAuthResponse> first = clone->Respond(nullptr);
    ASSERT_NE(first, nullptr) << "the first round needs no server";
    EXPECT_FALSE(first->IsComplete());
    std::string token = Base64Decode(first->GetCredentials());
    ASSERT_GE(token.size(), 32u);
    EXPECT_EQ(token.substr(0, 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(token[8], 1) << "type 1: negotiate";
    // A second round on a token that is no challenge is refused, and the context is still given back
    // (a leaked one would show as a failing delete below or in the package's own checks).
    clone->SetChallenge(Base64Encode("not a challenge"));
    EXPECT_EQ(clone->Respond(first.get()), nullptr);
}

TEST(NtlmPackage, MissingPackagesFailTheirQuery) {
    Interface secur32("secur32.dll");
    ASSERT_NE(secur32.table, nullptr);
    char unknown[] = "PxNoSuchPackage";
    SecHandle credentials{};
    TimeStamp expiry{};
    EXPECT_EQ(secur32.table->AcquireCredentialsHandleA(nullptr, unknown, kCredentialsOutbound, nullptr, nullptr,
                                                       nullptr, nullptr, &credentials, &expiry),
              kSecESecpkgNotFound);
}

} // namespace
