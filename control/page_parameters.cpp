#include "control/page_parameters.h"

#include <cctype>
#include <cstdint>
#include <optional>

namespace {

constexpr size_t kMaxReference = 32; // the longest character reference we try to resolve

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        code = 0xfffd;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Resolves one character reference at the start of `text` ("&amp;", "&#38;", "&#x26;"); the
// number of characters it took, or nothing when it is not one we know (it then stays as written).
std::optional<size_t> ResolveReference(std::string_view text, std::string& out) {
    size_t semicolon = text.find(';');
    if (semicolon == std::string_view::npos || semicolon > kMaxReference)
        return std::nullopt;
    std::string_view body = text.substr(1, semicolon - 1);
    if (!body.empty() && body[0] == '#') {
        bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty())
            return std::nullopt;
        uint32_t code = 0;
        for (char c : digits) {
            int digit = std::isdigit(static_cast<unsigned char>(c))           ? c - '0'
                        : hex && std::isxdigit(static_cast<unsigned char>(c)) ? Lower(c) - 'a' + 10
                                                                              : -1;
            if (digit < 0)
                return std::nullopt;
            code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
            if (code > 0x10ffff)
                code = 0x110000; // stays out of range however many digits follow
        }
        AppendUtf8(out, code);
        return semicolon + 1;
    }
    static const std::pair<const char*, char> kNamed[] = {{"amp", '&'},  {"lt", '<'},    {"gt", '>'},
                                                          {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
    for (const auto& [name, c] : kNamed) {
        if (body == name) {
            out += c;
            return semicolon + 1;
        }
    }
    return std::nullopt;
}

std::string DecodeValue(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        if (raw[i] == '&') {
            if (std::optional<size_t> used = ResolveReference(raw.substr(i), out)) {
                i += *used;
                continue;
            }
        }
        out += raw[i++];
    }
    return out;
}

// One start or end tag: its name (lower-cased), whether it ends an element, and its attributes.
struct Tag {
    std::string name;
    bool closing = false;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// Reads the tag that begins at html[pos] == '<'; pos moves past its '>' (or to the end).
Tag ReadTag(std::string_view html, size_t& pos) {
    Tag tag;
    ++pos;
    if (pos < html.size() && html[pos] == '/') {
        tag.closing = true;
        ++pos;
    }
    while (pos < html.size() && !IsSpace(html[pos]) && html[pos] != '>' && html[pos] != '/')
        tag.name += Lower(html[pos++]);
    for (;;) {
        while (pos < html.size() && (IsSpace(html[pos]) || html[pos] == '/'))
            ++pos;
        if (pos >= html.size())
            return tag;
        if (html[pos] == '>') {
            ++pos;
            return tag;
        }
        std::string name;
        while (pos < html.size() && !IsSpace(html[pos]) && html[pos] != '>' && html[pos] != '=' &&
               html[pos] != '/')
            name += Lower(html[pos++]);
        if (name.empty()) {
            ++pos; // a stray character such as '=': step over it
            continue;
        }
        while (pos < html.size() && IsSpace(html[pos]))
            ++pos;
        std::string value;
        if (pos < html.size() && html[pos] == '=') {
            ++pos;
            while (pos < html.size() && IsSpace(html[pos]))
                ++pos;
            if (pos < html.size() && (html[pos] == '"' || html[pos] == '\'')) {
                char quote = html[pos++];
                size_t end = html.find(quote, pos);
                if (end == std::string_view::npos)
                    end = html.size();
                value = DecodeValue(html.substr(pos, end - pos));
                pos = end < html.size() ? end + 1 : end;
            } else {
                size_t start = pos;
                while (pos < html.size() && !IsSpace(html[pos]) && html[pos] != '>')
                    ++pos;
                value = DecodeValue(html.substr(start, pos - start));
            }
        }
        tag.attributes.emplace_back(std::move(name), std::move(value));
    }
}

const std::string* Attribute(const Tag& tag, std::string_view name) {
    for (const auto& [key, value] : tag.attributes) {
        if (key == name)
            return &value; // the first of repeated attributes counts, as in browsers
    }
    return nullptr;
}

// The next tag from html[pos] on, comments skipped; nothing at the end of the text.
std::optional<Tag> NextTag(std::string_view html, size_t& pos) {
    while (pos < html.size()) {
        size_t open = html.find('<', pos);
        if (open == std::string_view::npos)
            break;
        pos = open;
        if (html.substr(pos, 4) == "<!--") {
            size_t end = html.find("-->", pos + 4);
            pos = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        return ReadTag(html, pos);
    }
    pos = html.size();
    return std::nullopt;
}

constexpr int kMaxObjectSide = 16000; // larger than any screen; more digits are a page's mistake

// A length attribute in pixels: digits, optionally followed by "px", with spaces around.
std::optional<int> PixelLength(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    int value = 0;
    size_t digits = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos, ++digits) {
        value = value * 10 + (text[pos] - '0');
        if (value > kMaxObjectSide)
            return std::nullopt;
    }
    if (digits == 0 || value == 0)
        return std::nullopt;
    if (text.substr(pos, 2) == "px" || text.substr(pos, 2) == "PX")
        pos += 2;
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    if (pos != text.size())
        return std::nullopt;
    return value;
}

} // namespace

PageObjectSize ReadPageObjectSize(std::string_view html) {
    PageObjectSize size;
    size_t pos = 0;
    while (std::optional<Tag> next = NextTag(html, pos)) {
        const Tag& tag = *next;
        if (tag.name != "object" || tag.closing)
            continue;
        if (const std::string* width = Attribute(tag, "width"))
            size.width = PixelLength(*width).value_or(size.width);
        if (const std::string* height = Attribute(tag, "height"))
            size.height = PixelLength(*height).value_or(size.height);
        break;
    }
    return size;
}

std::vector<PageParameter> ReadPageParameters(std::string_view html) {
    std::vector<PageParameter> parameters;
    bool inObject = false;
    size_t pos = 0;
    while (std::optional<Tag> next = NextTag(html, pos)) {
        const Tag& tag = *next;
        if (tag.name == "object") {
            if (tag.closing && inObject)
                break;
            inObject = inObject || !tag.closing;
            continue;
        }
        if (!inObject || tag.closing || tag.name != "param")
            continue;
        const std::string* name = Attribute(tag, "name");
        if (name == nullptr)
            continue;
        const std::string* value = Attribute(tag, "value");
        parameters.push_back({*name, value != nullptr ? *value : std::string()});
    }
    return parameters;
}
