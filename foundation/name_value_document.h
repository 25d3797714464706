// The preferences as held in memory: a tree of nodes, each with named text values and named child
// nodes, both kept in name order. A value is addressed by a path whose components are separated by
// "/": all but the last name child nodes, the last names the value ("columns/nameWidth"). The tree is
// loaded from a registry key and saved to one, each node a key and each value a text value.
//
// A document is used by one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

class CRegistryKey;

class CNameValueDocument {
public:
    using Values = std::map<std::string, std::string, std::less<>>;
    using Nodes = std::map<std::string, std::unique_ptr<CNameValueDocument>, std::less<>>;

    CNameValueDocument();
    ~CNameValueDocument();
    CNameValueDocument(const CNameValueDocument& other); // copies the whole tree
    CNameValueDocument& operator=(const CNameValueDocument& other);
    CNameValueDocument(CNameValueDocument&&) noexcept;
    CNameValueDocument& operator=(CNameValueDocument&&) noexcept;
    bool operator==(const CNameValueDocument& other) const;

    // Every path function raises CBadNameValueDocumentPathException for a path with an empty component
    // and for a path whose last component names a child node (HasValue answers false for the latter).

    // Sets the value, creating the nodes along the path. Returns whether the document changed: setting
    // a value to the text it already has changes nothing.
    bool SetValue(std::string_view path, std::string_view text);
    // The value's text, "" when the node holds no such value; a node along the path that does not
    // exist raises.
    std::string GetValue(std::string_view path) const;
    bool HasValue(std::string_view path) const;
    // Removes the value if it is there.
    void RemoveValue(std::string_view path);

    // Child nodes of this node, by name (not by path). GetNode raises when there is none; AddNode gives
    // the existing node or a new empty one.
    bool HasNode(std::string_view name) const;
    CNameValueDocument& GetNode(std::string_view name);
    const CNameValueDocument& GetNode(std::string_view name) const;
    CNameValueDocument& AddNode(std::string_view name);

    // This node's own values, with names taken as they are (a registry value name may hold "/").
    void SetNamedValue(std::string_view name, std::string_view text);
    const Values& GetValues() const { return m_values; }
    const Nodes& GetNodes() const { return m_nodes; }
    bool IsEmpty() const { return m_values.empty() && m_nodes.empty(); }
    void Clear();

private:
    const CNameValueDocument* FindNode(std::string_view path, std::string_view* valueName) const;

    Values m_values;
    Nodes m_nodes; // each child owned by its parent
};

// Copies every value of the key into the document (read as text) and every subkey into a child node
// of the same name, recursively. Registry failures are raised to the caller.
void LoadDocument(const CRegistryKey& key, CNameValueDocument& document);
// Writes every value as text and every child node into the subkey of its name (created when
// missing), recursively. Nothing is removed from the registry.
void SaveDocument(const CNameValueDocument& document, CRegistryKey& key);
