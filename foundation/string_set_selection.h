// A selection whose elements are strings (for the upload list, the paths of the selected pictures),
// chosen from an underlying collection. The concrete selection says what the collection is and what
// removing the selected elements means; this class's own versions keep a plain list of strings, so it
// also serves on its own.
//
// Threads: every method takes the selection's lock (recursive), so a command may hold it across
// several calls.
#pragma once

#include "foundation/selection.h"

#include <set>
#include <string>
#include <vector>

class CStringSetSelection : public CSelection {
public:
    explicit CStringSetSelection(std::string name, std::string classId = kClassID);
    ~CStringSetSelection() override;

    static constexpr const char* kClassID = "CStringSetSelection";

    void Select(const std::string& element);
    void Deselect(const std::string& element);
    // Selects every element of the underlying collection.
    void SelectAll();
    void Clear();
    bool IsEmpty() const;
    bool Contains(const std::string& element) const;
    size_t GetCount() const;
    // A copy of the selected elements, in order, to iterate without holding the lock.
    std::vector<std::string> GetElements() const;

    // The underlying collection.
    virtual std::vector<std::string> GetCollection() const;
    // Removes the selected elements from the underlying collection and clears the selection.
    virtual void RemoveSelected();

    // The plain collection that this class's own GetCollection and RemoveSelected use.
    void SetCollection(std::vector<std::string> collection);

private:
    std::set<std::string> m_selected;      // guarded by the selection's lock
    std::vector<std::string> m_collection; // guarded by the selection's lock
};
