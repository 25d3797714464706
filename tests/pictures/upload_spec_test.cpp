#include "pictures/upload_spec_reader.h"
#include "tests/support/scoped_temp_folder.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct ParsedImage {
    std::string file;
    std::map<std::string, std::string> properties;
    bool operator==(const ParsedImage&) const = default;
};

void PrintTo(const ParsedImage& image, std::ostream* out) {
    *out << "{file '" << image.file << "'";
    for (const auto& [key, value] : image.properties)
        *out << ", " << key << "='" << value << "'";
    *out << "}";
}

// The images of a document, or the error text it raises (images empty then).
struct Outcome {
    std::vector<ParsedImage> images;
    std::string error;
};

Outcome ReadSpec(const std::string& path) {
    Outcome outcome;
    try {
        UploadSpecReader reader(path);
        for (const IUploadSpecImage* image : reader.GetImages())
            outcome.images.push_back(
                {image->GetFileName(), {image->GetFirstProperty(), image->GetPropertiesEnd()}});
    } catch (const char* error) {
        outcome.error = error;
    }
    return outcome;
}

Outcome Parse(const std::string& document) {
    testsupport::ScopedTempFolder folder;
    return ReadSpec(folder.Put("spec.xml", document));
}

std::string ErrorOf(const std::string& document) {
    Outcome outcome = Parse(document);
    return outcome.error.empty() ? "(parsed)" : outcome.error;
}

const std::string kOneImage = "<upload><image><file>x.jpg</file></image></upload>";

} // namespace

