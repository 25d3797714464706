#include "foundation/preferences.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/system_message.h"
#include "tests/foundation/registry_test_store.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

const std::string kPreferences = "Software\\Pixolane\\UploadPlugin\\Settings\\Preferences";
const std::string kRecent = "Software\\Pixolane\\UploadPlugin\\Settings\\RecentItems";

std::string Text(const std::string& text) {
    return text + '\0';
}

TEST(Preferences, EveryPreferenceHasItsDefault) {
    const CNameValueDocument empty;
    EXPECT_EQ(GetBrowseDir(empty), "");
    EXPECT_FALSE(GetBrowseDirSpecified(empty));
    EXPECT_FALSE(GetOldFileDialog(empty));
    EXPECT_TRUE(GetAutoStart(empty));
    EXPECT_FALSE(GetAlertDone(empty));
    EXPECT_EQ(GetProxyState(empty), kProxyStateSystem);
    EXPECT_EQ(GetProxyAddress(empty), "");
    EXPECT_EQ(GetProxyPort(empty), "");
    EXPECT_EQ(GetProxyPortNumber(empty), 80);
    EXPECT_EQ(GetProxyUsername(empty), "");
    EXPECT_EQ(GetProxyPassword(empty), "");
    EXPECT_EQ(GetColumnOrder(empty, UploadListColumn::Name), 0);
    EXPECT_EQ(GetColumnOrder(empty, UploadListColumn::Size), 0);
    EXPECT_EQ(GetColumnOrder(empty, UploadListColumn::Status), 0);
    EXPECT_EQ(GetColumnWidth(empty, UploadListColumn::Name), 130);
    EXPECT_EQ(GetColumnWidth(empty, UploadListColumn::Size), 48);
    EXPECT_EQ(GetColumnWidth(empty, UploadListColumn::Status), 160);

    // The listing agrees with the getters.
    std::vector<PreferenceSetting> listing = ListPreferences(empty);
    ASSERT_EQ(listing.size(), 16u);
    for (const PreferenceSetting& setting : listing)
        EXPECT_FALSE(setting.stored) << setting.name;
    EXPECT_EQ(listing[3].name, "autostart");
    EXPECT_EQ(listing[3].text, "true");
    EXPECT_EQ(listing[5].text, "system");
    EXPECT_EQ(listing[15].name, "columns/statusWidth");
    EXPECT_EQ(listing[15].text, "160");
}

TEST(Preferences, BooleansAreTrueOnlyForTheExactText) {
    struct Case {
        const char* stored;
        bool value;
    } cases[] = {
        {"true", true},                 // the one text that reads true
        {"TRUE", false},                // case matters
        {"True", false},  {"1", false}, // numbers are not booleans here
        {"", false},                    // present but empty is false, not the default
        {"true ", false},               // no trimming
        {"false", false},
    };
    for (const Case& c : cases) {
        CNameValueDocument document;
        for (const char* name : {"autostart", "browsedirspecified", "oldfiledialog", "alertDone"})
            document.SetValue(name, c.stored);
        EXPECT_EQ(GetAutoStart(document), c.value) << c.stored;
        EXPECT_EQ(GetBrowseDirSpecified(document), c.value) << c.stored;
        EXPECT_EQ(GetOldFileDialog(document), c.value) << c.stored;
        EXPECT_EQ(GetAlertDone(document), c.value) << c.stored;
    }
}

TEST(Preferences, ProxyStateTexts) {
    struct Case {
        const char* stored;
        int state;
    } cases[] = {
        {"manual", kProxyStateManual}, {"system", kProxyStateSystem},
        {"", kProxyStateSystem},                                    // empty reads as the system's settings
        {"none", kProxyStateNone},     {"Manual", kProxyStateNone}, // anything else is a direct connection
        {"2", kProxyStateNone},
    };
    for (const Case& c : cases) {
        CNameValueDocument document;
        document.SetValue("proxyState", c.stored);
        EXPECT_EQ(GetProxyState(document), c.state) << c.stored;
    }
    CNameValueDocument document;
    struct Store {
        int state;
        const char* text;
    } stores[] = {{0, "none"}, {1, "system"}, {2, "manual"}, {7, "none"}};
    for (const Store& s : stores) {
        SetProxyState(document, s.state);
        EXPECT_EQ(document.GetValue("proxyState"), s.text) << s.state;
    }
}

