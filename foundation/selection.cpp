#include "foundation/selection.h"

CSelection::CSelection(std::string classId, std::string name)
    : m_classId(std::move(classId)), m_name(std::move(name)) {}

CSelection::~CSelection() = default;
