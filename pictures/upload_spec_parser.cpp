#include "pictures/upload_spec_parser.h"

#include <algorithm>

namespace {

// The leaf tags, as written in documents (names compare without regard to case).
constexpr const char* kLeafNames[] = {"file",     "title",           "albumName",  "backprintLine",
                                      "rotation", "cropLeft",        "cropBottom", "cropRight",
                                      "cropTop",  "cropOrientation", "cropShape"};

std::string ToLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Rotation in degrees to the number of quarter turns; null for any other text.
const char* QuarterTurns(const std::string& degrees) {
    if (degrees == "0")
        return "0";
    if (degrees == "90")
        return "1";
    if (degrees == "180")
        return "2";
    if (degrees == "270")
        return "3";
    return nullptr;
}

[[noreturn]] void InvalidChild() {
    throw "Invalid child tag";
}

} // namespace

// --- Tags --------------------------------------------------------------------------------------

PxUploadSpecParser::UploadSpecTag::UploadSpecTag(const std::string& name) : m_name(ToLower(name)) {}

void PxUploadSpecParser::UploadSpecTag::AddChild(std::unique_ptr<UploadSpecTag>) {
    InvalidChild();
}

void PxUploadSpecParser::UploadTag::AddChild(std::unique_ptr<UploadSpecTag> child) {
    auto* image = dynamic_cast<ImageTag*>(child.get());
    if (image == nullptr)
        InvalidChild();
    child.release();
    m_images.emplace_back(image);
    m_imageList.push_back(image);
}

void PxUploadSpecParser::ImageTag::AddChild(std::unique_ptr<UploadSpecTag> child) {
    const std::string& name = child->GetName();
    const std::string& text = child->GetText();
    if (name == "file") {
        m_fileName = text;
    } else if (name == "albumname") {
        Insert("Image.AlbumName", text);
    } else if (name == "cropshape") {
        Insert("Image.ViewProperties.CropShape", text);
    } else if (name == "croporientation") {
        Insert("Image.ViewProperties.PrintOrient", text);
    } else if (name == "rotation") {
        if (const char* turns = QuarterTurns(text))
            Insert("Image.ViewProperties.rotation", turns);
    } else if (name == "title") {
        Insert("Image.ViewProperties.Title", text);
    } else if (auto* backprint = dynamic_cast<const BackprintTag*>(child.get())) {
        Insert("Image.ViewProperties.BackPrint", backprint->GetCombinedText());
    } else if (auto* crop = dynamic_cast<const CropRectTag*>(child.get())) {
        Insert("Image.ViewProperties.Crop", crop->GetCrop());
    } else {
        InvalidChild();
    }
}

void PxUploadSpecParser::BackprintTag::AddChild(std::unique_ptr<UploadSpecTag> child) {
    if (child->GetName() != "backprintline")
        InvalidChild();
    if (m_lines == kMaxLines)
        throw "Backprint lines exceeded";
    m_combined += (m_lines == 0 ? "" : "\n") + child->GetText();
    ++m_lines;
}

void PxUploadSpecParser::CropRectTag::AddChild(std::unique_ptr<UploadSpecTag> child) {
    const std::string& name = child->GetName();
    if (name == "cropleft")
        m_left = child->GetText();
    else if (name == "cropbottom")
        m_bottom = child->GetText();
    else if (name == "cropright")
        m_right = child->GetText();
    else if (name == "croptop")
        m_top = child->GetText();
    else
        InvalidChild();
}

// --- The parser --------------------------------------------------------------------------------

PxUploadSpecParser::PxUploadSpecParser(IInputStream& stream) : m_lexer(stream) {
    Register(std::make_unique<UploadTag>());
    Register(std::make_unique<ImageTag>());
    Register(std::make_unique<BackprintTag>());
    Register(std::make_unique<CropRectTag>());
    for (const char* name : kLeafNames)
        Register(std::make_unique<LeafTag>(name));
}

