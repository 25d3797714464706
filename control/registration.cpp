#include "control/registration.h"

#include "control/class_ids.h"
#include "control/resources/module_resources.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"

#include <initializer_list>
#include <string_view>

namespace {

constexpr const char* kDescription = "Pixolane Picture Upload Plugin";
constexpr const char* kInterfaceName = "IPixolaneUploadPlugin";
constexpr const char* kTypeLibVersion = "1.0";
constexpr const char* kToolboxBitmap = ", 101"; // bitmap resource 101 of the module
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST
constexpr const char* kMiscStatusContent = "131473";
// The system's marshaler for dual interfaces described by a type library.
constexpr const char* kAutomationProxyStub = "{00020424-0000-0000-C000-000000000046}";

// Identifiers of the versions before this one.
constexpr std::string_view kOlderProgramIds[] = {
    "Pixolane.UploaderCtrl.2",       "Pixolane.UploaderCtrl.2.0.1.8", "Pixolane.UploaderCtrl.2.0.1.9",
    "Pixolane.UploaderCtrl.2.0.2.0", "Pixolane.UploaderCtrl.2.0.3.0",
};

std::string VersionedProgramId() {
    return std::string(kPxProgramId) + "." + kPxVersion;
}

std::string ClassKeyPath() {
    return std::string("CLSID\\") + kClassIdUploadPlugin;
}

std::string TypeLibKeyPath() {
    return std::string("TypeLib\\") + kTypeLibIdUploadPlugin;
}

std::string InterfaceKeyPath() {
    return std::string("Interface\\") + kInterfaceIdUploadPlugin;
}

// Removes the key below HKEY_CLASSES_ROOT with everything under it; a key that is not there is fine.
void RemoveKey(std::string_view path) {
    size_t split = path.rfind('\\');
    std::string_view parentPath =
        split == std::string_view::npos ? std::string_view() : path.substr(0, split);
    std::string_view leaf = split == std::string_view::npos ? path : path.substr(split + 1);
    try {
        CRegistryKey key(kRootClassesRoot, path, CRegistryKey::Open::Existing);
    } catch (const CRegistryKeyNotFoundException&) {
        return;
    }
    CRegistryKey parent(kRootClassesRoot, parentPath, CRegistryKey::Open::Existing);
    parent.Remove(leaf);
}

// The key below `parent`, made when missing, with its default value set.
void WriteKey(const CRegistryKey& parent, std::string_view path, std::string_view value) {
    CRegistryKey key(parent, path, CRegistryKey::Open::Create);
    key.WriteString("", value);
}

void EmptyKey(const CRegistryKey& parent, std::string_view path) {
    CRegistryKey key(parent, path, CRegistryKey::Open::Create);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

void RegisterUploadPlugin(const std::string& modulePath) {
    for (std::string_view older : kOlderProgramIds)
        RemoveKey(older);

    CRegistryKey root(kRootClassesRoot, "", CRegistryKey::Open::Existing);
    {
        CRegistryKey versioned(root, VersionedProgramId(), CRegistryKey::Open::Create);
        versioned.WriteString("", kDescription);
        WriteKey(versioned, "CLSID", kClassIdUploadPlugin);
    }
    {
        CRegistryKey independent(root, kPxProgramId, CRegistryKey::Open::Create);
        independent.WriteString("", kDescription);
        WriteKey(independent, "CLSID", kClassIdUploadPlugin);
        WriteKey(independent, "CurVer", VersionedProgramId());
    }
    {
        CRegistryKey cls(root, ClassKeyPath(), CRegistryKey::Open::Create);
        cls.WriteString("", kDescription);
        WriteKey(cls, "ProgID", VersionedProgramId());
        WriteKey(cls, "VersionIndependentProgID", kPxProgramId);
        EmptyKey(cls, "Programmable");
        EmptyKey(cls, "Control");
        EmptyKey(cls, "Insertable");
        {
            CRegistryKey server(cls, "InprocServer32", CRegistryKey::Open::Create);
            server.WriteString("", modulePath);
            server.WriteString("ThreadingModel", "Apartment");
        }
        WriteKey(cls, "ToolboxBitmap32", modulePath + kToolboxBitmap);
        {
            CRegistryKey misc(cls, "MiscStatus", CRegistryKey::Open::Create);
            misc.WriteString("", "0");
            WriteKey(misc, "1", kMiscStatusContent);
        }
        WriteKey(cls, "TypeLib", kTypeLibIdUploadPlugin);
        WriteKey(cls, "Version", kTypeLibVersion);
    }
    {
        CRegistryKey library(root, TypeLibKeyPath() + "\\" + kTypeLibVersion, CRegistryKey::Open::Create);
        library.WriteString("", kDescription);
        WriteKey(library, "0\\win32", modulePath);
        WriteKey(library, "FLAGS", "0");
        WriteKey(library, "HELPDIR", FolderOf(modulePath));
    }
    {
        CRegistryKey iface(root, InterfaceKeyPath(), CRegistryKey::Open::Create);
        iface.WriteString("", kInterfaceName);
        WriteKey(iface, "ProxyStubClsid32", kAutomationProxyStub);
        CRegistryKey library(iface, "TypeLib", CRegistryKey::Open::Create);
        library.WriteString("", kTypeLibIdUploadPlugin);
        library.WriteString("Version", kTypeLibVersion);
    }
}

void UnregisterUploadPlugin() {
    RemoveKey(VersionedProgramId());
    RemoveKey(kPxProgramId);
    RemoveKey(ClassKeyPath());
    RemoveKey(TypeLibKeyPath());
    RemoveKey(InterfaceKeyPath());
}
