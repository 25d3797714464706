#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/system_message.h"
#include "tests/foundation/registry_test_store.h"
#include "tests/foundation/system_text.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

namespace {

using RegistryKey = RegistryTestStore;

const std::string kBase = "Software\\KeyTest";

// A registry exception's text for `error`, the system's text in it (`windowsWording` on Linux).
std::string RegistryText(uint32_t error, const char* windowsWording) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%08x", static_cast<unsigned>(error));
    return "Registry error: " + SystemText(error, windowsWording) + " (" + number + ")";
}

// Runs `action`, which must raise `Exception`, and gives the error and the text it carries.
template <typename Exception>
std::pair<uint32_t, std::string> Raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return {e.GetError(), e.GetText()};
    } catch (const CException& e) {
        return {0xdeadbeef, "another exception: " + e.GetText()};
    }
    return {0xdeadbeef, "(nothing raised)"};
}

TEST_F(RegistryKey, PathsBeginWithABackslashAndCreateComponentByComponent) {
    CRegistryKey key(kRootCurrentUser, kBase + "\\Deep\\Deeper", CRegistryKey::Open::Create);
    EXPECT_EQ(key.GetPath(), "\\" + kBase + "\\Deep\\Deeper");
    EXPECT_EQ(key.GetRoot(), kRootCurrentUser);
    EXPECT_TRUE(key.IsCreating());
    EXPECT_TRUE(KeyExists(kBase + "\\Deep\\Deeper"));

    CRegistryKey same(kRootCurrentUser, "\\" + kBase + "\\deep\\DEEPER", CRegistryKey::Open::Existing);
    EXPECT_EQ(same.GetPath(), "\\" + kBase + "\\deep\\DEEPER");
    CRegistryKey child(same, "Child", CRegistryKey::Open::Create);
    EXPECT_EQ(child.GetPath(), "\\" + kBase + "\\deep\\DEEPER\\Child");
    EXPECT_TRUE(KeyExists(kBase + "\\Deep\\Deeper\\Child"));

    // The root itself: its values are reachable, and the root handle is never closed.
    {
        CRegistryKey root(kRootCurrentUser, "", CRegistryKey::Open::Existing);
        EXPECT_EQ(root.GetPath(), "\\");
        EXPECT_EQ(root.GetHandle(), platform::kHKeyCurrentUser);
        CRegistryKey below(root, kBase, CRegistryKey::Open::Existing);
        EXPECT_EQ(below.GetPath(), "\\" + kBase);
    }
    CRegistryKey afterwards(kRootCurrentUser, kBase, CRegistryKey::Open::Existing);
    EXPECT_EQ(afterwards.GetSubkeyNames(), std::vector<std::string>{"Deep"});
}

TEST_F(RegistryKey, OpeningFailuresRaiseWithTheSystemsError) {
    struct Case {
        const char* what;
        std::pair<uint32_t, std::string> raised;
        uint32_t error;
        std::string text;
    } cases[] = {
        // a key that does not exist
        {"missing", Raised<CRegistryKeyNotFoundException>([] {
             CRegistryKey(kRootCurrentUser, "Software\\Nowhere", CRegistryKey::Open::Existing);
         }),
         platform::kErrorFileNotFound,
         RegistryText(0x00000002, "The system cannot find the file specified.")},
        // two backslashes in a row, whether creating or not
        {"empty component", Raised<CRegistryBadPathException>([] {
             CRegistryKey(kRootCurrentUser, "Pixolane\\\\Twice", CRegistryKey::Open::Create);
         }),
         platform::kRegdbEKeyMissing, RegistryText(0x80040152, "Could not find the key in the registry.")},
        {"leading double backslash", Raised<CRegistryBadPathException>([] {
             CRegistryKey(kRootCurrentUser, "\\\\Software", CRegistryKey::Open::ReadOnly);
         }),
         platform::kRegdbEKeyMissing, RegistryText(0x80040152, "Could not find the key in the registry.")},
        // roots the store does not have, or no root at all
        {"dynamic data root", Raised<CRegistryKeyNotCreatedException>([] {
             CRegistryKey(kRootDynData, "x", CRegistryKey::Open::Create);
         }),
         platform::kErrorInvalidHandle, RegistryText(0x00000006, "The handle is invalid.")},
        {"root index out of the table",
         Raised<CRegistryKeyNotFoundException>([] { CRegistryKey(7, "x", CRegistryKey::Open::Existing); }),
         platform::kErrorInvalidHandle, RegistryText(0x00000006, "The handle is invalid.")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.raised.first, c.error) << c.what;
        EXPECT_EQ(c.raised.second, c.text) << c.what;
    }
    // A bad path creates nothing on its way.
    EXPECT_FALSE(KeyExists("Pixolane"));
}

