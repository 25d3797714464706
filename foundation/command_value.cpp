#include "foundation/command_value.h"

#include "foundation/exception.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            // Other control bytes are escaped so that the text form stays on one line; bytes from
            // 0x80 up (UTF-8 and code-page text) pass as they are.
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 0xf];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads one value from the text. Every read checks the bound before it looks at a byte; nesting is
// counted so that a deep hostile input fails instead of exhausting the stack.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    CCommandValue ReadDocument() {
        CCommandValue value = ReadValue(0);
        SkipBlanks();
        if (m_pos != m_text.size())
            Fail();
        return value;
    }

private:
    [[noreturn]] static void Fail() { throw CCommandBadValueIOException(); }

    void SkipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\n'))
            ++m_pos;
    }

    char Peek() {
        SkipBlanks();
        if (m_pos >= m_text.size())
            Fail();
        return m_text[m_pos];
    }

    void Expect(char c) {
        if (Peek() != c)
            Fail();
        ++m_pos;
    }

    CCommandValue ReadValue(size_t depth) {
        switch (Peek()) {
        case '"':
            return CCommandValue(ReadQuoted());
        case '[':
            return ReadList(depth + 1);
        case '{':
            return ReadMap(depth + 1);
        default:
            Fail();
        }
    }

    CCommandValue ReadList(size_t depth) {
        if (depth > CCommandValue::kMaxNesting)
            Fail();
        Expect('[');
        CCommandValue::List list;
        if (Peek() == ']') {
            ++m_pos;
            return CCommandValue(std::move(list));
        }
        for (;;) {
            list.push_back(ReadValue(depth));
            char c = Peek();
            ++m_pos;
            if (c == ']')
                return CCommandValue(std::move(list));
            if (c != ',')
                Fail();
        }
    }

    CCommandValue ReadMap(size_t depth) {
        if (depth > CCommandValue::kMaxNesting)
            Fail();
        Expect('{');
        CCommandValue::Map map;
        if (Peek() == '}') {
            ++m_pos;
            return CCommandValue(std::move(map));
        }
        for (;;) {
            if (Peek() != '"')
                Fail();
            std::string name = ReadQuoted();
            Expect(':');
            CCommandValue value = ReadValue(depth);
            // A name given twice has no single meaning.
            if (!map.emplace(std::move(name), std::move(value)).second)
                Fail();
            char c = Peek();
            ++m_pos;
            if (c == '}')
                return CCommandValue(std::move(map));
            if (c != ',')
                Fail();
        }
    }

    std::string ReadQuoted() {
        Expect('"');
        std::string text;
        for (;;) {
            if (m_pos >= m_text.size())
                Fail(); // unterminated
            char c = m_text[m_pos++];
            if (c == '"')
                return text;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (m_pos >= m_text.size())
                Fail();
            char escape = m_text[m_pos++];
            switch (escape) {
            case '"':
            case '\\':
                text += escape;
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'x': {
                if (m_text.size() - m_pos < 2)
                    Fail();
                int high = HexValue(m_text[m_pos]), low = HexValue(m_text[m_pos + 1]);
                if (high < 0 || low < 0)
                    Fail();
                text += static_cast<char>(high * 16 + low);
                m_pos += 2;
                break;
            }
            default:
                Fail();
            }
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

} // namespace

const std::string& CCommandValue::GetText() const {
    if (m_type != Type::Text)
        throw CCommandBadValueIOException();
    return m_text;
}

const CCommandValue::List& CCommandValue::GetList() const {
    if (m_type != Type::List)
        throw CCommandBadValueIOException();
    return m_list;
}

const CCommandValue::Map& CCommandValue::GetMap() const {
    if (m_type != Type::Map)
        throw CCommandBadValueIOException();
    return m_map;
}

std::string CCommandValue::ToText() const {
    std::string out;
    AppendText(out);
    return out;
}

void CCommandValue::AppendText(std::string& out) const {
    switch (m_type) {
    case Type::Text:
        AppendQuoted(out, m_text);
        return;
    case Type::List: {
        out += '[';
        bool first = true;
        for (const CCommandValue& item : m_list) {
            if (!first)
                out += ", ";
            first = false;
            item.AppendText(out);
        }
        out += ']';
        return;
    }
    case Type::Map: {
        out += '{';
        bool first = true;
        for (const auto& [name, item] : m_map) {
            if (!first)
                out += ", ";
            first = false;
            AppendQuoted(out, name);
            out += ": ";
            item.AppendText(out);
        }
        out += '}';
        return;
    }
    }
}

CCommandValue CCommandValue::FromText(std::string_view text) {
    return Reader(text).ReadDocument();
}

bool CCommandValue::operator==(const CCommandValue& other) const {
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case Type::Text:
        return m_text == other.m_text;
    case Type::List:
        return m_list == other.m_list;
    case Type::Map:
        return m_map == other.m_map;
    }
    return false;
}
