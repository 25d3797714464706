// The process's command registry: the chain of selection classes, and for each (selection class,
// command name) one prototype command. A command is found for a selection under the selection's own
// class first, then under each parent kind up to "generic", so a kind may hide a command of its parent
// by registering one of the same name. Execution makes a fresh instance of the prototype with the
// caller's parameter values, tells the before-execution listeners, runs the instance when its enabled
// test passes, and tells the after-execution listeners the outcome. Successful executions are kept as
// a history per named selection; those made within a group become one composite entry.
//
// Threads: commands run on the user-interface thread. m_lock (recursive) guards the class chain, the
// prototypes, the histories and the group state; it is not held while a command or a listener runs.
// A prototype returned by FindCommand is borrowed until it is replaced.
#pragma once

#include "foundation/command.h"
#include "foundation/listener_list.h"
#include "foundation/mutex.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CCompositeCommand;
class CSelection;

// What the execution listeners receive. `outcome` is meaningful in the After phase only.
class CCommandEvent : public CListenerEvent {
public:
    enum class Phase { Before, After };

    CCommandEvent(Phase phase, CSelection& selection, const CCommand& command, bool outcome)
        : m_phase(phase), m_selection(selection), m_command(command), m_outcome(outcome) {}

    Phase GetPhase() const { return m_phase; }
    CSelection& GetSelection() const { return m_selection; }
    const CCommand& GetCommand() const { return m_command; }
    bool GetOutcome() const { return m_outcome; }

private:
    Phase m_phase;
    CSelection& m_selection;
    const CCommand& m_command;
    bool m_outcome;
};

class CCommandRegistry {
public:
    using Parameters = CCommand::Parameters;

    // History entries kept per selection; the oldest go first.
    static constexpr size_t kMaxHistory = 100;

    // A registry with "generic", CStringSetSelection and the generic string-set commands.
    CCommandRegistry();
    ~CCommandRegistry();
    CCommandRegistry(const CCommandRegistry&) = delete;
    CCommandRegistry& operator=(const CCommandRegistry&) = delete;

    // The process's registry, made on first use.
    static CCommandRegistry& Get();

    // Raises CSelectionIDExists when the identifier is known. The parent "" makes a root.
    void RegisterSelectionClass(const std::string& id, const std::string& parent);
    bool IsSelectionClass(const std::string& id) const;
    // The chain of kinds from `id` up to the root, `id` first.
    std::vector<std::string> GetClassChain(const std::string& id) const;

    // The registry owns the prototype; one registered before under the same class and name is
    // destroyed.
    void RegisterCommand(const std::string& classId, std::unique_ptr<CCommand> prototype);
    bool UnregisterCommand(const std::string& classId, const std::string& name);

    const CCommand* FindCommand(const CSelection& selection, const std::string& name) const;

    // The command's success flag; false when no command is found, a parameter is not declared by the
    // command, or the command is not enabled. An exception from the command reaches the caller after
    // the after-execution listeners heard of a failure.
    bool Execute(CSelection& selection, const std::string& name, const Parameters& parameters = {});
    bool IsEnabled(const CSelection& selection, const std::string& name) const;

    CListenerList& GetBeforeExecutionListeners() { return m_before; }
    CListenerList& GetAfterExecutionListeners() { return m_after; }

    // Groups nest; the commands executed until the outermost EndGroup form one history entry per
    // selection, named by the outermost BeginGroup. An EndGroup without a BeginGroup is ignored.
    void BeginGroup(const std::string& name);
    void EndGroup();

    // The names of a selection's history entries, oldest first.
    std::vector<std::string> GetHistory(const std::string& selectionName) const;
    void ClearHistory(const std::string& selectionName);

private:
    const CCommand* FindLocked(const std::string& classId, const std::string& name) const;
    void RecordLocked(const std::string& selectionName, std::unique_ptr<CCommand> command);

    mutable CMutex m_lock;
    std::map<std::string, std::string> m_classes; // identifier -> parent ("" for a root)
    std::map<std::pair<std::string, std::string>, std::unique_ptr<CCommand>> m_prototypes;
    std::map<std::string, std::deque<std::unique_ptr<CCommand>>> m_history;
    int m_groupDepth = 0;
    std::string m_groupName;
    std::map<std::string, std::unique_ptr<CCompositeCommand>> m_groups; // per selection, while grouping

    CListenerList m_before;
    CListenerList m_after;
};
