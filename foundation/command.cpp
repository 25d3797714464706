#include "foundation/command.h"

#include "foundation/exception.h"

CCommand::CCommand() = default;

CCommand::CCommand(const CCommand&) = default;

CCommand::~CCommand() = default;

bool CCommand::SetParameter(const std::string& name, CCommandValue value) {
    auto it = m_parameters.find(name);
    if (it == m_parameters.end())
        return false;
    it->second = std::move(value);
    return true;
}

const CCommandValue& CCommand::GetParameter(const std::string& name) const {
    auto it = m_parameters.find(name);
    if (it == m_parameters.end())
        throw CCommandBadValueIOException();
    return it->second;
}

void CCommand::DeclareParameter(const std::string& name, CCommandValue defaultValue) {
    m_parameters[name] = std::move(defaultValue);
}