TEST(UploadSpecReader, ParseErrors) {
    struct Case {
        const char* document;
        const char* error;
    };
    const Case cases[] = {
        // An empty file has no root.
        {"", "Unexpected end of file"},
        {"  \r\n\t ", "Unexpected end of file"},
        // A root that never ends.
        {"<upload><image><file>x</file></image>", "Unexpected end of file"},
        // Declarations are not part of the subset: "?xml" is no tag name.
        {"<?xml version=1.0?><upload></upload>", "Unknown tag name"},
        {"<upload><photo></photo></upload>", "Unknown tag name"},
        {"<upload></>", "Unknown tag name"},
        // Text before the root, and a tag other than the root at the top.
        {"hello <upload></upload>", "Missing root tag"},
        {"<image></image>", "Missing root tag"},
        // The root tag may not open again inside the root.
        {"<upload><upload></upload></upload>", "Missing root tag"},
        // Text after the root's end tag is outside every tag.
        {"<upload></upload> trailing", "Missing root tag"},
        // End tags must close the innermost open tag.
        {"<upload></image>", "mismatched tags"},
        {"</upload>", "mismatched tags"},
        {"<upload><image></upload></image>", "mismatched tags"},
        // Tokens that cannot appear between tags.
        {"<upload>=</upload>", "Unexpected token"},
        {"<upload>></upload>", "Unexpected token"},
        {"<upload></upload>>", "Unexpected token"},
        // A "<" must be followed by a name.
        {"<upload><>", "Missing tag name"},
        {"<upload><", "Missing tag name"},
        {"<upload>< =x>", "Missing tag name"},
        // A tag must end before the document does.
        {"<upload", "Missing >"},
        {"<upload a=b", "Missing >"},
        // Attributes are name=word; the quote does not group words.
        {"<upload title=\"a b\"></upload>", "Error parsing attribute"},
        {"<upload title></upload>", "Error parsing attribute"},
        {"<upload title=></upload>", "Error parsing attribute"},
        {"<upload title", "Error parsing attribute"},
        // The "/" of an end tag belongs to its name: "</ file>" is the tag "/" with an attribute.
        {"<upload><image><file>x</ file></image></upload>", "Error parsing attribute"},
        // Character data must be followed by a tag.
        {"<upload><image><file>x.jpg", "Unterminated PCData segment"},
        {"<upload><image><file>x.jpg   ", "Unterminated PCData segment"},
        // Children each tag refuses.
        {"<upload><file>x</file></upload>", "Invalid child tag"},
        {"<upload><image><image></image></image></upload>", "Invalid child tag"},
        {"<upload><image><backprintLine>x</backprintLine></image></upload>", "Invalid child tag"},
        {"<upload><image><cropTop>1</cropTop></image></upload>", "Invalid child tag"},
        {"<upload><image><file><title>t</title></file></image></upload>", "Invalid child tag"},
        {"<upload><image><backprint><title>t</title></backprint></image></upload>", "Invalid child tag"},
        {"<upload><image><cropRect><file>f</file></cropRect></image></upload>", "Invalid child tag"},
        // Three back-print lines.
        {"<upload><image><backprint><backprintLine>1</backprintLine><backprintLine>2</backprintLine>"
         "<backprintLine>3</backprintLine></backprint></image></upload>",
         "Backprint lines exceeded"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorOf(c.document), c.error) << c.document;
}

TEST(UploadSpecReader, ImagesAndProperties) {
    using Props = std::map<std::string, std::string>;
    struct Case {
        std::string document;
        std::vector<ParsedImage> images;
    };
    const std::string open = "<upload><image><file>x.jpg</file>";
    const std::string close = "</image></upload>";
    const Case cases[] = {
        // Tag names in any case; the file name keeps its inner space; no properties.
        {"<UPLOAD><Image><FILE>C:\\a b.jpg</FILE></Image></UPLOAD>", {{"C:\\a b.jpg", {}}}},
        // The first rotation stays; degrees become quarter turns.
        {open + "<rotation>90</rotation><rotation>180</rotation>" + close,
         {{"x.jpg", Props{{"Image.ViewProperties.rotation", "1"}}}}},
        {open + "<rotation>270</rotation>" + close,
         {{"x.jpg", Props{{"Image.ViewProperties.rotation", "3"}}}}},
        {open + "<rotation>0</rotation>" + close, {{"x.jpg", Props{{"Image.ViewProperties.rotation", "0"}}}}},
        // A rotation that is not a quarter turn adds nothing, and does not block a later one.
        {open + "<rotation>45</rotation>" + close, {{"x.jpg", {}}}},
        {open + "<rotation>45</rotation><rotation>180</rotation>" + close,
         {{"x.jpg", Props{{"Image.ViewProperties.rotation", "2"}}}}},
        // Missing crop edges stay empty between single spaces.
        {open + "<cropRect><cropTop>4</cropTop><cropLeft>1</cropLeft></cropRect>" + close,
         {{"x.jpg", Props{{"Image.ViewProperties.Crop", "1   4"}}}}},
        {open +
             "<cropRect><cropLeft>1</cropLeft><cropLeft>2</cropLeft><cropBottom>3</cropBottom>"
             "<cropRight>4</cropRight><cropTop>5</cropTop></cropRect>" +
             close,
         {{"x.jpg", Props{{"Image.ViewProperties.Crop", "2 3 4 5"}}}}},
        // Two back-print lines join with a line feed; one stays alone.
        {open +
             "<backprint><backprintLine>first</backprintLine><backprintLine>second</backprintLine>"
             "</backprint>" +
             close,
         {{"x.jpg", Props{{"Image.ViewProperties.BackPrint", "first\nsecond"}}}}},
        {open + "<backprint><backprintLine>only</backprintLine></backprint>" + close,
         {{"x.jpg", Props{{"Image.ViewProperties.BackPrint", "only"}}}}},
        // Every leaf property, each keeping its first value; a later file name replaces the earlier.
        {"<upload><image><file>a.jpg</file><albumName>Trip</albumName><albumName>Other</albumName>"
         "<title>Sea view</title><cropShape>square</cropShape><cropOrientation>portrait</cropOrientation>"
         "<file>b.jpg</file></image></upload>",
         {{"b.jpg", Props{{"Image.AlbumName", "Trip"},
                          {"Image.ViewProperties.CropShape", "square"},
                          {"Image.ViewProperties.PrintOrient", "portrait"},
                          {"Image.ViewProperties.Title", "Sea view"}}}}},
        // Attributes are read and dropped, on start and end tags alike.
        {"<upload id=1 kind=x><image a=b><file>x.jpg</file></image c=d></upload>", {{"x.jpg", {}}}},
        // Values are taken as written: no entities, inner "=" and ">" kept, outer whitespace cut.
        {"<upload><image><file>\r\n  a&amp;b = c>d.jpg \t\r\n</file></image></upload>",
         {{"a&amp;b = c>d.jpg", {}}}},
        // A quote is an ordinary byte of a value.
        {"<upload><image><title>\"Big\" day</title><file>x</file></image></upload>",
         {{"x", Props{{"Image.ViewProperties.Title", "\"Big\" day"}}}}},
        // Images in document order.
        {"<upload><image><file>a.jpg</file></image><image><file>b.jpg</file></image></upload>",
         {{"a.jpg", {}}, {"b.jpg", {}}}},
        // An image without a file, and an empty root.
        {"<upload><image></image></upload>", {{"", {}}}},
        {"<upload></upload>", {}},
        // A second root after the first replaces it when it ends.
        {"<upload><image><file>a</file></image></upload><upload><image><file>b</file></image></upload>",
         {{"b", {}}}},
        // A second root left open at the end leaves the first.
        {"<upload><image><file>a</file></image></upload><upload><image>", {{"a", {}}}},
        // Whitespace around tag names and between tags is free.
        {"< upload >\n\t< image\t>< file >x.jpg</file ></image\r\n>\r\n</upload >\n", {{"x.jpg", {}}}},
    };
    for (const Case& c : cases) {
        Outcome outcome = Parse(c.document);
        EXPECT_EQ(outcome.error, "") << c.document;
        EXPECT_EQ(outcome.images, c.images) << c.document;
    }
}

TEST(UploadSpecReader, TextRunsAcrossReadChunks) {
    // Words, character data and tag names that straddle the reader's chunk boundary.
    for (size_t pad : {UploadSpecLexer::kReadChunk - 20, UploadSpecLexer::kReadChunk - 9,
                       UploadSpecLexer::kReadChunk - 3, UploadSpecLexer::kReadChunk + 5}) {
        const std::string title = std::string(40, 'T') + " and " + std::string(40, 't');
        const std::string document = std::string(pad, ' ') + "<upload><image><title>" + title +
                                     "</title><file>x.jpg</file></image></upload>";
        Outcome outcome = Parse(document);
        ASSERT_EQ(outcome.error, "") << pad;
        ASSERT_EQ(outcome.images.size(), 1u);
        EXPECT_EQ(outcome.images[0].properties.at("Image.ViewProperties.Title"), title) << pad;
    }
}

TEST(UploadSpecReader, DeletesOnlyAFileThatParsed) {
    testsupport::ScopedTempFolder folder;
    const std::string good = folder.Put("good.xml", kOneImage);
    EXPECT_EQ(ReadSpec(good).images.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(good));

    // A file that is not an upload specification (any file a page might name) stays.
    const std::string bad = folder.Put("notes.txt", "Dear diary, <b>today</b>");
    EXPECT_EQ(ReadSpec(bad).error, "Missing root tag");
    EXPECT_TRUE(std::filesystem::exists(bad));
    const std::string unfinished = folder.Put("unfinished.xml", "<upload><image>");
    EXPECT_EQ(ReadSpec(unfinished).error, "Unexpected end of file");
    EXPECT_TRUE(std::filesystem::exists(unfinished));

    // A reader that never parsed does not know what the file held, and leaves it.
    const std::string unread = folder.Put("unread.xml", kOneImage);
    { UploadSpecReader reader(unread); }
    EXPECT_TRUE(std::filesystem::exists(unread));
}

TEST(UploadSpecReader, CannotOpen) {
    testsupport::ScopedTempFolder folder;
    EXPECT_EQ(ReadSpec(folder / "missing.xml").error, "Cannot open file");
    EXPECT_EQ(ReadSpec(folder.Path()).error, "Cannot open file");
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path()));
}

TEST(UploadSpecReader, ParsesOnceAndRepeatsTheAnswer) {
    testsupport::ScopedTempFolder folder;
    UploadSpecReader reader(folder.Put("spec.xml", kOneImage));
    auto first = reader.GetImages();
    // Another document under the same name is not read: the answer is the first parse's.
    folder.Put("spec.xml", "<upload><image><file>y.jpg</file></image><image></image></upload>");
    auto second = reader.GetImages();
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[0], second[0]);
    EXPECT_EQ(second[0]->GetFileName(), "x.jpg");

    UploadSpecReader broken(folder.Put("broken.xml", "<upload><image>"));
    for (int i = 0; i < 2; ++i) {
        try {
            broken.GetImages();
            ADD_FAILURE() << "parsed";
        } catch (const char* error) {
            EXPECT_STREQ(error, "Unexpected end of file");
        }
    }
}
