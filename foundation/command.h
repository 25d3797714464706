// A named user action on a selection. Commands are registered as prototypes; every execution works on
// a fresh instance made by Clone, which carries the parameter values the caller supplies. A command
// declares its parameters (with default values) in its constructor; callers may only set declared
// ones.
//
// Threads: a command instance is used by one thread (the user-interface thread) at a time.
#pragma once

#include "foundation/command_value.h"

#include <map>
#include <memory>
#include <string>

class CSelection;

class CCommand {
public:
    using Parameters = std::map<std::string, CCommandValue>;

    virtual ~CCommand();

    // Runs the command; true on success.
    virtual bool Execute(CSelection& selection) = 0;
    // A new instance with this one's parameter values.
    virtual std::unique_ptr<CCommand> Clone() const = 0;
    virtual std::string GetName() const = 0;
    virtual bool IsEnabled(const CSelection& selection) const = 0;

    bool HasParameter(const std::string& name) const { return m_parameters.contains(name); }
    // False (and nothing set) when the command declares no such parameter.
    bool SetParameter(const std::string& name, CCommandValue value);
    // The parameter's value; CCommandBadValueIOException when it is not declared.
    const CCommandValue& GetParameter(const std::string& name) const;
    const Parameters& GetParameters() const { return m_parameters; }

protected:
    CCommand();
    CCommand(const CCommand&);
    CCommand& operator=(const CCommand&) = delete;

    void DeclareParameter(const std::string& name, CCommandValue defaultValue = {});

private:
    Parameters m_parameters;
};
