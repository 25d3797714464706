// The security-package interface through which the NTLM scheme answers challenges with the logged-on
// user's credentials: a module loaded by name whose "InitSecurityInterfaceA" entry hands out a table of
// the package calls. Only the calls, structures and result codes that the authentication needs are
// declared. Linux has no such module: loading one always fails, so no security package is available.
// On Windows the system's modules are loaded, and their "InitSecurityInterfaceA" is served by this
// layer, which presents the system's full table as the reduced one below. A system without the NTLM
// package (Wine without Samba's ntlm_auth) answers kSecESecpkgNotFound to the package query.
//
// Threads: the module functions may be called from any thread. SetSecurityModuleSourceForTests must
// not run while another thread loads or frees a module.
#pragma once

#include "platform/calling_convention.h"

#include <cstdint>

namespace platform {

namespace sspi {

using SecurityStatus = int32_t;

// Results.
constexpr SecurityStatus kSecEOk = 0;
constexpr SecurityStatus kSecIContinueNeeded = 0x00090312;
constexpr SecurityStatus kSecICompleteNeeded = 0x00090313;
constexpr SecurityStatus kSecICompleteAndContinue = 0x00090314;
constexpr SecurityStatus kSecESecpkgNotFound = static_cast<SecurityStatus>(0x80090305U);
constexpr SecurityStatus kSecEInternalError = static_cast<SecurityStatus>(0x80090304U);
constexpr SecurityStatus kSecEInvalidToken = static_cast<SecurityStatus>(0x80090308U);
constexpr SecurityStatus kSecEBufferTooSmall = static_cast<SecurityStatus>(0x80090321U);
constexpr SecurityStatus kSecENoCredentials = static_cast<SecurityStatus>(0x8009030EU);

// Arguments.
constexpr uint32_t kCredentialsOutbound = 2;         // SECPKG_CRED_OUTBOUND
constexpr uint32_t kBufferToken = 2;                 // SECBUFFER_TOKEN
constexpr uint32_t kBufferReadOnly = 0x80000000;     // SECBUFFER_READONLY
constexpr uint32_t kBufferVersion = 0;               // SECBUFFER_VERSION
constexpr uint32_t kNativeDataRepresentation = 0x10; // SECURITY_NATIVE_DREP

// A credentials or security-context handle; both words zero for none.
struct SecHandle {
    uintptr_t lower;
    uintptr_t upper;
};

struct TimeStamp {
    uint32_t low;
    int32_t high;
};

struct SecBuffer {
    uint32_t size; // bytes; the package sets it to the bytes written in an output buffer
    uint32_t type;
    void* data;
};

struct SecBufferDesc {
    uint32_t version;
    uint32_t count;
    SecBuffer* buffers;
};

// What the package tells about itself; allocated by the package, released with FreeContextBuffer.
struct SecurityPackageInfo {
    uint32_t capabilities;
    uint16_t version;
    uint16_t rpcId;
    uint32_t maxToken; // the largest token the package produces
    char* name;
    char* comment;
};

using AcquireCredentialsHandleFn = SecurityStatus(PX_SYSTEM_CALL*)(char* principal, char* package,
                                                                   uint32_t credentialUse, void* logonId,
                                                                   void* authData, void* getKeyFn,
                                                                   void* getKeyArgument,
                                                                   SecHandle* credential, TimeStamp* expiry);
using FreeCredentialsHandleFn = SecurityStatus(PX_SYSTEM_CALL*)(SecHandle* credential);
using InitializeSecurityContextFn = SecurityStatus(PX_SYSTEM_CALL*)(
    SecHandle* credential, SecHandle* context, char* targetName, uint32_t contextRequirements,
    uint32_t reserved1, uint32_t dataRepresentation, SecBufferDesc* input, uint32_t reserved2,
    SecHandle* newContext, SecBufferDesc* output, uint32_t* contextAttributes, TimeStamp* expiry);
using DeleteSecurityContextFn = SecurityStatus(PX_SYSTEM_CALL*)(SecHandle* context);
using QuerySecurityPackageInfoFn = SecurityStatus(PX_SYSTEM_CALL*)(char* packageName,
                                                                   SecurityPackageInfo** info);
using FreeContextBufferFn = SecurityStatus(PX_SYSTEM_CALL*)(void* buffer);

// The table that "InitSecurityInterfaceA" returns, reduced to the calls used; owned by the module.
struct SecurityFunctions {
    uint32_t version;
    AcquireCredentialsHandleFn AcquireCredentialsHandleA;
    FreeCredentialsHandleFn FreeCredentialsHandle;
    InitializeSecurityContextFn InitializeSecurityContextA;
    DeleteSecurityContextFn DeleteSecurityContext;
    QuerySecurityPackageInfoFn QuerySecurityPackageInfoA;
    FreeContextBufferFn FreeContextBuffer;
};

using InitSecurityInterfaceFn = SecurityFunctions*(PX_SYSTEM_CALL*)();

} // namespace sspi

// An opaque loaded security module.
struct SecurityModule;

// Loads a security module by file name ("security.dll", "secur32.dll"); null when there is none.
SecurityModule* LoadSecurityModule(const char* name);
// An entry point of a loaded module by name, or null.
void* GetSecurityModuleProc(SecurityModule* module, const char* name);
void FreeSecurityModule(SecurityModule* module);

// Where the modules come from: the system's loader unless a test installs a stand-in.
class SecurityModuleSource {
public:
    virtual ~SecurityModuleSource() = default;
    virtual SecurityModule* Load(const char* name) = 0;
    virtual void* GetProc(SecurityModule* module, const char* name) = 0;
    virtual void Free(SecurityModule* module) = 0;
};

// For tests only: serves the module functions from `source` (borrowed; null: the system's again).
void SetSecurityModuleSourceForTests(SecurityModuleSource* source);

} // namespace platform
