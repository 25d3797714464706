#include "control/resources/module_resources.h"
#include "foundation/message_table.h"
#include "foundation/string_format.h"
#include "platform/resources.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Builds a message-table resource: one block per entry list, UTF-16 or 8-bit texts, each entry
// padded to a multiple of four as the format says.
std::vector<uint8_t> MakeResource(const std::vector<std::vector<std::string>>& blocks, bool wide = true,
                                  uint32_t firstId = 1) {
    auto put32 = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    std::vector<uint8_t> header, body;
    put32(header, static_cast<uint32_t>(blocks.size()));
    size_t entriesStart = 4 + 12 * blocks.size();
    uint32_t id = firstId;
    for (const auto& entries : blocks) {
        put32(header, id);
        put32(header, id + static_cast<uint32_t>(entries.size()) - 1);
        put32(header, static_cast<uint32_t>(entriesStart + body.size()));
        id += static_cast<uint32_t>(entries.size());
        for (const std::string& text : entries) {
            std::vector<uint8_t> encoded;
            for (char c : text) {
                encoded.push_back(static_cast<uint8_t>(c));
                if (wide)
                    encoded.push_back(0);
            }
            encoded.push_back(0);
            if (wide)
                encoded.push_back(0);
            size_t length = 4 + encoded.size();
            length += (4 - length % 4) % 4;
            body.push_back(static_cast<uint8_t>(length));
            body.push_back(static_cast<uint8_t>(length >> 8));
            body.push_back(wide ? 1 : 0);
            body.push_back(0);
            body.insert(body.end(), encoded.begin(), encoded.end());
            while ((body.size()) % 4 != 0)
                body.push_back(0);
        }
    }
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

std::string Text(const CMessageTable& table, std::string key) {
    EXPECT_TRUE(table.Lookup(key));
    return key;
}

} // namespace

TEST(ParseMessageEntry, LinesKeysValuesAndEscapes) {
    CMessageTable table;
    ParseMessageEntry(table, "Orientation=Camera Orientation\r\n1=Upper-Left\r\n6=Upper-Right\r\n");
    ParseMessageEntry(table, "Esc=a\\nb\\\\c\\%d\\qe\\\r\n"); // \n, \\, \%, \q, trailing \ dropped
    ParseMessageEntry(table, "no equals here\r\nLater=first line with one\r\nv=1\r\n");
    ParseMessageEntry(table, "Eq=x=y=z\r\n"); // the text may hold "="
    ParseMessageEntry(table, "=empty key\r\n");
    ParseMessageEntry(table, "Short=abc\r\nk="); // a last line of two characters
    ParseMessageEntry(table, "Last=no line break at the end");
    ParseMessageEntry(table, "Dbl=\\\\n\r\n"); // "\\" then "n": a backslash, an n

    EXPECT_EQ(Text(table, "Orientation"), "Camera Orientation");
    auto values = table.GetValues("Orientation");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], (std::pair<std::string, std::string>("1", "Upper-Left")));
    EXPECT_EQ(values[1], (std::pair<std::string, std::string>("6", "Upper-Right")));
    EXPECT_EQ(Text(table, "Esc"), "a\r\nb\\c%dqe");
    EXPECT_EQ(Text(table, "Later"), "first line with one");
    EXPECT_EQ(table.GetValues("Later").size(), 1u);
    EXPECT_FALSE(table.Contains("no equals here"));
    EXPECT_EQ(Text(table, "Eq"), "x=y=z");
    EXPECT_EQ(Text(table, ""), "empty key");
    EXPECT_TRUE(table.GetValues("Short").empty());
    EXPECT_EQ(Text(table, "Last"), "no line break at the end");
    EXPECT_EQ(Text(table, "Dbl"), "\\n");
}

TEST(ParseMessageEntry, ShortTextsAreIgnored) {
    CMessageTable table;
    ParseMessageEntry(table, "");
    ParseMessageEntry(table, "a=");
    ParseMessageEntry(table, "=b");
    EXPECT_FALSE(table.Contains("a"));
    EXPECT_FALSE(table.Contains(""));
    ParseMessageEntry(table, "a=b"); // three characters are enough
    EXPECT_TRUE(table.Contains("a"));
}

TEST(CMessageTable, SetTextDropsEarlierValues) {
    CMessageTable table;
    table.SetText("k", "one");
    table.SetValueText("k", "1", "first");
    table.SetText("k", "two");
    EXPECT_TRUE(table.GetValues("k").empty());
    EXPECT_EQ(Text(table, "k"), "two");
}

TEST(CMessageTable, LookupFallsBackToTheEmptyKey) {
    CMessageTable table;
    table.SetText("A", "alpha");
    std::string key = "missing";
    EXPECT_FALSE(table.Lookup(key));
    EXPECT_EQ(key, "missing");
    table.SetText("", "fallback");
    EXPECT_TRUE(table.Lookup(key));
    EXPECT_EQ(key, "fallback");
}

