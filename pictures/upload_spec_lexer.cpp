#include "pictures/upload_spec_lexer.h"

namespace {

bool IsSpecial(int c) {
    return c == '<' || c == '=' || c == '>';
}

UploadSpecLexer::Token MakeToken(UploadSpecLexer::Token::Kind kind) {
    return {kind, {}};
}

} // namespace

bool IsUploadSpecWhitespace(int c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

UploadSpecLexer::UploadSpecLexer(IInputStream& stream) : m_stream(stream) {}

int UploadSpecLexer::Get() {
    if (m_hasPushedBack) {
        m_hasPushedBack = false;
        return m_pushedBack;
    }
    if (m_position == m_length) {
        m_length = m_stream.Read(sizeof m_buffer, m_buffer);
        m_position = 0;
        if (m_length == 0)
            return kEndOfStream;
    }
    return static_cast<unsigned char>(m_buffer[m_position++]);
}

void UploadSpecLexer::PushBack(int c) {
    m_pushedBack = c;
    m_hasPushedBack = true;
}

UploadSpecLexer::Token UploadSpecLexer::NextToken() {
    for (;;) {
        std::optional<Token> token;
        switch (m_state) {
        case State::BetweenTokens:
            token = ReadBetweenTokens();
            break;
        case State::InWord:
            token = ReadInWord();
            break;
        }
        if (token)
            return std::move(*token);
    }
}

std::optional<UploadSpecLexer::Token> UploadSpecLexer::ReadBetweenTokens() {
    const int c = Get();
    if (c == kEndOfStream)
        return MakeToken(Token::Kind::End);
    if (IsUploadSpecWhitespace(c))
        return std::nullopt;
    switch (c) {
    case '<':
        return MakeToken(Token::Kind::Open);
    case '=':
        return MakeToken(Token::Kind::Equals);
    case '>':
        return MakeToken(Token::Kind::Close);
    default:
        m_word.assign(1, static_cast<char>(c));
        m_state = State::InWord;
        return std::nullopt;
    }
}

std::optional<UploadSpecLexer::Token> UploadSpecLexer::ReadInWord() {
    const int c = Get();
    if (c != kEndOfStream && !IsUploadSpecWhitespace(c) && !IsSpecial(c)) {
        m_word += static_cast<char>(c);
        return std::nullopt;
    }
    // The byte that ends the word starts whatever follows it (the end of the stream stays the end).
    if (c != kEndOfStream)
        PushBack(c);
    m_state = State::BetweenTokens;
    Token word{Token::Kind::Word, std::move(m_word)};
    m_word.clear();
    return word;
}

std::string UploadSpecLexer::ReadCharacterData() {
    std::string run;
    for (;;) {
        const int c = Get();
        if (c == kEndOfStream)
            throw "Unterminated PCData segment";
        if (c == '<') {
            PushBack(c);
            break;
        }
        run += static_cast<char>(c);
    }
    size_t end = run.size();
    while (end > 0 && IsUploadSpecWhitespace(static_cast<unsigned char>(run[end - 1])))
        --end;
    run.resize(end);
    return run;
}
