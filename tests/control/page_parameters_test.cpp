#include "control/page_parameters.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::pair<std::string, std::string>> Read(std::string_view html) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const PageParameter& p : ReadPageParameters(html))
        pairs.emplace_back(p.name, p.value);
    return pairs;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

} // namespace

TEST(PageParameters, ReadsTheParamsOfTheFirstObject) {
    EXPECT_EQ(Read(R"(<html><body>
        <param name="Outside" value="ignored">
        <OBJECT classid="clsid:x" width=400>
          <PARAM NAME="Server" VALUE="up.example">
          <param name='AlbumName' value='Summer "08"'>
          <param name=MaxConnections value=2>
          <param value="no name">
          <param name="Empty">
        </object>
        <object><param name="Second" value="object"></object>)"),
              (Pairs{{"Server", "up.example"},
                     {"AlbumName", "Summer \"08\""},
                     {"MaxConnections", "2"},
                     {"Empty", ""}}));
}

TEST(PageParameters, ResolvesCharacterReferences) {
    EXPECT_EQ(
        Read(
            R"(<object><param name="A" value="a &amp; b &lt;c&gt; &quot;d&quot; &#65;&#x42;&#X43; &bogus; & x &#;">)"),
        (Pairs{{"A", "a & b <c> \"d\" ABC &bogus; & x &#;"}}));
    // Out-of-range and surrogate code points become the replacement character, never raw bytes.
    EXPECT_EQ(Read(R"(<object><param name="B" value="&#1114112;&#xD800;&#233;">)"),
              (Pairs{{"B", "\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xA9"}}));
}

TEST(PageParameters, SkipsCommentsAndSurvivesBrokenMarkup) {
    EXPECT_EQ(
        Read(
            "<!-- <object><param name=\"C\" value=\"1\"></object> --><object><param name=\"D\" value=\"2\">"),
        (Pairs{{"D", "2"}}));
    EXPECT_EQ(Read("<object><param name=\"E\" value=\"unterminated"), (Pairs{{"E", "unterminated"}}));
    EXPECT_EQ(Read("<object><param name = \"F\" = value=\"3\" name=\"G\">"),
              (Pairs{{"F", "3"}})); // first name wins
    EXPECT_TRUE(Read("").empty());
    EXPECT_TRUE(Read("<").empty());
    EXPECT_TRUE(Read("<object").empty());
    EXPECT_TRUE(Read("<param name=\"H\" value=\"no object\">").empty());
}

TEST(PageObjectSize, WidthAndHeightOfTheFirstObject) {
    struct Case {
        const char* html;
        int width;
        int height;
    };
    const Case cases[] = {
        // Pixels as attributes write them, quoted or not, with a unit or without.
        {R"(<object width="480" height=320></object>)", 480, 320},
        {R"(<OBJECT WIDTH='700px' HEIGHT=" 500 ">)", 700, 500},
        // Only the first object counts; comments are not markup.
        {R"(<!-- <object width=1 height=1> --><object width=300><object width=900 height=900>)", 300, 400},
        // What is not a pixel count keeps the default: a percentage, nothing, zero, letters, a number
        // no screen has.
        {R"(<object width="100%" height="">)", 600, 400},
        {R"(<object width=0 height=abc>)", 600, 400},
        {R"(<object width=99999999999 height=12x>)", 600, 400},
        // No object at all.
        {R"(<embed width=10 height=10>)", 600, 400},
        {"", 600, 400},
    };
    for (const Case& c : cases) {
        PageObjectSize size = ReadPageObjectSize(c.html);
        EXPECT_EQ(size.width, c.width) << c.html;
        EXPECT_EQ(size.height, c.height) << c.html;
    }
}