PxUploadSpecParser::~PxUploadSpecParser() = default;

void PxUploadSpecParser::Register(std::unique_ptr<UploadSpecTag> prototype) {
    if (m_rootName.empty())
        m_rootName = prototype->GetName();
    std::string name = prototype->GetName();
    m_prototypes.emplace(std::move(name), std::move(prototype));
}

const PxUploadSpecParser::UploadTag& PxUploadSpecParser::Parse() {
    while (m_state != State::Done) {
        Token token = m_lexer.NextToken();
        switch (m_state) {
        case State::Content:
            ReadContent(token);
            break;
        case State::TagName:
            ReadTagName(token);
            break;
        case State::Attributes:
            ReadAttributes(token);
            break;
        case State::AttributeEquals:
            ReadAttributeEquals(token);
            break;
        case State::AttributeValue:
            ReadAttributeValue(token);
            break;
        case State::Done:
            break;
        }
    }
    if (m_root == nullptr)
        throw "Unexpected end of file";
    // The root prototype is an UploadTag, and only a tag named as the root can become the root.
    return static_cast<const UploadTag&>(*m_root);
}

void PxUploadSpecParser::ReadContent(Token& token) {
    switch (token.kind) {
    case Token::Kind::Word: {
        if (m_open.empty())
            throw "Missing root tag";
        // The word is the start of the character data, which runs on, spaces and all, to the next "<".
        std::string text = std::move(token.text);
        for (std::string run = m_lexer.ReadCharacterData(); !run.empty(); run = m_lexer.ReadCharacterData())
            text += run;
        m_open.back()->SetText(std::move(text));
        return;
    }
    case Token::Kind::Open:
        m_state = State::TagName;
        return;
    case Token::Kind::End:
        m_state = State::Done;
        return;
    default:
        throw "Unexpected token";
    }
}

void PxUploadSpecParser::ReadTagName(Token& token) {
    if (token.kind != Token::Kind::Word)
        throw "Missing tag name";
    m_tagName = std::move(token.text);
    m_state = State::Attributes;
}

// Attributes are read and dropped. Only a word starts one; other tokens inside a tag are passed over.
void PxUploadSpecParser::ReadAttributes(Token& token) {
    switch (token.kind) {
    case Token::Kind::Close:
        FinishTag();
        m_state = State::Content;
        return;
    case Token::Kind::Word:
        m_state = State::AttributeEquals;
        return;
    case Token::Kind::End:
        throw "Missing >";
    default:
        return;
    }
}

void PxUploadSpecParser::ReadAttributeEquals(Token& token) {
    if (token.kind != Token::Kind::Equals)
        throw "Error parsing attribute";
    m_state = State::AttributeValue;
}

void PxUploadSpecParser::ReadAttributeValue(Token& token) {
    if (token.kind != Token::Kind::Word)
        throw "Error parsing attribute";
    m_state = State::Attributes;
}

void PxUploadSpecParser::FinishTag() {
    const bool closing = m_tagName.starts_with('/');
    auto prototype = m_prototypes.find(ToLower(closing ? m_tagName.substr(1) : m_tagName));
    if (prototype == m_prototypes.end())
        throw "Unknown tag name";
    std::unique_ptr<UploadSpecTag> tag = prototype->second->Create();
    tag->SetClosing(closing);

    if (!closing) {
        // The root tag opens the document and nowhere else; anything else opens inside it.
        if (m_open.empty() != (tag->GetName() == m_rootName))
            throw "Missing root tag";
        m_open.push_back(std::move(tag));
        return;
    }
    if (m_open.empty() || m_open.back()->GetName() != tag->GetName())
        throw "mismatched tags";
    std::unique_ptr<UploadSpecTag> finished = std::move(m_open.back());
    m_open.pop_back();
    if (m_open.empty())
        m_root = std::move(finished);
    else
        m_open.back()->AddChild(std::move(finished));
}
