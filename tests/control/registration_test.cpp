// The control's registration keys, written into and removed from a registry store of the test's own
// (a temporary XDG_CONFIG_HOME), as `pxupload register` and `unregister` do.
#include "control/class_ids.h"
#include "control/registration.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/registry.h"
#include "tests/support/catalogues.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_temp_folder.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace {

class Registration : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
#ifndef _WIN32
        m_env.Set("XDG_CONFIG_HOME", m_folder.Path());
        platform::SetRegistryPath(""); // the default store again, now under the test's folder
#else
        // "" would be the system's own roots: a private store keeps the test off the real keys.
        platform::SetRegistryPath(m_folder / "registry.db");
#endif
    }
    void TearDown() override {
        platform::SetRegistryPath("");
        m_env.Restore();
        CataloguesInstalled::TearDown();
    }

    static bool Exists(const std::string& path) {
        try {
            CRegistryKey key(kRootClassesRoot, path, CRegistryKey::Open::ReadOnly);
            return true;
        } catch (const CRegistryException&) {
            return false;
        }
    }
    static std::string Value(const std::string& path, const std::string& name = "") {
        CRegistryKey key(kRootClassesRoot, path, CRegistryKey::Open::ReadOnly);
        return key.ReadString(name);
    }

    testsupport::ScopedTempFolder m_folder;
    testsupport::ScopedEnv m_env;
};

const std::string kClassKey = std::string("CLSID\\") + kClassIdUploadPlugin;

TEST_F(Registration, WritesTheProgramIdsTheClassAndTheTypeLibrary) {
    RegisterUploadPlugin("/opt/pixolane/pxupload");
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path() + "/pixolane/registry.db"));
#endif

    EXPECT_EQ(Value("Pixolane.UploaderCtrl.2.0.4.0"), "Pixolane Picture Upload Plugin");
    EXPECT_EQ(Value("Pixolane.UploaderCtrl.2.0.4.0\\CLSID"), kClassIdUploadPlugin);
    EXPECT_EQ(Value("Pixolane.UploaderCtrl"), "Pixolane Picture Upload Plugin");
    EXPECT_EQ(Value("Pixolane.UploaderCtrl\\CLSID"), kClassIdUploadPlugin);
    EXPECT_EQ(Value("Pixolane.UploaderCtrl\\CurVer"), "Pixolane.UploaderCtrl.2.0.4.0");

    EXPECT_EQ(Value(kClassKey), "Pixolane Picture Upload Plugin");
    EXPECT_EQ(Value(kClassKey + "\\ProgID"), "Pixolane.UploaderCtrl.2.0.4.0");
    EXPECT_EQ(Value(kClassKey + "\\VersionIndependentProgID"), "Pixolane.UploaderCtrl");
    for (const char* empty : {"Programmable", "Control", "Insertable"}) {
        EXPECT_TRUE(Exists(kClassKey + "\\" + empty)) << empty;
        CRegistryKey key(kRootClassesRoot, kClassKey + "\\" + empty, CRegistryKey::Open::ReadOnly);
        EXPECT_TRUE(key.GetValueNames().empty()) << empty;
    }
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32"), "/opt/pixolane/pxupload");
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Value(kClassKey + "\\ToolboxBitmap32"), "/opt/pixolane/pxupload, 101");
    EXPECT_EQ(Value(kClassKey + "\\MiscStatus"), "0");
    EXPECT_EQ(Value(kClassKey + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(Value(kClassKey + "\\TypeLib"), kTypeLibIdUploadPlugin);
    EXPECT_EQ(Value(kClassKey + "\\Version"), "1.0");

    const std::string library = std::string("TypeLib\\") + kTypeLibIdUploadPlugin + "\\1.0";
    EXPECT_EQ(Value(library), "Pixolane Picture Upload Plugin");
    EXPECT_EQ(Value(library + "\\0\\win32"), "/opt/pixolane/pxupload");
    const std::string iface = std::string("Interface\\") + kInterfaceIdUploadPlugin;
    EXPECT_EQ(Value(iface), "IPixolaneUploadPlugin");
    EXPECT_EQ(Value(iface + "\\TypeLib"), kTypeLibIdUploadPlugin);

    // Registering again changes nothing and fails nothing.
    RegisterUploadPlugin("/opt/pixolane/pxupload");
    EXPECT_EQ(Value(kClassKey + "\\ProgID"), "Pixolane.UploaderCtrl.2.0.4.0");
}

TEST_F(Registration, RegisteringDeletesTheOlderProgramIds) {
    const char* older[] = {"Pixolane.UploaderCtrl.2", "Pixolane.UploaderCtrl.2.0.1.8",
                           "Pixolane.UploaderCtrl.2.0.1.9", "Pixolane.UploaderCtrl.2.0.2.0",
                           "Pixolane.UploaderCtrl.2.0.3.0"};
    for (const char* id : older) {
        CRegistryKey key(kRootClassesRoot, std::string(id) + "\\CLSID", CRegistryKey::Open::Create);
        key.WriteString("", "{00000000-0000-0000-0000-000000000001}");
    }
    RegisterUploadPlugin("/usr/bin/pxupload");
    for (const char* id : older)
        EXPECT_FALSE(Exists(id)) << id;
    EXPECT_TRUE(Exists("Pixolane.UploaderCtrl.2.0.4.0"));
}

TEST_F(Registration, UnregisteringRemovesOurKeysAndNothingElse) {
    {
        CRegistryKey other(kRootClassesRoot, "CLSID\\{00000000-0000-0000-0000-000000000002}",
                           CRegistryKey::Open::Create);
        other.WriteString("", "another program's class");
    }
    RegisterUploadPlugin("/usr/bin/pxupload");
    UnregisterUploadPlugin();
    for (const std::string& gone :
         {std::string("Pixolane.UploaderCtrl.2.0.4.0"), std::string("Pixolane.UploaderCtrl"), kClassKey,
          std::string("TypeLib\\") + kTypeLibIdUploadPlugin,
          std::string("Interface\\") + kInterfaceIdUploadPlugin})
        EXPECT_FALSE(Exists(gone)) << gone;
    EXPECT_EQ(Value("CLSID\\{00000000-0000-0000-0000-000000000002}"), "another program's class");
    // Nothing left to remove is no failure.
    EXPECT_NO_THROW(UnregisterUploadPlugin());
}

} // namespace
