#include "foundation/exception.h"
#include "foundation/name_value_document.h"
#include "foundation/registry_exception.h"
#include "foundation/registry_key.h"
#include "platform/system_message.h"
#include "tests/foundation/registry_test_store.h"

#include <functional>

#include <gtest/gtest.h>

namespace {

// The text of the bad-path exception that `action` raises, or a note that it raised nothing.
std::string BadPathText(const std::function<void()>& action) {
    try {
        action();
    } catch (const CBadNameValueDocumentPathException& e) {
        return e.GetText();
    }
    return "(nothing raised)";
}

using NameValueDocument = CataloguesInstalled;

TEST_F(NameValueDocument, SettingAValueMakesTheNodesOnItsPath) {
    CNameValueDocument document;
    EXPECT_TRUE(document.IsEmpty());
    EXPECT_TRUE(document.SetValue("columns/nameWidth", "130"));
    EXPECT_TRUE(document.SetValue("a/b/c", "deep"));
    EXPECT_TRUE(document.SetValue("top", "1"));

    EXPECT_TRUE(document.HasNode("columns"));
    EXPECT_FALSE(document.HasNode("nameWidth"));
    EXPECT_EQ(document.GetNode("columns").GetValue("nameWidth"), "130");
    EXPECT_EQ(document.GetNode("a").GetNode("b").GetValue("c"), "deep");
    EXPECT_EQ(document.GetValue("a/b/c"), "deep");
    EXPECT_TRUE(document.HasValue("top"));
    EXPECT_FALSE(document.HasValue("columns/sizeWidth"));
    EXPECT_FALSE(document.HasValue("nowhere/value"));
    EXPECT_EQ(document.GetValue("columns/sizeWidth"), ""); // absent from a node that exists
}

TEST_F(NameValueDocument, SettingTheSameTextChangesNothing) {
    CNameValueDocument document;
    EXPECT_TRUE(document.SetValue("x", "1"));
    EXPECT_FALSE(document.SetValue("x", "1"));
    EXPECT_TRUE(document.SetValue("x", "2"));
    EXPECT_TRUE(document.SetValue("x", ""));
    EXPECT_TRUE(document.HasValue("x")); // an empty text is still a value
}

TEST_F(NameValueDocument, BadPathsRaiseWithThePath) {
    CNameValueDocument document;
    document.SetValue("columns/nameWidth", "130");
    const CNameValueDocument before = document;
    struct Case {
        const char* what;
        std::string text;
        const char* expected;
    } cases[] = {
        // reading through a node that does not exist
        {"missing node", BadPathText([&] { document.GetValue("nowhere/x"); }),
         "Internal error: invalid argument: nowhere/x"},
        // the last component names a child node, reading, writing or removing
        {"get node", BadPathText([&] { document.GetValue("columns"); }),
         "Internal error: invalid argument: columns"},
        {"set node", BadPathText([&] { document.SetValue("columns", "x"); }),
         "Internal error: invalid argument: columns"},
        {"remove node", BadPathText([&] { document.RemoveValue("columns"); }),
         "Internal error: invalid argument: columns"},
        // empty components anywhere
        {"empty", BadPathText([&] { document.SetValue("", "x"); }), "Internal error: invalid argument: "},
        {"leading slash", BadPathText([&] { document.SetValue("/a", "x"); }),
         "Internal error: invalid argument: /a"},
        {"trailing slash", BadPathText([&] { document.SetValue("new/", "x"); }),
         "Internal error: invalid argument: new/"},
        {"double slash", BadPathText([&] { document.SetValue("new//b", "x"); }),
         "Internal error: invalid argument: new//b"},
        // a child node that is not there
        {"get child", BadPathText([&] { document.GetNode("absent"); }),
         "Internal error: invalid argument: absent"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.what;
    EXPECT_FALSE(document.HasValue("columns"));
    EXPECT_TRUE(document == before); // no failed call left a node behind
}

TEST_F(NameValueDocument, RemoveValueLeavesTheNodes) {
    CNameValueDocument document;
    document.SetValue("columns/nameWidth", "130");
    document.SetValue("columns/sizeWidth", "48");
    document.RemoveValue("columns/nameWidth");
    document.RemoveValue("columns/nameWidth"); // twice is harmless
    document.RemoveValue("nowhere/at/all");
    EXPECT_FALSE(document.HasValue("columns/nameWidth"));
    EXPECT_EQ(document.GetValue("columns/sizeWidth"), "48");
    EXPECT_TRUE(document.HasNode("columns"));
}

TEST_F(NameValueDocument, CopiesAreDeep) {
    CNameValueDocument original;
    original.SetValue("columns/nameWidth", "130");
    CNameValueDocument copy = original;
    EXPECT_TRUE(copy == original);
    copy.SetValue("columns/nameWidth", "200");
    EXPECT_EQ(original.GetValue("columns/nameWidth"), "130");
    EXPECT_FALSE(copy == original);
    copy = original;
    EXPECT_TRUE(copy == original);
    copy.AddNode("empty");
    EXPECT_FALSE(copy == original);
}

using NameValueDocumentStore = RegistryTestStore;

const std::string kKey = "Software\\DocumentTest";

TEST_F(NameValueDocumentStore, SaveAndLoadRoundTripTheTree) {
    CNameValueDocument document;
    document.SetValue("autostart", "false");
    document.SetValue("columns/nameWidth", "130");
    document.SetValue("columns/deeper/value", "x");
    document.SetNamedValue("a/b", "a value name with a slash");
    document.AddNode("emptyNode");
    {
        CRegistryKey key(kRootCurrentUser, kKey, CRegistryKey::Open::Create);
        SaveDocument(document, key);
    }
    EXPECT_EQ(GetRaw(kKey, "autostart"),
              std::make_pair(uint32_t{platform::kRegSz}, std::string("false\0", 6)));
    EXPECT_EQ(GetRaw(kKey + "\\columns", "nameWidth").second, std::string("130\0", 4));
    EXPECT_EQ(GetRaw(kKey + "\\columns\\deeper", "value").second, std::string("x\0", 2));
    EXPECT_TRUE(KeyExists(kKey + "\\emptyNode"));

    CNameValueDocument loaded;
    CRegistryKey key(kRootCurrentUser, kKey, CRegistryKey::Open::ReadOnly);
    LoadDocument(key, loaded);
    EXPECT_TRUE(loaded == document);
    EXPECT_EQ(loaded.GetValues().at("a/b"), "a value name with a slash");
}

TEST_F(NameValueDocumentStore, SavingRemovesNothingAndLoadingReadsNumbersAsText) {
    PutRaw(kKey, "extra", platform::kRegDword, std::string("\x07\0\0\0", 4));
    PutRaw(kKey + "\\columns", "sizeWidth", platform::kRegSz, std::string("48\0", 3));
    CNameValueDocument document;
    document.SetValue("columns/nameWidth", "130");
    {
        CRegistryKey key(kRootCurrentUser, kKey, CRegistryKey::Open::Existing);
        SaveDocument(document, key);
    }
    CNameValueDocument loaded;
    CRegistryKey key(kRootCurrentUser, kKey, CRegistryKey::Open::Existing);
    LoadDocument(key, loaded);
    EXPECT_EQ(loaded.GetValue("extra"), "7");
    EXPECT_EQ(loaded.GetValue("columns/sizeWidth"), "48");
    EXPECT_EQ(loaded.GetValue("columns/nameWidth"), "130");
}

TEST_F(NameValueDocumentStore, LoadingABinaryValueRaises) {
    PutRaw(kKey + "\\columns", "blob", platform::kRegBinary, "\x01");
    CNameValueDocument document;
    CRegistryKey key(kRootCurrentUser, kKey, CRegistryKey::Open::Existing);
    try {
        LoadDocument(key, document);
        ADD_FAILURE() << "nothing raised";
    } catch (const CRegistryNoValueException& e) {
        EXPECT_EQ(e.GetError(), platform::kRegdbEInvalidValue);
    }
}

} // namespace