TEST(CMessageTable, ValuesComeInByteOrderOfTheirKeys) {
    CMessageTable table;
    table.SetText("k", "label");
    table.SetValueText("k", "b", "2");
    table.SetValueText("k", "B", "1");
    table.SetValueText("k", "10", "0");
    auto values = table.GetValues("k");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].first, "10");
    EXPECT_EQ(values[1].first, "B");
    EXPECT_EQ(values[2].first, "b");
}

TEST(LoadMessageTable, ReadsBlocksInEitherEncoding) {
    auto data = MakeResource({{"A=one\r\n", "B=two\r\nx=ex\r\n"}, {"C=three\r\n"}});
    auto table = ParseMessageTableResource(data.data(), data.size());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(Text(*table, "A"), "one");
    EXPECT_EQ(Text(*table, "C"), "three");
    EXPECT_EQ(table->GetValues("B").size(), 1u);

    auto narrow = MakeResource({{"N=narrow\r\n"}}, false);
    table = ParseMessageTableResource(narrow.data(), narrow.size());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(Text(*table, "N"), "narrow");
}

TEST(LoadMessageTable, MalformedResourcesGiveNoCatalogue) {
    auto good = MakeResource({{"A=one\r\n", "B=two\r\n"}});
    ASSERT_NE(ParseMessageTableResource(good.data(), good.size()), nullptr);

    // Every truncation of a good resource is refused, never read past its end.
    for (size_t size = 0; size < good.size(); ++size) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_EQ(ParseMessageTableResource(cut.data(), cut.size()), nullptr) << "size " << size;
    }

    auto corrupt = [&](size_t offset, uint8_t value) {
        auto copy = good;
        copy[offset] = value;
        return ParseMessageTableResource(copy.data(), copy.size());
    };
    EXPECT_EQ(corrupt(0, 200), nullptr);   // more blocks than the resource could hold
    EXPECT_EQ(corrupt(8, 0xff), nullptr);  // highest id far beyond the entries present
    EXPECT_EQ(corrupt(12, 0xf0), nullptr); // entry offset outside the resource
    EXPECT_EQ(corrupt(16, 2), nullptr);    // entry length below its own header
    EXPECT_EQ(corrupt(16, 0xf8), nullptr); // entry length beyond the resource
    {
        auto copy = good; // lowest id above highest id
        copy[4] = 9;
        EXPECT_EQ(ParseMessageTableResource(copy.data(), copy.size()), nullptr);
    }
    {
        // A text without its terminating NUL inside the entry's length.
        auto copy = MakeResource({{"AB=cd"}});
        uint16_t length = static_cast<uint16_t>(copy[16] | copy[17] << 8);
        for (size_t i = 20; i < 16u + length; ++i)
            copy[i] = copy[i] == 0 ? 'x' : copy[i];
        EXPECT_EQ(ParseMessageTableResource(copy.data(), copy.size()), nullptr);
    }
}

TEST(LoadMessageTable, NeedsTheResourceModule) {
    platform::SetResourceModule(nullptr);
    EXPECT_EQ(LoadMessageTable(kErrorMessageTable), nullptr);
    platform::SetResourceModule(&PxModuleResources());
    EXPECT_EQ(LoadMessageTable(4242), nullptr);
    auto errors = LoadMessageTable(kErrorMessageTable);
    platform::SetResourceModule(nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(Text(*errors, "ETIME"), "Timed out");
}

// The module's own catalogues: their sizes and the texts whose exact bytes matter.
class ModuleCatalogues : public ::testing::Test {
protected:
    void SetUp() override { platform::SetResourceModule(&PxModuleResources()); }
    void TearDown() override { platform::SetResourceModule(nullptr); }

    static size_t EntryCount(unsigned id) {
        auto data = platform::FindModuleResource(platform::ResourceType::RcData, id);
        EXPECT_TRUE(data.has_value());
        if (!data || data->size() < 12)
            return 0;
        const uint8_t* p = data->data();
        EXPECT_EQ(p[0], 1); // one block
        uint32_t low = p[4] | p[5] << 8, high = p[8] | p[9] << 8;
        EXPECT_EQ(low, 1u);
        return high - low + 1;
    }
};

TEST_F(ModuleCatalogues, HaveTheirEntryCounts) {
    EXPECT_EQ(EntryCount(kErrorMessageTable), 65u);
    EXPECT_EQ(EntryCount(kSocketMessageTable), 51u);
    EXPECT_EQ(EntryCount(kExifMessageTable), 18u);
}

TEST_F(ModuleCatalogues, EntriesAreUtf16AndPaddedToFourBytes) {
    for (unsigned id : {kErrorMessageTable, kSocketMessageTable, kExifMessageTable}) {
        auto data = platform::FindModuleResource(platform::ResourceType::RcData, id);
        ASSERT_TRUE(data.has_value());
        const uint8_t* p = data->data();
        size_t offset = p[12] | p[13] << 8;
        size_t count = EntryCount(id);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_LT(offset + 4, data->size());
            size_t length = p[offset] | p[offset + 1] << 8;
            EXPECT_EQ(length % 4, 0u) << "table " << id << " entry " << i + 1;
            EXPECT_EQ(p[offset + 2], 1) << "table " << id << " entry " << i + 1; // UTF-16LE
            offset += length;
        }
        EXPECT_EQ(offset, data->size()) << "table " << id;
    }
}

