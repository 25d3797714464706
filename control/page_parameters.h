// Reads the object parameters of a page: the name/value pairs of the <param> elements inside the
// first <object> element of an HTML text, as a browser hands them to the control. Tag and attribute
// names in any case; values quoted with " or ', or unquoted; character references resolved.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct PageParameter {
    std::string name;
    std::string value;
};

// The parameters in page order; an <object> without <param> elements, or no <object>, gives none.
// Never fails: text that is not markup is skipped, as a browser would.
std::vector<PageParameter> ReadPageParameters(std::string_view html);

// The size the page gives the control: the width and height attributes of its first <object>.
struct PageObjectSize {
    static constexpr int kDefaultWidth = 600;
    static constexpr int kDefaultHeight = 400;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
};

// Pixels as written ("480" or "480px"); an attribute that is missing, not above 0, or not in pixels
// (a percentage) keeps its default, as does a page without an <object>.
PageObjectSize ReadPageObjectSize(std::string_view html);
