// The generic commands of every set-of-strings selection, registered for CStringSetSelection and so
// found for its kinds too: "selectAll", "deselectAll" and "removeSelected". Each takes the selection's
// lock while it changes the selection; on a selection that is not a set of strings none is enabled.
#pragma once

#include "foundation/command.h"

class CCommandRegistry;

// Selects every element of the underlying collection; always enabled.
class CSelectAllCommand : public CCommand {
public:
    static constexpr const char* kName = "selectAll";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Clears the selection; enabled when it is not empty.
class CDeselectAllCommand : public CCommand {
public:
    static constexpr const char* kName = "deselectAll";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Calls the selection's remove-selected operation; enabled when the selection is not empty.
class CRemoveSelectedCommand : public CCommand {
public:
    static constexpr const char* kName = "removeSelected";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Registers the three for CStringSetSelection.
void RegisterStringSetCommands(CCommandRegistry& registry);
