// A selection: a named set of elements that user commands act on. Its class identifier names its kind
// in the chain of selection classes ("generic" at the root) through which the command registry finds
// the commands that apply to it.
//
// Threads: the class identifier and the name never change. Commands take GetLock() while they change
// the selection.
#pragma once

#include "foundation/mutex.h"

#include <string>

class CSelection {
public:
    CSelection(std::string classId, std::string name);
    virtual ~CSelection();
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

    const std::string& GetClassID() const { return m_classId; }
    const std::string& GetName() const { return m_name; }
    CMutex& GetLock() const { return m_lock; }

private:
    std::string m_classId;
    std::string m_name;
    mutable CMutex m_lock;
};

// The root of the chain of selection classes.
inline constexpr const char* kGenericSelectionClass = "generic";
