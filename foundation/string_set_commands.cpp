#include "foundation/string_set_commands.h"

#include "foundation/command_registry.h"
#include "foundation/lock.h"
#include "foundation/string_set_selection.h"

namespace {

CStringSetSelection* AsStringSet(CSelection& selection) {
    return dynamic_cast<CStringSetSelection*>(&selection);
}

const CStringSetSelection* AsStringSet(const CSelection& selection) {
    return dynamic_cast<const CStringSetSelection*>(&selection);
}

bool HasSelected(const CSelection& selection) {
    const CStringSetSelection* set = AsStringSet(selection);
    return set != nullptr && !set->IsEmpty();
}

} // namespace

bool CSelectAllCommand::Execute(CSelection& selection) {
    CStringSetSelection* set = AsStringSet(selection);
    if (set == nullptr)
        return false;
    CLock lock(set->GetLock());
    set->SelectAll();
    return true;
}

std::unique_ptr<CCommand> CSelectAllCommand::Clone() const {
    return std::make_unique<CSelectAllCommand>(*this);
}

bool CSelectAllCommand::IsEnabled(const CSelection& selection) const {
    return AsStringSet(selection) != nullptr;
}

bool CDeselectAllCommand::Execute(CSelection& selection) {
    CStringSetSelection* set = AsStringSet(selection);
    if (set == nullptr)
        return false;
    CLock lock(set->GetLock());
    set->Clear();
    return true;
}

std::unique_ptr<CCommand> CDeselectAllCommand::Clone() const {
    return std::make_unique<CDeselectAllCommand>(*this);
}

bool CDeselectAllCommand::IsEnabled(const CSelection& selection) const {
    return HasSelected(selection);
}

bool CRemoveSelectedCommand::Execute(CSelection& selection) {
    CStringSetSelection* set = AsStringSet(selection);
    if (set == nullptr)
        return false;
    CLock lock(set->GetLock());
    set->RemoveSelected();
    return true;
}

std::unique_ptr<CCommand> CRemoveSelectedCommand::Clone() const {
    return std::make_unique<CRemoveSelectedCommand>(*this);
}

bool CRemoveSelectedCommand::IsEnabled(const CSelection& selection) const {
    return HasSelected(selection);
}

void RegisterStringSetCommands(CCommandRegistry& registry) {
    registry.RegisterCommand(CStringSetSelection::kClassID, std::make_unique<CSelectAllCommand>());
    registry.RegisterCommand(CStringSetSelection::kClassID, std::make_unique<CDeselectAllCommand>());
    registry.RegisterCommand(CStringSetSelection::kClassID, std::make_unique<CRemoveSelectedCommand>());
}