TEST_F(RegistryKey, AStoreThatCannotBeOpenedRaises) {
    platform::SetRegistryPath(UnopenableStorePath());
    EXPECT_NE(Raised<CRegistryKeyNotFoundException>([] {
                  CRegistryKey(kRootCurrentUser, "Software", CRegistryKey::Open::Existing);
              }).first,
              0xdeadbeef);
    EXPECT_NE(Raised<CRegistryKeyNotCreatedException>([] {
                  CRegistryKey(kRootCurrentUser, "Software", CRegistryKey::Open::Create);
              }).first,
              0xdeadbeef);
}

TEST_F(RegistryKey, ReadStringAndReadIntegerConvertEveryType) {
    auto dword = [](uint32_t value) {
        return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                           static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
    };
    struct Case {
        const char* name;
        uint32_t type;
        std::string bytes;
        const char* text; // what ReadString gives
        int number;       // what ReadInteger gives
    } cases[] = {
        // text and number stored as text
        {"text", platform::kRegSz, std::string("3\0", 2), "3", 3},
        // text stops at the first NUL
        {"nul inside", platform::kRegSz, std::string("12ab\0cd\0", 8), "12ab", 12},
        // text stored without its NUL is read whole
        {"no nul", platform::kRegSz, "plain", "plain", 0},
        // leading blanks and a sign are part of the number
        {"signed", platform::kRegSz, std::string("  -42 apples\0", 13), "  -42 apples", -42},
        // expandable text is read as it is stored
        {"expand", platform::kRegExpandSz, std::string("%HOME%\0", 7), "%HOME%", 0},
        // empty text
        {"empty", platform::kRegSz, std::string(), "", 0},
        // numbers read as signed decimals
        {"dword", platform::kRegDword, dword(5), "5", 5},
        {"dword max", platform::kRegDword, dword(0xffffffff), "-1", -1},
    };
    for (const Case& c : cases)
        PutRaw(kBase, c.name, c.type, c.bytes);
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::ReadOnly);
    for (const Case& c : cases) {
        EXPECT_EQ(key.ReadString(c.name), c.text) << c.name;
        EXPECT_EQ(key.ReadInteger(c.name), c.number) << c.name;
        EXPECT_TRUE(key.HasValue(c.name)) << c.name;
    }
}

TEST_F(RegistryKey, UnreadableValuesRaiseNoValue) {
    PutRaw(kBase, "bytes", platform::kRegBinary, "\x01\x02");
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::Existing);
    const std::string invalid = RegistryText(0x80040153, "Invalid value for registry.");
    const std::string missing = RegistryText(0x00000002, "The system cannot find the file specified.");
    EXPECT_EQ(Raised<CRegistryNoValueException>([&] { key.ReadString("bytes"); }).second, invalid);
    EXPECT_EQ(Raised<CRegistryNoValueException>([&] { key.ReadInteger("bytes"); }).second, invalid);
    EXPECT_EQ(Raised<CRegistryNoValueException>([&] { key.ReadString("absent"); }).second, missing);
    EXPECT_EQ(Raised<CRegistryNoValueException>([&] { key.ReadInteger("absent"); }).second, missing);
    EXPECT_FALSE(key.HasValue("absent"));
}

TEST_F(RegistryKey, WritesStoreTextWithItsNulAndNumbersAsDwords) {
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::Create);
    key.WriteString("text", "hello");
    key.WriteInteger("number", -2);
    key.WriteString("empty", "");
    EXPECT_EQ(GetRaw(kBase, "text"), std::make_pair(uint32_t{platform::kRegSz}, std::string("hello\0", 6)));
    EXPECT_EQ(GetRaw(kBase, "number"),
              std::make_pair(uint32_t{platform::kRegDword}, std::string("\xfe\xff\xff\xff")));
    EXPECT_EQ(GetRaw(kBase, "empty"), std::make_pair(uint32_t{platform::kRegSz}, std::string("\0", 1)));
    EXPECT_EQ(key.ReadInteger("number"), -2);
    EXPECT_EQ(key.ReadString("number"), "-2");
}

