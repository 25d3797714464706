// The tokeniser of upload specifications, a fixed subset of XML without quotes, declarations,
// comments or entities: words, "<", "=" and ">", and the raw character data between tags. It reads
// its stream a byte at a time with one byte of push-back.
#pragma once

#include "foundation/input_stream.h"

#include <cstddef>
#include <optional>
#include <string>

class UploadSpecLexer {
public:
    struct Token {
        enum class Kind {
            Word,   // a run of ordinary bytes (a double quote is ordinary)
            Open,   // "<"
            Equals, // "="
            Close,  // ">"
            End,    // the stream is exhausted; repeated on every later call
        };
        Kind kind;
        std::string text; // the word's bytes; empty for the other kinds
    };

    // Bytes are taken from the stream in pieces of this size.
    static constexpr size_t kReadChunk = 4096;

    // Borrows the stream, which must outlive the lexer.
    explicit UploadSpecLexer(IInputStream& stream);

    Token NextToken();

    // The raw bytes up to the next "<" (which stays to be read), trailing whitespace cut; nothing but
    // "<" is special here. Raises "Unterminated PCData segment" when the stream ends first.
    std::string ReadCharacterData();

private:
    // Where the tokeniser stands between calls of NextToken.
    enum class State {
        BetweenTokens, // skipping whitespace; the next byte starts a token
        InWord,        // collecting the bytes of a word in m_word
    };

    static constexpr int kEndOfStream = -1;

    std::optional<Token> ReadBetweenTokens();
    std::optional<Token> ReadInWord();

    int Get();
    void PushBack(int c);

    IInputStream& m_stream;
    State m_state = State::BetweenTokens;
    std::string m_word;
    char m_buffer[kReadChunk];
    size_t m_position = 0;           // next unread byte of m_buffer
    size_t m_length = 0;             // bytes held in m_buffer
    int m_pushedBack = kEndOfStream; // a byte given back, or kEndOfStream for none
    bool m_hasPushedBack = false;
};

// TAB, LF, CR and space.
bool IsUploadSpecWhitespace(int c);
