#include "foundation/composite_command.h"

CCompositeCommand::CCompositeCommand(std::string name) : m_name(std::move(name)) {}

CCompositeCommand::~CCompositeCommand() = default;

bool CCompositeCommand::Execute(CSelection& selection) {
    bool all = true;
    for (auto& part : m_parts)
        all = part->Execute(selection) && all;
    return all;
}

std::unique_ptr<CCommand> CCompositeCommand::Clone() const {
    auto copy = std::make_unique<CCompositeCommand>(m_name);
    for (const auto& part : m_parts)
        copy->Add(part->Clone());
    return copy;
}

bool CCompositeCommand::IsEnabled(const CSelection& /*selection*/) const {
    return !m_parts.empty();
}

void CCompositeCommand::Add(std::unique_ptr<CCommand> part) {
    if (part)
        m_parts.push_back(std::move(part));
}