TEST_F(RegistryKey, AReadOnlyKeyRefusesChanges) {
    {
        CRegistryKey writable(kRootCurrentUser, kBase + "\\Sub", CRegistryKey::Open::Create);
        writable.WriteString("v", "x");
    }
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::ReadOnly);
    EXPECT_TRUE(key.IsReadOnly());
    const std::string denied = RegistryText(0x00000005, "Access is denied.");
    EXPECT_EQ(Raised<CRegistryValueNotSetException>([&] { key.WriteString("v", "y"); }).second, denied);
    EXPECT_EQ(Raised<CRegistryValueNotSetException>([&] { key.WriteInteger("v", 1); }).second, denied);
    EXPECT_EQ(Raised<CRegistryKeyNotRemovedException>([&] { key.Remove("Sub"); }).second, denied);
    EXPECT_EQ(Raised<CRegistryKeyNotCreatedException>([&] {
                  CRegistryKey(key, "New", CRegistryKey::Open::Create);
              }).second,
              denied);
    EXPECT_TRUE(KeyExists(kBase + "\\Sub"));
}

TEST_F(RegistryKey, RemoveTakesAWholeSubtreeOrOneValue) {
    {
        CRegistryKey deep(kRootCurrentUser, kBase + "\\Tree\\A\\B\\C", CRegistryKey::Open::Create);
        deep.WriteString("leaf", "1");
        CRegistryKey side(kRootCurrentUser, kBase + "\\Tree\\A\\Side", CRegistryKey::Open::Create);
        side.WriteInteger("n", 2);
        CRegistryKey tree(kRootCurrentUser, kBase + "\\Tree", CRegistryKey::Open::Existing);
        tree.WriteString("top", "3");
        CRegistryKey sibling(kRootCurrentUser, kBase + "\\Sibling", CRegistryKey::Open::Create);
        sibling.WriteString("kept", "4");
    }
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::Existing);
    key.WriteString("Tree2", "a value beside the keys");
    key.Remove("tree");
    EXPECT_FALSE(KeyExists(kBase + "\\Tree"));
    EXPECT_EQ(key.GetSubkeyNames(), std::vector<std::string>{"Sibling"});
    // Made again, the key holds nothing of the old tree.
    CRegistryKey again(kRootCurrentUser, kBase + "\\Tree\\A", CRegistryKey::Open::Create);
    EXPECT_TRUE(again.GetSubkeyNames().empty());
    EXPECT_TRUE(again.GetValueNames().empty());

    key.Remove("TREE2");
    EXPECT_FALSE(key.HasValue("Tree2"));
    EXPECT_EQ(Raised<CRegistryValueNotRemovedException>([&] { key.Remove("Tree2"); }).second,
              RegistryText(0x00000002, "The system cannot find the file specified."));
    // RemoveValue never takes a key.
    EXPECT_EQ(Raised<CRegistryValueNotRemovedException>([&] { key.RemoveValue("Sibling"); }).first,
              platform::kErrorFileNotFound);
    EXPECT_TRUE(KeyExists(kBase + "\\Sibling"));
}

TEST_F(RegistryKey, EnumerationGivesTheRegistrysOrder) {
    CRegistryKey key(kRootCurrentUser, kBase, CRegistryKey::Open::Create);
    for (const char* name : {"zulu", "Alpha", "mike"})
        key.WriteString(name, name);
    for (const char* name : {"yankee", "Bravo", "kilo"})
        CRegistryKey(key, name, CRegistryKey::Open::Create);
#ifndef _WIN32
    EXPECT_EQ(key.GetValueNames(), (std::vector<std::string>{"zulu", "Alpha", "mike"}));
#else
    // The system's registry keeps values in an order of its own (the order they were set on Windows,
    // by name under Wine): every value once is what it promises.
    std::vector<std::string> values = key.GetValueNames();
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::string>{"Alpha", "mike", "zulu"}));
#endif
    EXPECT_EQ(key.GetSubkeyNames(), (std::vector<std::string>{"Bravo", "kilo", "yankee"}));
}

// On Windows the Internet Settings are the system's own key, with nothing presented.
#ifndef _WIN32
TEST_F(RegistryKey, InternetSettingsReadThroughTheWrapper) {
    const char* old = getenv("http_proxy");
    std::string saved = old ? old : "";
    setenv("http_proxy", "http://proxy.example:3128/", 1);
    CRegistryKey key(kRootCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                     CRegistryKey::Open::ReadOnly);
    EXPECT_EQ(key.ReadInteger("ProxyEnable"), 1);
    std::string server = key.ReadString("ProxyServer");
    if (old)
        setenv("http_proxy", saved.c_str(), 1);
    else
        unsetenv("http_proxy");
    EXPECT_NE(server.find("http=proxy.example:3128"), std::string::npos);
}

#endif

} // namespace
