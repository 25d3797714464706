// The commands executed within one group (between the outermost BeginGroup and its EndGroup of the
// command registry), kept as one history entry under the group's name. Executing it runs its commands
// again in order.
#pragma once

#include "foundation/command.h"

#include <memory>
#include <string>
#include <vector>

class CCompositeCommand : public CCommand {
public:
    explicit CCompositeCommand(std::string name);
    ~CCompositeCommand() override;

    // Runs every part, in order, even after one fails; true when all succeeded.
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return m_name; }
    bool IsEnabled(const CSelection& selection) const override;

    void Add(std::unique_ptr<CCommand> part);
    size_t GetCount() const { return m_parts.size(); }
    const CCommand& GetPart(size_t index) const { return *m_parts.at(index); }

private:
    std::string m_name;
    std::vector<std::unique_ptr<CCommand>> m_parts;
};
