// A typed value of a command parameter: a text, a list of values or a map of named values. Values have
// a text form that reads back to the same value: texts in double quotes with backslash escapes, lists
// in square brackets, maps in braces with quoted names; items separated by commas, blanks allowed
// between tokens:  {"items": ["C:\\a.jpg", "b.jpg"], "mode": "fast"}
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class CCommandValue {
public:
    enum class Type { Text, List, Map };
    using List = std::vector<CCommandValue>;
    using Map = std::map<std::string, CCommandValue>;

    // Lists and maps nested deeper than this are refused when read, so hostile text cannot exhaust
    // the stack.
    static constexpr size_t kMaxNesting = 64;

    CCommandValue() = default; // the empty text
    CCommandValue(std::string text) : m_text(std::move(text)) {}
    CCommandValue(const char* text) : m_text(text != nullptr ? text : "") {}
    CCommandValue(List list) : m_type(Type::List), m_list(std::move(list)) {}
    CCommandValue(Map map) : m_type(Type::Map), m_map(std::move(map)) {}

    Type GetType() const { return m_type; }
    bool IsText() const { return m_type == Type::Text; }
    bool IsList() const { return m_type == Type::List; }
    bool IsMap() const { return m_type == Type::Map; }

    // The value as the type asked for; CCommandBadValueIOException when it is of another type.
    const std::string& GetText() const;
    const List& GetList() const;
    const Map& GetMap() const;

    // The text form, and back. FromText raises CCommandBadValueIOException for text that is not one
    // complete value.
    std::string ToText() const;
    static CCommandValue FromText(std::string_view text);

    bool operator==(const CCommandValue& other) const;

private:
    void AppendText(std::string& out) const;

    Type m_type = Type::Text;
    std::string m_text;
    List m_list;
    Map m_map;
};