TEST(Preferences, SettersStoreTheirTextsAndTellWhetherAnythingChanged) {
    CNameValueDocument document;
    EXPECT_TRUE(SetAutoStart(document, false));
    EXPECT_FALSE(SetAutoStart(document, false));
    EXPECT_EQ(document.GetValue("autostart"), "false");
    EXPECT_TRUE(SetAlertDone(document, true));
    EXPECT_EQ(document.GetValue("alertDone"), "true");
    SetBrowseDirSpecified(document, true);
    SetOldFileDialog(document, false);
    SetBrowseDir(document, "/home/user/Pictures");
    EXPECT_EQ(document.GetValue("browsedirspecified"), "true");
    EXPECT_EQ(document.GetValue("oldfiledialog"), "false");
    EXPECT_EQ(document.GetValue("browseDir"), "/home/user/Pictures");

    EXPECT_TRUE(SetProxyAddressAndPort(document, "proxy", ""));
    EXPECT_FALSE(SetProxyAddressAndPort(document, "proxy", ""));
    EXPECT_TRUE(SetProxyAddressAndPort(document, "proxy", "8080")); // only the port differs
    EXPECT_EQ(document.GetValue("proxyAddress"), "proxy");
    EXPECT_EQ(document.GetValue("proxyPort"), "8080");
    EXPECT_EQ(GetProxyPortNumber(document), 8080);
    SetProxyUsername(document, "me");
    SetProxyPassword(document, "secret");
    EXPECT_EQ(document.GetValue("proxyUsername"), "me");
    EXPECT_EQ(document.GetValue("proxyPassword"), "secret");

    SetProxyAddressAndPort(document, "proxy", "abc");
    EXPECT_EQ(GetProxyPortNumber(document), 0); // not a number
}

TEST(Preferences, ColumnsLiveInTheirOwnNode) {
    CNameValueDocument document;
    SetColumnOrder(document, UploadListColumn::Size, -1);
    SetColumnWidth(document, UploadListColumn::Name, 200);
    EXPECT_EQ(document.GetValue("columns/sizeOrder"), "-1");
    EXPECT_EQ(document.GetValue("columns/nameWidth"), "200");
    EXPECT_EQ(GetColumnOrder(document, UploadListColumn::Size), -1);
    EXPECT_EQ(GetColumnWidth(document, UploadListColumn::Name), 200);
    EXPECT_EQ(GetColumnWidth(document, UploadListColumn::Status), 160);

    document.SetValue("columns/statusWidth", "wide");
    EXPECT_EQ(GetColumnWidth(document, UploadListColumn::Status), 160); // no number: the default
    // A value named like the node does not confuse the getters.
    CNameValueDocument odd;
    odd.SetValue("columns", "not a node");
    EXPECT_EQ(GetColumnWidth(odd, UploadListColumn::Name), 130);
}

