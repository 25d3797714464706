#include "foundation/string_set_selection.h"

#include "foundation/lock.h"

#include <algorithm>

CStringSetSelection::CStringSetSelection(std::string name, std::string classId)
    : CSelection(std::move(classId), std::move(name)) {}

CStringSetSelection::~CStringSetSelection() = default;

void CStringSetSelection::Select(const std::string& element) {
    CLock lock(GetLock());
    m_selected.insert(element);
}

void CStringSetSelection::Deselect(const std::string& element) {
    CLock lock(GetLock());
    m_selected.erase(element);
}

void CStringSetSelection::SelectAll() {
    CLock lock(GetLock());
    for (std::string& element : GetCollection())
        m_selected.insert(std::move(element));
}

void CStringSetSelection::Clear() {
    CLock lock(GetLock());
    m_selected.clear();
}

bool CStringSetSelection::IsEmpty() const {
    CLock lock(GetLock());
    return m_selected.empty();
}

bool CStringSetSelection::Contains(const std::string& element) const {
    CLock lock(GetLock());
    return m_selected.contains(element);
}

size_t CStringSetSelection::GetCount() const {
    CLock lock(GetLock());
    return m_selected.size();
}

std::vector<std::string> CStringSetSelection::GetElements() const {
    CLock lock(GetLock());
    return {m_selected.begin(), m_selected.end()};
}

std::vector<std::string> CStringSetSelection::GetCollection() const {
    CLock lock(GetLock());
    return m_collection;
}

void CStringSetSelection::RemoveSelected() {
    CLock lock(GetLock());
    std::erase_if(m_collection, [this](const std::string& element) { return m_selected.contains(element); });
    m_selected.clear();
}

void CStringSetSelection::SetCollection(std::vector<std::string> collection) {
    CLock lock(GetLock());
    m_collection = std::move(collection);
    // Elements that left the collection cannot stay selected.
    std::set<std::string> present(m_collection.begin(), m_collection.end());
    std::erase_if(m_selected, [&present](const std::string& element) { return !present.contains(element); });
}
