#include "foundation/name_value_document.h"

#include "foundation/exception.h"
#include "foundation/registry_key.h"

#include <utility>
#include <vector>

namespace {

// The node names of a path and the value name at its end; an empty component makes the path bad.
std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> names;
    std::string_view rest = path;
    while (true) {
        size_t slash = rest.find('/');
        std::string_view name = rest.substr(0, slash);
        if (name.empty())
            throw CBadNameValueDocumentPathException(std::string(path));
        names.push_back(name);
        if (slash == std::string_view::npos)
            return names;
        rest.remove_prefix(slash + 1);
    }
}

} // namespace

CNameValueDocument::CNameValueDocument() = default;
CNameValueDocument::~CNameValueDocument() = default;
CNameValueDocument::CNameValueDocument(CNameValueDocument&&) noexcept = default;
CNameValueDocument& CNameValueDocument::operator=(CNameValueDocument&&) noexcept = default;

CNameValueDocument::CNameValueDocument(const CNameValueDocument& other) : m_values(other.m_values) {
    for (const auto& [name, node] : other.m_nodes)
        m_nodes.emplace(name, std::make_unique<CNameValueDocument>(*node));
}

CNameValueDocument& CNameValueDocument::operator=(const CNameValueDocument& other) {
    if (this != &other) {
        CNameValueDocument copy(other);
        *this = std::move(copy);
    }
    return *this;
}

bool CNameValueDocument::operator==(const CNameValueDocument& other) const {
    if (m_values != other.m_values || m_nodes.size() != other.m_nodes.size())
        return false;
    for (auto mine = m_nodes.begin(), theirs = other.m_nodes.begin(); mine != m_nodes.end();
         ++mine, ++theirs) {
        if (mine->first != theirs->first || !(*mine->second == *theirs->second))
            return false;
    }
    return true;
}

const CNameValueDocument* CNameValueDocument::FindNode(std::string_view path,
                                                       std::string_view* valueName) const {
    std::vector<std::string_view> names = SplitPath(path);
    *valueName = names.back();
    names.pop_back();
    const CNameValueDocument* node = this;
    for (std::string_view name : names) {
        auto it = node->m_nodes.find(name);
        if (it == node->m_nodes.end())
            return nullptr;
        node = it->second.get();
    }
    return node;
}

bool CNameValueDocument::SetValue(std::string_view path, std::string_view text) {
    std::vector<std::string_view> names = SplitPath(path);
    std::string_view valueName = names.back();
    names.pop_back();
    // The path is checked before any node is made, so that a bad path changes nothing.
    const CNameValueDocument* existing = this;
    for (std::string_view name : names) {
        auto it = existing->m_nodes.find(name);
        if (it == existing->m_nodes.end()) {
            existing = nullptr;
            break;
        }
        existing = it->second.get();
    }
    if (existing != nullptr && existing->m_nodes.find(valueName) != existing->m_nodes.end())
        throw CBadNameValueDocumentPathException(std::string(path));

    CNameValueDocument* node = this;
    for (std::string_view name : names)
        node = &node->AddNode(name);
    auto it = node->m_values.find(valueName);
    if (it != node->m_values.end()) {
        if (it->second == text)
            return false;
        it->second = text;
        return true;
    }
    node->m_values.emplace(valueName, text);
    return true;
}

std::string CNameValueDocument::GetValue(std::string_view path) const {
    std::string_view valueName;
    const CNameValueDocument* node = FindNode(path, &valueName);
    if (node == nullptr || node->m_nodes.find(valueName) != node->m_nodes.end())
        throw CBadNameValueDocumentPathException(std::string(path));
    auto it = node->m_values.find(valueName);
    return it != node->m_values.end() ? it->second : std::string();
}

bool CNameValueDocument::HasValue(std::string_view path) const {
    std::string_view valueName;
    const CNameValueDocument* node = FindNode(path, &valueName);
    return node != nullptr && node->m_values.find(valueName) != node->m_values.end();
}

void CNameValueDocument::RemoveValue(std::string_view path) {
    std::vector<std::string_view> names = SplitPath(path);
    std::string_view valueName = names.back();
    names.pop_back();
    CNameValueDocument* node = this;
    for (std::string_view name : names) {
        auto it = node->m_nodes.find(name);
        if (it == node->m_nodes.end())
            return;
        node = it->second.get();
    }
    if (node->m_nodes.find(valueName) != node->m_nodes.end())
        throw CBadNameValueDocumentPathException(std::string(path));
    if (auto it = node->m_values.find(valueName); it != node->m_values.end())
        node->m_values.erase(it);
}

bool CNameValueDocument::HasNode(std::string_view name) const {
    return m_nodes.find(name) != m_nodes.end();
}

const CNameValueDocument& CNameValueDocument::GetNode(std::string_view name) const {
    auto it = m_nodes.find(name);
    if (it == m_nodes.end())
        throw CBadNameValueDocumentPathException(std::string(name));
    return *it->second;
}

CNameValueDocument& CNameValueDocument::GetNode(std::string_view name) {
    return const_cast<CNameValueDocument&>(std::as_const(*this).GetNode(name));
}

CNameValueDocument& CNameValueDocument::AddNode(std::string_view name) {
    if (name.empty())
        throw CBadNameValueDocumentPathException(std::string(name));
    auto it = m_nodes.find(name);
    if (it == m_nodes.end())
        it = m_nodes.emplace(std::string(name), std::make_unique<CNameValueDocument>()).first;
    return *it->second;
}

void CNameValueDocument::SetNamedValue(std::string_view name, std::string_view text) {
    m_values.insert_or_assign(std::string(name), std::string(text));
}

void CNameValueDocument::Clear() {
    m_values.clear();
    m_nodes.clear();
}

void LoadDocument(const CRegistryKey& key, CNameValueDocument& document) {
    for (const std::string& name : key.GetValueNames())
        document.SetNamedValue(name, key.ReadString(name));
    CRegistryKey::Open open = key.IsReadOnly() ? CRegistryKey::Open::ReadOnly : CRegistryKey::Open::Existing;
    for (const std::string& name : key.GetSubkeyNames()) {
        CRegistryKey subkey(key, name, open);
        LoadDocument(subkey, document.AddNode(name));
    }
}

void SaveDocument(const CNameValueDocument& document, CRegistryKey& key) {
    for (const auto& [name, text] : document.GetValues())
        key.WriteString(name, text);
    for (const auto& [name, node] : document.GetNodes()) {
        CRegistryKey subkey(key, name, CRegistryKey::Open::Create);
        SaveDocument(*node, subkey);
    }
}
