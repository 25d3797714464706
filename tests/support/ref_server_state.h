// What the reference upload server (tools/refserver) knows, read by a test: its JSON documents
// (GET /_state, the store's index.json) parsed into a small tree, and its control endpoint
// (POST /_control) for changing the fault rules while it runs. Plain sockets on 127.0.0.1, so that
// the client under test plays no part in observing itself.
#pragma once

#include "tests/support/loopback.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refserver {

// One JSON value. Objects keep their members in document order; a missing member or item reads as
// null, so that a test can walk a path and compare without checking every step.
class Json {
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Type GetType() const { return m_type; }
    bool IsNull() const { return m_type == Type::Null; }
    bool AsBool() const { return m_type == Type::Bool && m_bool; }
    int64_t AsInt() const { return m_type == Type::Number ? static_cast<int64_t>(m_number) : -1; }
    double AsDouble() const { return m_type == Type::Number ? m_number : -1; }
    const std::string& AsString() const { return m_text; }
    const std::vector<Json>& Items() const { return m_items; }
    const std::vector<std::pair<std::string, Json>>& Members() const { return m_members; }

    const Json& operator[](std::string_view name) const {
        for (const auto& [key, value] : m_members)
            if (key == name)
                return value;
        return Null();
    }

    // Raises std::runtime_error on anything that is not one JSON document.
    static Json Parse(std::string_view text) {
        Parser parser{text};
        Json value = parser.Value(0);
        parser.Space();
        if (parser.at != text.size())
            throw std::runtime_error("JSON: text after the document");
        return value;
    }

private:
    static const Json& Null() {
        static const Json null;
        return null;
    }

    struct Parser {
        static constexpr int kMaxDepth = 64;
        std::string_view text;
        size_t at = 0;

        [[noreturn]] void Fail(const char* what) const {
            throw std::runtime_error("JSON: " + std::string(what) + " at " + std::to_string(at));
        }
        void Space() {
            while (at < text.size() &&
                   (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
                ++at;
        }
        bool Take(std::string_view word) {
            if (text.substr(at, word.size()) != word)
                return false;
            at += word.size();
            return true;
        }
        Json Value(int depth) {
            if (depth > kMaxDepth)
                Fail("nesting too deep");
            Space();
            if (at >= text.size())
                Fail("value expected");
            Json value;
            char c = text[at];
            if (c == '{') {
                value.m_type = Type::Object;
                ++at;
                Space();
                if (Take("}"))
                    return value;
                do {
                    Space();
                    std::string name = String();
                    Space();
                    if (!Take(":"))
                        Fail("':' expected");
                    value.m_members.emplace_back(std::move(name), Value(depth + 1));
                    Space();
                } while (Take(","));
                if (!Take("}"))
                    Fail("'}' expected");
            } else if (c == '[') {
                value.m_type = Type::Array;
                ++at;
                Space();
                if (Take("]"))
                    return value;
                do
                    value.m_items.push_back(Value(depth + 1));
                while ((Space(), Take(",")));
                if (!Take("]"))
                    Fail("']' expected");
            } else if (c == '"') {
                value.m_type = Type::String;
                value.m_text = String();
            } else if (Take("true")) {
                value.m_type = Type::Bool;
                value.m_bool = true;
            } else if (Take("false")) {
                value.m_type = Type::Bool;
            } else if (Take("null")) {
            } else {
                size_t start = at;
                while (at < text.size() &&
                       std::string_view("+-.eE0123456789").find(text[at]) != std::string_view::npos)
                    ++at;
                if (at == start)
                    Fail("unexpected character");
                value.m_type = Type::Number;
                value.m_text = std::string(text.substr(start, at - start));
                value.m_number = std::strtod(value.m_text.c_str(), nullptr);
            }
            return value;
        }
        unsigned Hex4() {
            if (at + 4 > text.size())
                Fail("short \\u escape");
            unsigned code = 0;
            for (int i = 0; i < 4; ++i) {
                char c = text[at++];
                code <<= 4;
                if (c >= '0' && c <= '9')
                    code |= static_cast<unsigned>(c - '0');
                else if (c >= 'a' && c <= 'f')
                    code |= static_cast<unsigned>(c - 'a' + 10);
                else if (c >= 'A' && c <= 'F')
                    code |= static_cast<unsigned>(c - 'A' + 10);
                else
                    Fail("bad \\u escape");
            }
            return code;
        }
        static void AppendUtf8(std::string& out, unsigned code) {
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xF0 | (code >> 18));
                out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
        }
        std::string String() {
            if (!Take("\""))
                Fail("string expected");
            std::string out;
            for (;;) {
                if (at >= text.size())
                    Fail("unterminated string");
                char c = text[at++];
                if (c == '"')
                    return out;
                if (c != '\\') {
                    out += c;
                    continue;
                }
                if (at >= text.size())
                    Fail("unterminated escape");
                char e = text[at++];
                switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned code = Hex4();
                    // A surrogate pair makes one code point; a lone half is kept as it stands.
                    if (code >= 0xD800 && code < 0xDC00 && text.substr(at, 2) == "\\u") {
                        size_t back = at;
                        at += 2;
                        unsigned low = Hex4();
                        if (low >= 0xDC00 && low < 0xE000)
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        else
                            at = back;
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    out += e;
                    break; // '"', '\\', '/'
                }
            }
        }
    };

    Type m_type = Type::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_text; // a string's value, or a number as written
    std::vector<Json> m_items;
    std::vector<std::pair<std::string, Json>> m_members;
};

// One HTTP/1.1 exchange with the server on 127.0.0.1:port, the connection closed after it. Returns
// the reply's body, or raises std::runtime_error when the server cannot be reached, goes quiet for
// kControlQuiet seconds or answers other than 200.
inline std::string ControlExchange(const std::string& port, const std::string& method,
                                   const std::string& path, const std::string& body = "") {
    constexpr double kControlQuiet = 30.0;
    testsupport::LoopbackStream stream =
        testsupport::LoopbackStream::Connect(static_cast<uint16_t>(std::atoi(port.c_str())));
    if (!stream.IsOpen())
        throw std::runtime_error("refserver: cannot connect to port " + port);
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!body.empty() || method == "POST")
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    if (!stream.SendAll(request))
        throw std::runtime_error("refserver: send failed");
    std::string reply;
    for (;;) {
        testsupport::LoopbackStream::Received received = stream.Receive(kControlQuiet);
        if (received.status == testsupport::LoopbackStream::Status::TimedOut)
            throw std::runtime_error("refserver: no reply to " + method + " " + path);
        if (received.status == testsupport::LoopbackStream::Status::Closed)
            break;
        reply += received.bytes;
    }
    size_t headEnd = reply.find("\r\n\r\n");
    if (reply.compare(0, 12, "HTTP/1.1 200") != 0 || headEnd == std::string::npos)
        throw std::runtime_error("refserver: " + method + " " + path + " answered: " + reply.substr(0, 200));
    return reply.substr(headEnd + 4);
}

} // namespace refserver
