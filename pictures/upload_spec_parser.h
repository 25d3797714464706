// The parser of upload specifications: a stack machine over UploadSpecLexer's tokens that builds a tree
// of tag objects from registered prototypes and checks each tag's children as it closes. The root
// `upload` tag holds the pictures, each an ImageTag with its file name and property map.
//
// Errors are raised as plain static texts (const char*), not as CException: "Unexpected token",
// "Missing root tag", "mismatched tags", "Unexpected end of file", "Error parsing attribute",
// "Missing tag name", "Missing >", "Unknown tag name", "Unterminated PCData segment",
// "Invalid child tag", "Backprint lines exceeded".
#pragma once

#include "foundation/input_stream.h"
#include "pictures/upload_spec_image.h"
#include "pictures/upload_spec_lexer.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class PxUploadSpecParser {
public:
    class UploadSpecTag;

    // Makes new, empty tags of one kind and name; the registered prototypes are generators.
    class IUploadSpecTagGenerator {
    public:
        virtual ~IUploadSpecTagGenerator() = default;
        virtual std::unique_ptr<UploadSpecTag> Create() const = 0;
        // Lower case.
        virtual const std::string& GetName() const = 0;
    };

    // One element: its lower-cased name, whether it was read as an end tag, and its character data.
    class UploadSpecTag : public IUploadSpecTagGenerator {
    public:
        explicit UploadSpecTag(const std::string& name);
        const std::string& GetName() const override { return m_name; }
        bool IsClosing() const { return m_closing; }
        void SetClosing(bool closing) { m_closing = closing; }
        const std::string& GetText() const { return m_text; }
        void SetText(std::string text) { m_text = std::move(text); }

        // Takes a finished child; raises "Invalid child tag" for a child this tag does not accept.
        virtual void AddChild(std::unique_ptr<UploadSpecTag> child);

    private:
        std::string m_name;
        bool m_closing = false;
        std::string m_text;
    };

    // One picture: its file name and its properties; a key keeps the first value given to it.
    class ImageTag : public UploadSpecTag, public IUploadSpecImage {
    public:
        ImageTag() : UploadSpecTag("image") {}
        std::unique_ptr<UploadSpecTag> Create() const override { return std::make_unique<ImageTag>(); }
        void AddChild(std::unique_ptr<UploadSpecTag> child) override;

        const std::string& GetFileName() const override { return m_fileName; }
        PropertyMap::const_iterator GetFirstProperty() const override { return m_properties.begin(); }
        PropertyMap::const_iterator GetPropertiesEnd() const override { return m_properties.end(); }

    private:
        void Insert(const char* key, const std::string& value) { m_properties.emplace(key, value); }

        std::string m_fileName;
        PropertyMap m_properties;
    };

    // The root: the pictures in document order.
    class UploadTag : public UploadSpecTag {
    public:
        UploadTag() : UploadSpecTag("upload") {}
        std::unique_ptr<UploadSpecTag> Create() const override { return std::make_unique<UploadTag>(); }
        void AddChild(std::unique_ptr<UploadSpecTag> child) override;
        const std::vector<const IUploadSpecImage*>& GetImages() const { return m_imageList; }

    private:
        std::vector<std::unique_ptr<ImageTag>> m_images;  // owned
        std::vector<const IUploadSpecImage*> m_imageList; // the same, as the control sees them
    };

    // Up to two lines of text for the back of the print, joined by a line feed.
    class BackprintTag : public UploadSpecTag {
    public:
        static constexpr int kMaxLines = 2;
        BackprintTag() : UploadSpecTag("backprint") {}
        std::unique_ptr<UploadSpecTag> Create() const override { return std::make_unique<BackprintTag>(); }
        void AddChild(std::unique_ptr<UploadSpecTag> child) override;
        const std::string& GetCombinedText() const { return m_combined; }

    private:
        int m_lines = 0;
        std::string m_combined;
    };

    // The print crop: four edges, each empty until given.
    class CropRectTag : public UploadSpecTag {
    public:
        CropRectTag() : UploadSpecTag("cropRect") {}
        std::unique_ptr<UploadSpecTag> Create() const override { return std::make_unique<CropRectTag>(); }
        void AddChild(std::unique_ptr<UploadSpecTag> child) override;
        // left, bottom, right and top, separated by single spaces.
        std::string GetCrop() const { return m_left + " " + m_bottom + " " + m_right + " " + m_top; }

    private:
        std::string m_left;
        std::string m_bottom;
        std::string m_right;
        std::string m_top;
    };

    // A tag whose text is its value; it takes no children.
    class LeafTag : public UploadSpecTag {
    public:
        explicit LeafTag(const std::string& name) : UploadSpecTag(name) {}
        std::unique_ptr<UploadSpecTag> Create() const override {
            return std::make_unique<LeafTag>(GetName());
        }
    };

    // Borrows the stream, which must outlive the parser.
    explicit PxUploadSpecParser(IInputStream& stream);
    ~PxUploadSpecParser();
    PxUploadSpecParser(const PxUploadSpecParser&) = delete;
    PxUploadSpecParser& operator=(const PxUploadSpecParser&) = delete;

    // Reads the whole document and returns its root, owned by the parser; raises a static text.
    const UploadTag& Parse();

private:
    using Token = UploadSpecLexer::Token;

    // Where the document loop stands; each state takes the next token.
    enum class State {
        Content,         // between tags: character data, a "<", or the end
        TagName,         // after "<": the tag's name
        Attributes,      // inside a tag: an attribute's name or the closing ">"
        AttributeEquals, // after an attribute's name: its "="
        AttributeValue,  // after the "=": the value's word
        Done,            // the tokens are exhausted
    };

    void Register(std::unique_ptr<UploadSpecTag> prototype);

    void ReadContent(Token& token);
    void ReadTagName(Token& token);
    void ReadAttributes(Token& token);
    void ReadAttributeEquals(Token& token);
    void ReadAttributeValue(Token& token);
    void FinishTag();

    UploadSpecLexer m_lexer;
    std::map<std::string, std::unique_ptr<UploadSpecTag>> m_prototypes; // by lower-case name
    std::string m_rootName; // that of the first prototype registered
    State m_state = State::Content;
    std::string m_tagName;                              // of the tag being read, as written
    std::vector<std::unique_ptr<UploadSpecTag>> m_open; // the open tags, innermost last
    std::unique_ptr<UploadSpecTag> m_root;              // the last root that ended
};