TEST_F(ModuleCatalogues, TextsAreExact) {
    auto errors = LoadMessageTable(kErrorMessageTable);
    auto sockets = LoadMessageTable(kSocketMessageTable);
    ASSERT_NE(errors, nullptr);
    ASSERT_NE(sockets, nullptr);
    const std::string tail = " Please sign out of Pixolane, sign back in, and try your upload again. ";
    EXPECT_EQ(Text(*errors, "EHTTPRPLYBADSTATUS"),
              "Invalid status in HTTP response." + tail); // trailing space
    EXPECT_EQ(Text(*errors, "EUPLOADNOAUTH"), "Not logged in." + tail);
    EXPECT_EQ(Text(*errors, "EUPLOADUPLOADID"),
              "Couldn't get an upload ID from the server \"%1\".Please check your proxy settings and/or "
              "network connection then reload this page.\r\n%2"); // the missing space after the stop
    EXPECT_EQ(Text(*errors, "EUPLOADDIFF"),
              "The file \"%1\" has been changed since it was first uploaded.  To upload this picture, first "
              "remove it from the plugin and then add it again."); // two spaces after a full stop
    EXPECT_EQ(Text(*errors, "EHTTPAUTHNOCHAL"),
              "Missing HTTP authentication challenge; please verify your proxy settings. If this persists, "
              "please contact Pixolane Customer Service at support@pixolane.example.");
    // The server-ID text with a server name and a reason: the name in quotes, the stored line break.
    EXPECT_EQ(SubstituteArgs(Text(*errors, "EUPLOADSERVERID"), {"up.example", "Timed out"}),
              "Couldn't get a server ID from the server \"up.example\". Please check your proxy settings "
              "and/or network connection then reload this page.\r\nTimed out");
    std::string empty;
    EXPECT_EQ(Text(*errors, empty), "<unknown error>");

    EXPECT_EQ(Text(*sockets, "10050"),
              "The network is down.  Please try again later; if this persists, please contact Pixolane "
              "Customer Service at support@pixolane.example.");
    EXPECT_EQ(Text(*sockets, "11002"), Text(*sockets, "11001"));
    std::string unknown = "12345";
    EXPECT_FALSE(sockets->Lookup(unknown)); // no empty key: the key stays
    EXPECT_EQ(unknown, "12345");
}

TEST_F(ModuleCatalogues, ExifLabelsAndValues) {
    auto exif = LoadMessageTable(kExifMessageTable);
    ASSERT_NE(exif, nullptr);
    struct Case {
        const char* key;
        const char* raw;
        const char* label;
        const char* value;
    } cases[] = {
        {"Orientation", "6", "Camera Orientation", "Upper-Right"}, // a named value
        {"Orientation", "2", "Camera Orientation", "2"},           // a value without a name stays raw
        {"Brightness", "2.5", "Brightness", "2.5 EV"},             // the "" template takes the raw value
        {"SubjectDistance", "3", "Subject Distance", "3m"},
        {"FocalLength", "35", "Focal Length", "35mm"},
        {"LightSource", "10", "Light Source", "Flash"},
        {"Aperture", "2.8", "F-Stop", "2.8"},
    };
    for (const Case& c : cases) {
        std::string key = c.key, value = c.raw;
        ASSERT_TRUE(exif->LookupValue(key, value)) << c.key;
        EXPECT_EQ(key, c.label);
        EXPECT_EQ(value, c.value);
    }
    // The EXIF catalogue has no empty key: an unknown property is not labelled, nothing changes.
    std::string key = "Unknown", value = "1";
    EXPECT_FALSE(exif->LookupValue(key, value));
    EXPECT_EQ(key, "Unknown");
    EXPECT_EQ(value, "1");
}

TEST(CMessageTable, LookupValueSubstitutesKeyAndRawValue) {
    CMessageTable table;
    table.SetText("", "Property %1"); // the empty key labels every other key
    table.SetValueText("", "", "<%1>");
    std::string key = "Lens", value = "50%1";
    ASSERT_TRUE(table.LookupValue(key, value));
    EXPECT_EQ(key, "Property Lens");
    EXPECT_EQ(value, "50%1"); // values recorded under "" apply to "" only
}

TEST(MessageTableSlots, InstallingReplacesAndReleases) {
    auto first = std::make_unique<CMessageTable>();
    first->SetText("K", "first");
    SetErrorMessageTable(std::move(first));
    ASSERT_NE(GetErrorMessageTable(), nullptr);
    auto second = std::make_unique<CMessageTable>();
    second->SetText("K", "second");
    SetErrorMessageTable(std::move(second));
    EXPECT_EQ(Text(*GetErrorMessageTable(), "K"), "second");
    SetErrorMessageTable(nullptr);
    EXPECT_EQ(GetErrorMessageTable(), nullptr);
    EXPECT_EQ(GetSocketMessageTable(), nullptr);
}
