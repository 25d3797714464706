#include "platform/last_error.h"
#include "platform/sspi.h"
#include "platform/system_message.h"

#include <atomic>

namespace platform {

namespace {

// Linux has no security packages: every module is missing, as a Windows without them would report.
class SystemSecurityModuleSource : public SecurityModuleSource {
public:
    SecurityModule* Load(const char* /*name*/) override {
        SetLastError(kErrorModNotFound);
        return nullptr;
    }
    void* GetProc(SecurityModule* /*module*/, const char* /*name*/) override {
        SetLastError(kErrorProcNotFound);
        return nullptr;
    }
    void Free(SecurityModule* /*module*/) override {}
};

SystemSecurityModuleSource g_system;
std::atomic<SecurityModuleSource*> g_source{&g_system};

} // namespace

SecurityModule* LoadSecurityModule(const char* name) {
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