TEST(Preferences, ChecksSharedByTheDialogAndTheCommandLine) {
    struct Case {
        const char* what;
        int state;
        const char* address;
        const char* port;
        PreferenceError error;
    } cases[] = {
        {"manual, empty port means 80", kProxyStateManual, "proxy", "", PreferenceError::None},
        {"manual, lowest port", kProxyStateManual, "proxy", "1", PreferenceError::None},
        {"manual, highest port", kProxyStateManual, "proxy", "65535", PreferenceError::None},
        {"manual, no address", kProxyStateManual, "", "8080", PreferenceError::ProxyAddressMissing},
        {"manual, port 0", kProxyStateManual, "proxy", "0", PreferenceError::BadProxyPort},
        {"manual, port too high", kProxyStateManual, "proxy", "70000", PreferenceError::BadProxyPort},
        {"manual, port huge", kProxyStateManual, "proxy", "99999999999999999999",
         PreferenceError::BadProxyPort},
        {"manual, port not digits", kProxyStateManual, "proxy", "80a", PreferenceError::BadProxyPort},
        {"manual, negative port", kProxyStateManual, "proxy", "-80", PreferenceError::BadProxyPort},
        {"system ignores the fields", kProxyStateSystem, "", "garbage", PreferenceError::None},
        {"none ignores the fields", kProxyStateNone, "", "0", PreferenceError::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckProxySettings(c.state, c.address, c.port), c.error) << c.what;
    EXPECT_EQ(GetPreferenceErrorStringId(PreferenceError::ProxyAddressMissing), 10071u);
    EXPECT_EQ(GetPreferenceErrorStringId(PreferenceError::BadProxyPort), 10072u);
    EXPECT_EQ(GetPreferenceErrorStringId(PreferenceError::NotBoolean), 0u);
}

TEST(Preferences, SetAndUnsetByNameCheckTheirValues) {
    CNameValueDocument document;
    struct Case {
        const char* name;
        const char* value;
        PreferenceError error;
    } cases[] = {
        {"autostart", "false", PreferenceError::None},
        {"autostart", "TRUE", PreferenceError::NotBoolean}, // booleans are exactly "true" or "false"
        {"autostart", "yes", PreferenceError::NotBoolean},
        {"noSuchThing", "1", PreferenceError::UnknownName},
        {"columns/unknown", "1", PreferenceError::UnknownName},
        {"proxyState", "direct", PreferenceError::BadProxyState},
        {"proxyState", "manual", PreferenceError::ProxyAddressMissing}, // no address yet
        {"proxyPort", "65536", PreferenceError::BadProxyPort},
        {"proxyPort", "3128", PreferenceError::None},
        {"proxyAddress", "proxy.example", PreferenceError::None},
        {"proxyState", "manual", PreferenceError::None},
        {"proxyAddress", "", PreferenceError::ProxyAddressMissing}, // manual needs it
        {"proxyPassword", "any text at all", PreferenceError::None},
        {"columns/nameWidth", "250", PreferenceError::None},
        {"columns/nameWidth", "-1", PreferenceError::BadNumber},
        {"columns/sizeOrder", "-3", PreferenceError::None},
        {"columns/sizeOrder", "4", PreferenceError::BadNumber},
        {"columns/sizeOrder", "x", PreferenceError::BadNumber},
    };
    for (const Case& c : cases) {
        CNameValueDocument before = document;
        EXPECT_EQ(SetPreference(document, c.name, c.value), c.error) << c.name << "=" << c.value;
        if (c.error != PreferenceError::None) {
            EXPECT_TRUE(document == before) << c.name << "=" << c.value;
        }
    }
    EXPECT_EQ(GetProxyState(document), kProxyStateManual);
    EXPECT_EQ(GetProxyAddress(document), "proxy.example");
    EXPECT_EQ(GetColumnOrder(document, UploadListColumn::Size), -3);

    EXPECT_EQ(UnsetPreference(document, "proxyAddress"), PreferenceError::ProxyAddressMissing);
    EXPECT_EQ(UnsetPreference(document, "proxyState"), PreferenceError::None); // back to system
    EXPECT_EQ(UnsetPreference(document, "proxyAddress"), PreferenceError::None);
    EXPECT_EQ(UnsetPreference(document, "columns/nameWidth"), PreferenceError::None);
    EXPECT_EQ(UnsetPreference(document, "bogus"), PreferenceError::UnknownName);
    EXPECT_EQ(GetColumnWidth(document, UploadListColumn::Name), 130);

    std::vector<PreferenceSetting> listing = ListPreferences(document);
    EXPECT_TRUE(listing[3].stored); // autostart
    EXPECT_EQ(listing[3].text, "false");
    EXPECT_FALSE(listing[5].stored); // proxyState
}

// --- Against the store --------------------------------------------------------------------------

using StoredPreferences = RegistryTestStore;

TEST_F(StoredPreferences, AMissingKeyLeavesTheDocumentEmpty) {
    CNameValueDocument document;
    document.SetValue("stale", "from before");
    LoadPreferences(document);
    EXPECT_TRUE(document.IsEmpty());
    EXPECT_TRUE(GetAutoStart(document));
    EXPECT_FALSE(KeyExists(kPreferences)); // loading creates nothing
}

TEST_F(StoredPreferences, SaveAndLoadKeepEveryValueAndTheColumnsSubkey) {
    CNameValueDocument document;
    SetAutoStart(document, false);
    SetProxyState(document, kProxyStateManual);
    SetProxyAddressAndPort(document, "proxy.example", "3128");
    SetColumnWidth(document, UploadListColumn::Status, 222);
    SavePreferences(document);

    EXPECT_EQ(GetRaw(kPreferences, "autostart"), std::make_pair(uint32_t{platform::kRegSz}, Text("false")));
    EXPECT_EQ(GetRaw(kPreferences, "proxyState").second, Text("manual"));
    EXPECT_EQ(GetRaw(kPreferences + "\\columns", "statusWidth"),
              std::make_pair(uint32_t{platform::kRegSz}, Text("222")));

    CNameValueDocument loaded;
    LoadPreferences(loaded);
    EXPECT_TRUE(loaded == document);
    EXPECT_FALSE(GetAutoStart(loaded));
    EXPECT_EQ(GetColumnWidth(loaded, UploadListColumn::Status), 222);
}

TEST_F(StoredPreferences, ValuesWrittenByOthersReadByTheirRules) {
    PutRaw(kPreferences, "autostart", platform::kRegSz, Text("TRUE"));
    PutRaw(kPreferences, "proxyState", platform::kRegSz, Text(""));
    PutRaw(kPreferences, "proxyPort", platform::kRegDword, std::string("\x50\0\0\0", 4));
    CNameValueDocument document;
    LoadPreferences(document);
    EXPECT_FALSE(GetAutoStart(document));
    EXPECT_EQ(GetProxyState(document), kProxyStateSystem);
    EXPECT_EQ(GetProxyPort(document), "80");
}

TEST_F(StoredPreferences, AFailedLoadRaisesAndLeavesTheDocumentEmpty) {
    PutRaw(kPreferences, "autostart", platform::kRegSz, Text("false"));
    PutRaw(kPreferences + "\\columns", "broken", platform::kRegBinary, "\x01\x02");
    CNameValueDocument document;
    document.SetValue("stale", "x");
    EXPECT_THROW(LoadPreferences(document), CRegistryNoValueException);
    EXPECT_TRUE(document.IsEmpty());
}

TEST_F(StoredPreferences, SetAndUnsetStoredPreferences) {
    EXPECT_EQ(UnsetStoredPreference("autostart"), PreferenceError::None); // nothing stored yet
    EXPECT_EQ(SetStoredPreference("autostart", "false"), PreferenceError::None);
    EXPECT_EQ(SetStoredPreference("columns/sizeWidth", "99"), PreferenceError::None);
    EXPECT_EQ(SetStoredPreference("proxyState", "manual"), PreferenceError::ProxyAddressMissing);
    EXPECT_EQ(GetRaw(kPreferences, "autostart").second, Text("false"));
    EXPECT_EQ(GetRaw(kPreferences + "\\columns", "sizeWidth").second, Text("99"));
    EXPECT_EQ(GetRaw(kPreferences, "proxyState").first, 0u);

    EXPECT_EQ(UnsetStoredPreference("autostart"), PreferenceError::None);
    EXPECT_EQ(UnsetStoredPreference("columns/sizeWidth"), PreferenceError::None);
    EXPECT_EQ(UnsetStoredPreference("columns/nameWidth"), PreferenceError::None); // never stored
    EXPECT_EQ(GetRaw(kPreferences, "autostart").first, 0u);
    EXPECT_EQ(GetRaw(kPreferences + "\\columns", "sizeWidth").first, 0u);
    CNameValueDocument document;
    LoadPreferences(document);
    EXPECT_TRUE(GetAutoStart(document));
}

// --- Recent folders -------------------------------------------------------------------------------

class RecentFolders : public RegistryTestStore {
protected:
    // A folder that exists, below the test's own folder.
    std::string Folder(const std::string& name) {
        std::string path = m_folder + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }
    std::string Slot(int slot) { return TextAt("Recent" + std::to_string(slot)); }
    std::string TextAt(const std::string& name) {
        auto [type, bytes] = GetRaw(kRecent, name);
        return type == platform::kRegSz ? bytes.substr(0, bytes.find('\0')) : "(absent)";
    }
};

TEST_F(RecentFolders, NineSlotsAreWrittenInRotation) {
    for (int i = 0; i < 8; ++i)
        SaveRecentFolder(Folder(std::string("f").append(std::to_string(i))));
    EXPECT_EQ(TextAt("CurItem"), "8");
    EXPECT_EQ(GetRaw(kRecent, "CurItem").first, uint32_t{platform::kRegSz}); // decimal text
    SaveRecentFolder(Folder("f8"));
    EXPECT_EQ(Slot(8), Folder("f8"));
    EXPECT_EQ(TextAt("CurItem"), "0");
    EXPECT_EQ(Slot(9), "(absent)"); // only ever read

    // The tenth distinct folder overwrites slot 0.
    SaveRecentFolder(Folder("f9"));
    EXPECT_EQ(Slot(0), Folder("f9"));
    EXPECT_EQ(TextAt("CurItem"), "1");
    std::vector<std::string> expected = {Folder("f9")};
    for (int i = 1; i <= 8; ++i)
        expected.push_back(Folder(std::string("f").append(std::to_string(i))));
    EXPECT_EQ(LoadRecentFolders(), expected);
}

TEST_F(RecentFolders, AFolderAlreadyListedIsNotStoredAgain) {
    SaveRecentFolder(Folder("a"));
    SaveRecentFolder(Folder("b"));
    SaveRecentFolder(Folder("a")); // in slot 0, CurItem 2: nothing
    EXPECT_EQ(TextAt("CurItem"), "2");
    EXPECT_EQ(Slot(2), "(absent)");

    // Exactly the same text only: another case is another folder.
    SaveRecentFolder(Folder("A"));
    EXPECT_EQ(Slot(2), Folder("A"));

    // A duplicate in slot 9, which is never written, counts too.
    PutRaw(kRecent, "Recent9", platform::kRegSz, Text(Folder("nine")));
    SaveRecentFolder(Folder("nine"));
    EXPECT_EQ(TextAt("CurItem"), "3");

    // The slot about to be written does not count as a duplicate: it is written again and the rotation
    // moves on.
    PutRaw(kRecent, "CurItem", platform::kRegSz, Text("0"));
    SaveRecentFolder(Folder("a"));
    EXPECT_EQ(Slot(0), Folder("a"));
    EXPECT_EQ(TextAt("CurItem"), "1");
}

TEST_F(RecentFolders, CurItemIsReadFromTextOrNumber) {
    struct Case {
        const char* what;
        uint32_t type;
        std::string bytes;
        int slot; // written next
    } cases[] = {
        {"decimal text", platform::kRegSz, Text("3"), 3},
        {"a number", platform::kRegDword, std::string("\x04\0\0\0", 4), 4},
        {"text that is no number", platform::kRegSz, Text("x"), 0},
        // out of the rotation: started again at 0 rather than writing "Recent42" or "Recent-1"
        {"too high", platform::kRegSz, Text("42"), 0},
        {"slot nine", platform::kRegSz, Text("9"), 0},
        {"negative", platform::kRegDword, std::string("\xff\xff\xff\xff", 4), 0},
    };
    int round = 0;
    for (const Case& c : cases) {
        PutRaw(kRecent, "CurItem", c.type, c.bytes);
        std::string folder = Folder("round" + std::to_string(round++));
        SaveRecentFolder(folder);
        EXPECT_EQ(Slot(c.slot), folder) << c.what;
        EXPECT_EQ(TextAt("CurItem"), std::to_string((c.slot + 1) % 9)) << c.what;
    }
}

TEST_F(RecentFolders, LoadingListsExistingFoldersAndForgetsTheRest) {
    std::string file = m_folder + "/plain-file";
    std::ofstream(file) << "x";
    struct Stored {
        int slot;
        std::string path;
    } slots[] = {
        {0, Folder("zero")},
        {1, m_folder + "/gone"}, // no longer exists
        {3, Folder("three")},    // slot 2 is simply missing
        {4, file},               // a file is no folder
        {5, ""},                 // names nothing
        {9, Folder("nine")},     // the read-only slot is listed too
    };
    for (const Stored& s : slots)
        PutRaw(kRecent, "Recent" + std::to_string(s.slot), platform::kRegSz, Text(s.path));
    PutRaw(kRecent, "Recent6", platform::kRegBinary, "\x01"); // unreadable: skipped, kept

    EXPECT_EQ(LoadRecentFolders(),
              (std::vector<std::string>{Folder("zero"), Folder("three"), Folder("nine")}));
    EXPECT_EQ(Slot(1), "(absent)");
    EXPECT_EQ(Slot(4), "(absent)");
    EXPECT_EQ(Slot(5), "(absent)");
    EXPECT_EQ(Slot(0), Folder("zero"));
    EXPECT_EQ(GetRaw(kRecent, "Recent6").first, uint32_t{platform::kRegBinary});
}

TEST_F(RecentFolders, RegistryFailuresAreSilent) {
    EXPECT_TRUE(LoadRecentFolders().empty()); // no key yet
    EXPECT_FALSE(KeyExists(kRecent));
    platform::SetRegistryPath(UnopenableStorePath());
    EXPECT_NO_THROW(SaveRecentFolder(Folder("x")));
    EXPECT_TRUE(LoadRecentFolders().empty());
}

} // namespace
