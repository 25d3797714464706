// Command parameter values and their text form.
#include "foundation/command_value.h"
#include "foundation/exception.h"
#include "tests/support/catalogues.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using List = CCommandValue::List;
using Map = CCommandValue::Map;

std::string AllBytes() {
    std::string bytes;
    for (int c = 0; c < 256; ++c)
        bytes += static_cast<char>(c);
    return bytes;
}

} // namespace

TEST(CommandValue, WritesTheDocumentedTextForm) {
    struct Row {
        CCommandValue value;
        const char* text;
    } rows[] = {
        {CCommandValue(), R"("")"},                                       // the empty text
        {CCommandValue("C:\\a \"b\".jpg"), R"("C:\\a \"b\".jpg")"},       // quotes and backslashes escaped
        {CCommandValue("l1\nl2\t\r\x01\x7f"), R"("l1\nl2\t\r\x01\x7f")"}, // control bytes escaped
        {CCommandValue("\xc3\xa9"), "\"\xc3\xa9\""},                      // UTF-8 passes as it is
        {CCommandValue(List{}), "[]"},                                    //
        {CCommandValue(List{"a", List{"b"}}), R"(["a", ["b"]])"},         // nesting
        {CCommandValue(Map{{"z", "1"}, {"a", List{}}}), R"({"a": [], "z": "1"})"}, // names in order
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.value.ToText(), row.text);
        EXPECT_EQ(CCommandValue::FromText(row.text), row.value) << row.text;
    }
}

TEST(CommandValue, ReadsBackWhatItWrites) {
    Map map{{"items", List{"C:\\pics\\1.jpg", "/home/u/2.jpg", AllBytes()}},
            {"", Map{{"\"", "\\"}, {"nested", Map{}}}},
            {AllBytes(), List{List{List{}}}}};
    CCommandValue values[] = {CCommandValue(AllBytes()), CCommandValue(map),
                              CCommandValue(List{map, map, ""})};
    for (const CCommandValue& value : values) {
        std::string text = value.ToText();
        EXPECT_EQ(CCommandValue::FromText(text), value) << text;
        EXPECT_EQ(CCommandValue::FromText(text).ToText(), text);
    }
}

TEST(CommandValue, AcceptsBlanksBetweenTokensAndUpperCaseHex) {
    CCommandValue value = CCommandValue::FromText(" \t{ \"k\" :\r\n[ \"a\" , \"\\x4A\" ] }\n");
    EXPECT_EQ(value, CCommandValue(Map{{"k", List{"a", "J"}}}));
}

class CommandValueBadText : public CataloguesInstalled {};

TEST_F(CommandValueBadText, RaisesBadValueForHostileText) {
    const std::string tooDeep =
        std::string(CCommandValue::kMaxNesting + 1, '[') + std::string(CCommandValue::kMaxNesting + 1, ']');
    const std::string deepestAllowed =
        std::string(CCommandValue::kMaxNesting, '[') + std::string(CCommandValue::kMaxNesting, ']');
    EXPECT_NO_THROW(CCommandValue::FromText(deepestAllowed));
    const std::string bad[] = {
        "",                             // nothing
        "   ",                          // blanks only
        "abc",                          // unquoted text
        "\"abc",                        // unterminated text
        "\"abc\\",                      // escape at the very end
        "\"\\q\"",                      // unknown escape
        "\"\\x4\"",                     // short hex escape
        "\"\\x\"",                      // hex escape without digits
        "\"\\xzz\"",                    // hex escape with non-hex digits
        "\"a\" \"b\"",                  // two values
        "\"a\"x",                       // trailing garbage
        "[",                            // unterminated list
        "[\"a\"",                       // list without its end
        "[\"a\",]",                     // trailing comma
        "[,]",                          // comma without values
        "[\"a\" \"b\"]",                // missing comma
        "{",                            // unterminated map
        "{\"a\"}",                      // name without value
        "{\"a\":}",                     // colon without value
        "{a: \"b\"}",                   // unquoted name
        "{\"a\" \"b\"}",                // missing colon
        "{\"a\": \"1\", \"a\": \"2\"}", // the same name twice
        "]",                            // closing without opening
        std::string("\"a\0b", 4),       // NUL inside an unterminated text
        tooDeep,                        // nesting beyond the bound
        std::string(100000, '['),       // far beyond it: must fail, not overflow the stack
        std::string(50000, '{'),        // same with maps
    };
    for (const std::string& text : bad) {
        try {
            CCommandValue::FromText(text);
            ADD_FAILURE() << "accepted: " << text.substr(0, 40);
        } catch (const CCommandBadValueIOException& e) {
            EXPECT_STREQ(e.GetCode(), "ECMDBADV");
            EXPECT_EQ(e.GetText(), "Bad value while parsing command");
        }
    }
}

TEST_F(CommandValueBadText, AskingForTheWrongTypeRaisesBadValue) {
    CCommandValue text("a"), list(List{"a"}), map(Map{{"a", "b"}});
    EXPECT_EQ(text.GetText(), "a");
    EXPECT_EQ(list.GetList().size(), 1u);
    EXPECT_EQ(map.GetMap().at("a"), CCommandValue("b"));
    EXPECT_THROW(text.GetList(), CCommandBadValueIOException);
    EXPECT_THROW(list.GetMap(), CCommandBadValueIOException);
    EXPECT_THROW(map.GetText(), CCommandBadValueIOException);
    EXPECT_NE(CCommandValue(List{}), CCommandValue(Map{})) << "empty list and empty map differ";
    EXPECT_NE(CCommandValue(""), CCommandValue(List{}));
}
