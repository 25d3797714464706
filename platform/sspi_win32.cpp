#include "platform/last_error.h"
#include "platform/sspi.h"

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <sspi.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>

namespace platform {

// The package calls receive our structures in place of the system's, so each must be the system's
// own, byte for byte.
static_assert(sizeof(sspi::SecHandle) == sizeof(::SecHandle) &&
              offsetof(sspi::SecHandle, upper) == offsetof(::SecHandle, dwUpper));
static_assert(sizeof(sspi::TimeStamp) == sizeof(::TimeStamp) &&
              offsetof(sspi::TimeStamp, high) == offsetof(::SECURITY_INTEGER, HighPart));
static_assert(sizeof(sspi::SecBuffer) == sizeof(::SecBuffer) &&
              offsetof(sspi::SecBuffer, type) == offsetof(::SecBuffer, BufferType) &&
              offsetof(sspi::SecBuffer, data) == offsetof(::SecBuffer, pvBuffer));
static_assert(sizeof(sspi::SecBufferDesc) == sizeof(::SecBufferDesc) &&
              offsetof(sspi::SecBufferDesc, count) == offsetof(::SecBufferDesc, cBuffers) &&
              offsetof(sspi::SecBufferDesc, buffers) == offsetof(::SecBufferDesc, pBuffers));
static_assert(sizeof(sspi::SecurityPackageInfo) == sizeof(::SecPkgInfoA) &&
              offsetof(sspi::SecurityPackageInfo, version) == offsetof(::SecPkgInfoA, wVersion) &&
              offsetof(sspi::SecurityPackageInfo, rpcId) == offsetof(::SecPkgInfoA, wRPCID) &&
              offsetof(sspi::SecurityPackageInfo, maxToken) == offsetof(::SecPkgInfoA, cbMaxToken) &&
              offsetof(sspi::SecurityPackageInfo, name) == offsetof(::SecPkgInfoA, Name) &&
              offsetof(sspi::SecurityPackageInfo, comment) == offsetof(::SecPkgInfoA, Comment));
static_assert(sspi::kSecEOk == SEC_E_OK && sspi::kSecIContinueNeeded == SEC_I_CONTINUE_NEEDED &&
              sspi::kSecICompleteNeeded == SEC_I_COMPLETE_NEEDED &&
              sspi::kSecICompleteAndContinue == SEC_I_COMPLETE_AND_CONTINUE &&
              sspi::kSecESecpkgNotFound == SEC_E_SECPKG_NOT_FOUND &&
              sspi::kSecEInternalError == SEC_E_INTERNAL_ERROR &&
              sspi::kSecEInvalidToken == SEC_E_INVALID_TOKEN &&
              sspi::kSecEBufferTooSmall == SEC_E_BUFFER_TOO_SMALL &&
              sspi::kSecENoCredentials == SEC_E_NO_CREDENTIALS);
static_assert(sspi::kCredentialsOutbound == SECPKG_CRED_OUTBOUND && sspi::kBufferToken == SECBUFFER_TOKEN &&
              sspi::kBufferReadOnly == SECBUFFER_READONLY && sspi::kBufferVersion == SECBUFFER_VERSION &&
              sspi::kNativeDataRepresentation == SECURITY_NATIVE_DREP);

namespace {

// The system's table holds many more calls than ours and in another order, so the module's
// "InitSecurityInterfaceA" is served through Init below, which presents each system table as one
// of ours. A presented table lives as long as the process: the system's own is static in its
// module, and a holder may keep ours while another module is loaded.
std::atomic<INIT_SECURITY_INTERFACE_A> g_systemInit{nullptr};
std::mutex g_tablesLock;
std::map<const SecurityFunctionTableA*, sspi::SecurityFunctions> g_tables; // guarded by g_tablesLock

template <typename Ours, typename Theirs>
Ours Call(Theirs theirs) {
    return reinterpret_cast<Ours>(reinterpret_cast<void*>(theirs));
}

sspi::SecurityFunctions* PX_SYSTEM_CALL Init() {
    INIT_SECURITY_INTERFACE_A systemInit = g_systemInit.load();
    const SecurityFunctionTableA* system = systemInit != nullptr ? systemInit() : nullptr;
    if (system == nullptr)
        return nullptr;
    std::lock_guard lock(g_tablesLock);
    auto [entry, added] = g_tables.try_emplace(system);
    if (added) {
        sspi::SecurityFunctions& ours = entry->second;
        ours.version = system->dwVersion;
        ours.AcquireCredentialsHandleA =
            Call<sspi::AcquireCredentialsHandleFn>(system->AcquireCredentialsHandleA);
        ours.FreeCredentialsHandle = Call<sspi::FreeCredentialsHandleFn>(system->FreeCredentialHandle);
        ours.InitializeSecurityContextA =
            Call<sspi::InitializeSecurityContextFn>(system->InitializeSecurityContextA);
        ours.DeleteSecurityContext = Call<sspi::DeleteSecurityContextFn>(system->DeleteSecurityContext);
        ours.QuerySecurityPackageInfoA =
            Call<sspi::QuerySecurityPackageInfoFn>(system->QuerySecurityPackageInfoA);
        ours.FreeContextBuffer = Call<sspi::FreeContextBufferFn>(system->FreeContextBuffer);
    }
    return &entry->second;
}
static_assert(std::is_same_v<decltype(&Init), sspi::InitSecurityInterfaceFn>);

class SystemSecurityModuleSource : public SecurityModuleSource {
public:
    SecurityModule* Load(const char* name) override {
        HMODULE module = ::LoadLibraryA(name);
        if (module == nullptr)
            SetLastError(::GetLastError());
        return reinterpret_cast<SecurityModule*>(module);
    }

    void* GetProc(SecurityModule* module, const char* name) override {
        FARPROC proc = ::GetProcAddress(reinterpret_cast<HMODULE>(module), name);
        if (proc == nullptr) {
            SetLastError(::GetLastError());
            return nullptr;
        }
        if (std::strcmp(name, "InitSecurityInterfaceA") != 0)
            return reinterpret_cast<void*>(proc);
        // "security.dll" forwards to "secur32.dll": whichever was asked, the table is the same one.
        g_systemInit = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(reinterpret_cast<void*>(proc));
        return reinterpret_cast<void*>(&Init);
    }

    void Free(SecurityModule* module) override { ::FreeLibrary(reinterpret_cast<HMODULE>(module)); }
};

SystemSecurityModuleSource g_system;
std::atomic<SecurityModuleSource*> g_source{&g_system};

} // namespace

SecurityModule* LoadSecurityModule(const char* name) {
    if (name == nullptr)
        return nullptr;
    return g_source.load()->Load(name);
}

void* GetSecurityModuleProc(SecurityModule* module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    return g_source.load()->GetProc(module, name);
}

void FreeSecurityModule(SecurityModule* module) {
    if (module != nullptr)
        g_source.load()->Free(module);
}

void SetSecurityModuleSourceForTests(SecurityModuleSource* source) {
    g_source = source != nullptr ? source : &g_system;
}

} // namespace platform
