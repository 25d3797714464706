#include "foundation/command_registry.h"

#include "foundation/composite_command.h"
#include "foundation/exception.h"
#include "foundation/lock.h"
#include "foundation/selection.h"
#include "foundation/string_set_commands.h"
#include "foundation/string_set_selection.h"
#include "foundation/trace.h"

CCommandRegistry::CCommandRegistry() {
    RegisterSelectionClass(kGenericSelectionClass, "");
    RegisterSelectionClass(CStringSetSelection::kClassID, kGenericSelectionClass);
    RegisterStringSetCommands(*this);
}

CCommandRegistry::~CCommandRegistry() = default;

CCommandRegistry& CCommandRegistry::Get() {
    static CCommandRegistry registry;
    return registry;
}

void CCommandRegistry::RegisterSelectionClass(const std::string& id, const std::string& parent) {
    CLock lock(m_lock);
    if (!m_classes.emplace(id, parent).second)
        throw CSelectionIDExists(id);
}

bool CCommandRegistry::IsSelectionClass(const std::string& id) const {
    CLock lock(m_lock);
    return m_classes.contains(id);
}

std::vector<std::string> CCommandRegistry::GetClassChain(const std::string& id) const {
    CLock lock(m_lock);
    std::vector<std::string> chain;
    std::string current = id;
    // A parent may be named before it is registered, so a cycle could form; the walk is bounded by the
    // number of classes.
    for (size_t steps = 0; !current.empty() && steps <= m_classes.size(); ++steps) {
        chain.push_back(current);
        auto it = m_classes.find(current);
        if (it == m_classes.end())
            break;
        current = it->second;
    }
    return chain;
}

void CCommandRegistry::RegisterCommand(const std::string& classId, std::unique_ptr<CCommand> prototype) {
    if (!prototype)
        return;
    std::unique_ptr<CCommand> replaced; // destroyed after the lock is given back
    CLock lock(m_lock);
    auto& slot = m_prototypes[{classId, prototype->GetName()}];
    replaced = std::move(slot);
    slot = std::move(prototype);
}

bool CCommandRegistry::UnregisterCommand(const std::string& classId, const std::string& name) {
    CLock lock(m_lock);
    return m_prototypes.erase({classId, name}) != 0;
}

const CCommand* CCommandRegistry::FindLocked(const std::string& classId, const std::string& name) const {
    for (const std::string& kind : GetClassChain(classId)) {
        auto it = m_prototypes.find({kind, name});
        if (it != m_prototypes.end())
            return it->second.get();
    }
    // A class outside the chain (never registered) still gets the generic commands.
    auto it = m_prototypes.find({kGenericSelectionClass, name});
    return it != m_prototypes.end() ? it->second.get() : nullptr;
}

const CCommand* CCommandRegistry::FindCommand(const CSelection& selection, const std::string& name) const {
    CLock lock(m_lock);
    return FindLocked(selection.GetClassID(), name);
}

bool CCommandRegistry::IsEnabled(const CSelection& selection, const std::string& name) const {
    CLock lock(m_lock);
    const CCommand* prototype = FindLocked(selection.GetClassID(), name);
    return prototype != nullptr && prototype->IsEnabled(selection);
}

bool CCommandRegistry::Execute(CSelection& selection, const std::string& name, const Parameters& parameters) {
    std::unique_ptr<CCommand> instance;
    {
        CLock lock(m_lock);
        const CCommand* prototype = FindLocked(selection.GetClassID(), name);
        if (prototype == nullptr) {
            Trace("command", 1, "no command '%s' for %s", name.c_str(), selection.GetClassID().c_str());
            return false;
        }
        instance = prototype->Clone();
    }
    for (const auto& [parameter, value] : parameters) {
        if (!instance->SetParameter(parameter, value)) {
            Trace("command", 0, "command '%s' has no parameter '%s'", name.c_str(), parameter.c_str());
            return false;
        }
    }

    m_before.Fire(CCommandEvent(CCommandEvent::Phase::Before, selection, *instance, false));
    bool outcome = false;
    try {
        outcome = instance->IsEnabled(selection) && instance->Execute(selection);
    } catch (...) {
        m_after.Fire(CCommandEvent(CCommandEvent::Phase::After, selection, *instance, false));
        throw;
    }
    m_after.Fire(CCommandEvent(CCommandEvent::Phase::After, selection, *instance, outcome));

    if (outcome) {
        CLock lock(m_lock);
        RecordLocked(selection.GetName(), std::move(instance));
    }
    return outcome;
}

void CCommandRegistry::RecordLocked(const std::string& selectionName, std::unique_ptr<CCommand> command) {
    if (m_groupDepth > 0) {
        auto& group = m_groups[selectionName];
        if (!group)
            group = std::make_unique<CCompositeCommand>(m_groupName);
        group->Add(std::move(command));
        return;
    }
    auto& history = m_history[selectionName];
    history.push_back(std::move(command));
    while (history.size() > kMaxHistory)
        history.pop_front();
}

void CCommandRegistry::BeginGroup(const std::string& name) {
    CLock lock(m_lock);
    if (m_groupDepth++ == 0)
        m_groupName = name;
}

void CCommandRegistry::EndGroup() {
    CLock lock(m_lock);
    if (m_groupDepth == 0 || --m_groupDepth > 0)
        return;
    std::map<std::string, std::unique_ptr<CCompositeCommand>> groups;
    groups.swap(m_groups);
    for (auto& [selectionName, group] : groups)
        RecordLocked(selectionName, std::move(group));
}

std::vector<std::string> CCommandRegistry::GetHistory(const std::string& selectionName) const {
    CLock lock(m_lock);
    std::vector<std::string> names;
    auto it = m_history.find(selectionName);
    if (it != m_history.end()) {
        for (const auto& command : it->second)
            names.push_back(command->GetName());
    }
    return names;
}

void CCommandRegistry::ClearHistory(const std::string& selectionName) {
    CLock lock(m_lock);
    m_history.erase(selectionName);
}
