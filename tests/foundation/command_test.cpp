// Selections, the command registry (class chain, hiding, replacement, listeners, execution, grouping,
// history) and the generic string-set commands.
#include "foundation/command_registry.h"
#include "foundation/composite_command.h"
#include "foundation/exception.h"
#include "foundation/string_set_commands.h"
#include "foundation/string_set_selection.h"
#include "tests/support/catalogues.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char* kKindClass = "CKindOfStringSet";

using Strings = std::vector<std::string>;

// A command that records the values it ran with and reports a chosen outcome.
class ProbeCommand : public CCommand {
public:
    ProbeCommand(std::string name, std::string tag, bool enabled = true, bool outcome = true)
        : m_name(std::move(name)), m_tag(std::move(tag)), m_enabled(enabled), m_outcome(outcome) {
        DeclareParameter("items", CCommandValue(CCommandValue::List{}));
        ++*Alive();
    }
    ProbeCommand(const ProbeCommand& other)
        : CCommand(other), m_name(other.m_name), m_tag(other.m_tag), m_enabled(other.m_enabled),
          m_outcome(other.m_outcome) {
        ++*Alive();
    }
    ~ProbeCommand() override { --*Alive(); }

    bool Execute(CSelection&) override {
        Ran()->push_back(m_tag + ":" + GetParameter("items").ToText());
        if (m_tag == "throws")
            throw std::runtime_error("command failed");
        return m_outcome;
    }
    std::unique_ptr<CCommand> Clone() const override { return std::make_unique<ProbeCommand>(*this); }
    std::string GetName() const override { return m_name; }
    bool IsEnabled(const CSelection&) const override { return m_enabled; }

    static int* Alive() {
        static int alive = 0;
        return &alive;
    }
    static Strings* Ran() {
        static Strings ran;
        return &ran;
    }

private:
    std::string m_name, m_tag;
    bool m_enabled, m_outcome;
};

// Logs the events the registry's listeners receive.
class EventLog : public CTypedListener<CCommandEvent> {
public:
    explicit EventLog(Strings& log) : m_log(log) {}

protected:
    void OnEvent(const CCommandEvent& event) override {
        std::string phase = event.GetPhase() == CCommandEvent::Phase::Before ? "before" : "after";
        if (event.GetPhase() == CCommandEvent::Phase::After)
            phase += event.GetOutcome() ? ":ok" : ":failed";
        m_log.push_back(phase + ":" + event.GetCommand().GetName() + "@" + event.GetSelection().GetName());
    }

private:
    Strings& m_log;
};

class CommandRegistryTest : public CataloguesInstalled {
protected:
    void SetUp() override {
        CataloguesInstalled::SetUp();
        ProbeCommand::Ran()->clear();
        registry.RegisterSelectionClass(kKindClass, CStringSetSelection::kClassID);
        plain.SetCollection({"a", "b", "c"});
        kind.SetCollection({"x", "y"});
    }

    CCommandRegistry registry;
    CStringSetSelection plain{"plain"};
    CStringSetSelection kind{"kind", kKindClass};
};

} // namespace

TEST_F(CommandRegistryTest, DuplicateSelectionClassRaisesInUse) {
    try {
        registry.RegisterSelectionClass(kKindClass, kGenericSelectionClass);
        FAIL() << "a known identifier must be refused";
    } catch (const CSelectionIDExists& e) {
        EXPECT_STREQ(e.GetCode(), "EINUSE");
        EXPECT_EQ(e.GetID(), kKindClass);
        EXPECT_EQ(e.GetText(), "Already in use");
    }
    EXPECT_THROW(registry.RegisterSelectionClass(kGenericSelectionClass, ""), CSelectionIDExists);
    EXPECT_THROW(registry.RegisterSelectionClass(CStringSetSelection::kClassID, ""), CSelectionIDExists);
    EXPECT_EQ(registry.GetClassChain(kKindClass),
              (Strings{kKindClass, CStringSetSelection::kClassID, kGenericSelectionClass}));
}

TEST_F(CommandRegistryTest, ClassChainWalkStopsOnACycle) {
    registry.RegisterSelectionClass("p", "q"); // q named before it exists
    registry.RegisterSelectionClass("q", "p");
    EXPECT_LE(registry.GetClassChain("p").size(), 6u);
    CStringSetSelection looped("loop", "p");
    EXPECT_EQ(registry.FindCommand(looped, "nothing"), nullptr);
}

TEST_F(CommandRegistryTest, LookupWalksTheChainAndKindsHideTheirParents) {
    // The generic string-set command is found for a kind of string set.
    const CCommand* inherited = registry.FindCommand(kind, CSelectAllCommand::kName);
    ASSERT_NE(inherited, nullptr);
    EXPECT_EQ(inherited, registry.FindCommand(plain, CSelectAllCommand::kName));

    // One of the same name for the kind hides it for the kind only.
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>(CSelectAllCommand::kName, "kind"));
    const CCommand* hiding = registry.FindCommand(kind, CSelectAllCommand::kName);
    EXPECT_NE(hiding, inherited);
    EXPECT_EQ(registry.FindCommand(plain, CSelectAllCommand::kName), inherited);
    EXPECT_TRUE(registry.Execute(kind, CSelectAllCommand::kName));
    EXPECT_EQ(*ProbeCommand::Ran(), (Strings{"kind:[]"}));
    EXPECT_TRUE(kind.IsEmpty()) << "the hidden command did not run";

    // A command registered for "generic" reaches every selection, and unknown names find nothing.
    registry.RegisterCommand(kGenericSelectionClass, std::make_unique<ProbeCommand>("everywhere", "g"));
    EXPECT_NE(registry.FindCommand(kind, "everywhere"), nullptr);
    CStringSetSelection unregistered("u", "NeverRegistered");
    EXPECT_NE(registry.FindCommand(unregistered, "everywhere"), nullptr);
    EXPECT_EQ(registry.FindCommand(kind, "nothing"), nullptr);
    EXPECT_FALSE(registry.Execute(kind, "nothing"));
    EXPECT_FALSE(registry.IsEnabled(kind, "nothing"));
}

TEST_F(CommandRegistryTest, ReRegistrationReplacesAndDestroysTheOldPrototype) {
    int before = *ProbeCommand::Alive();
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("probe", "first"));
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("probe", "second"));
    EXPECT_EQ(*ProbeCommand::Alive(), before + 1) << "the first prototype is destroyed";
    EXPECT_TRUE(registry.Execute(kind, "probe"));
    EXPECT_EQ(*ProbeCommand::Ran(), (Strings{"second:[]"}));
    EXPECT_TRUE(registry.UnregisterCommand(kKindClass, "probe"));
    EXPECT_EQ(*ProbeCommand::Alive(), before + 1) << "only the executed instance, kept in the history";
    registry.ClearHistory("kind");
    EXPECT_EQ(*ProbeCommand::Alive(), before);
    EXPECT_FALSE(registry.UnregisterCommand(kKindClass, "probe"));
}

TEST_F(CommandRegistryTest, EachExecutionRunsAFreshInstanceWithTheCallersParameters) {
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("add", "add"));
    CCommandValue items(CCommandValue::List{"C:\\1.jpg", "2.jpg"});
    EXPECT_TRUE(registry.Execute(kind, "add", {{"items", items}}));
    EXPECT_TRUE(registry.Execute(kind, "add"));
    EXPECT_EQ(*ProbeCommand::Ran(), (Strings{"add:" + items.ToText(), "add:[]"}))
        << "the prototype keeps its defaults";
    EXPECT_FALSE(registry.Execute(kind, "add", {{"undeclared", items}}));
    EXPECT_EQ(ProbeCommand::Ran()->size(), 2u) << "a parameter the command does not declare fails it";
}

TEST_F(CommandRegistryTest, ListenersHearBeforeAndAfterWithTheOutcome) {
    Strings log;
    registry.GetBeforeExecutionListeners().AddListener(std::make_unique<EventLog>(log));
    registry.GetAfterExecutionListeners().AddListener(std::make_unique<EventLog>(log));
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("off", "off", false));
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("refuses", "refuses", true, false));
    registry.RegisterCommand(kKindClass, std::make_unique<ProbeCommand>("boom", "throws"));

    EXPECT_TRUE(registry.Execute(kind, CSelectAllCommand::kName));
    EXPECT_FALSE(registry.Execute(kind, "off"));
    EXPECT_FALSE(registry.Execute(kind, "refuses"));
    EXPECT_THROW(registry.Execute(kind, "boom"), std::runtime_error);
    EXPECT_FALSE(registry.Execute(kind, "missing"));
    EXPECT_EQ(log, (Strings{
                       "before:selectAll@kind", "after:ok:selectAll@kind", // ran
                       "before:off@kind", "after:failed:off@kind",         // not enabled: not run
                       "before:refuses@kind", "after:failed:refuses@kind", // ran and failed
                       "before:boom@kind", "after:failed:boom@kind",       // threw
                   }));
    EXPECT_EQ(*ProbeCommand::Ran(), (Strings{"refuses:[]", "throws:[]"}));
}

TEST_F(CommandRegistryTest, GenericCommandsFollowTheirEnabledRules) {
    // "deselectAll" and "removeSelected" need something selected.
    EXPECT_TRUE(registry.IsEnabled(plain, CSelectAllCommand::kName));
    EXPECT_FALSE(registry.IsEnabled(plain, CDeselectAllCommand::kName));
    EXPECT_FALSE(registry.IsEnabled(plain, CRemoveSelectedCommand::kName));
    EXPECT_FALSE(registry.Execute(plain, CDeselectAllCommand::kName)) << "not enabled counts as failed";

    EXPECT_TRUE(registry.Execute(plain, CSelectAllCommand::kName));
    EXPECT_EQ(plain.GetElements(), (Strings{"a", "b", "c"}));
    EXPECT_TRUE(registry.IsEnabled(plain, CDeselectAllCommand::kName));
    EXPECT_TRUE(registry.Execute(plain, CDeselectAllCommand::kName));
    EXPECT_TRUE(plain.IsEmpty());

    plain.Select("b");
    EXPECT_TRUE(registry.Execute(plain, CRemoveSelectedCommand::kName));
    EXPECT_EQ(plain.GetCollection(), (Strings{"a", "c"}));
    EXPECT_TRUE(plain.IsEmpty());

    CStringSetSelection empty("empty");
    EXPECT_TRUE(registry.Execute(empty, CSelectAllCommand::kName)) << "an empty collection still succeeds";
    EXPECT_TRUE(empty.IsEmpty());
}

// A concrete selection supplies its own collection and its own removal, as the upload list does.
TEST_F(CommandRegistryTest, RemoveSelectedCallsTheConcreteSelection) {
    class Queue : public CStringSetSelection {
    public:
        Queue() : CStringSetSelection("queue", kKindClass) {}
        std::vector<std::string> GetCollection() const override { return {"p1", "p2", "p3"}; }
        void RemoveSelected() override {
            removed = GetElements();
            Clear();
        }
        Strings removed;
    } queue;
    EXPECT_TRUE(registry.Execute(queue, CSelectAllCommand::kName));
    queue.Deselect("p2");
    EXPECT_TRUE(registry.Execute(queue, CRemoveSelectedCommand::kName));
    EXPECT_EQ(queue.removed, (Strings{"p1", "p3"}));
}

TEST_F(CommandRegistryTest, GroupsNestIntoOneHistoryEntryPerSelection) {
    registry.Execute(plain, CSelectAllCommand::kName);
    registry.BeginGroup("outer");
    registry.Execute(plain, CDeselectAllCommand::kName);
    registry.BeginGroup("inner"); // the outermost name wins
    registry.Execute(plain, CSelectAllCommand::kName);
    registry.Execute(kind, CSelectAllCommand::kName);
    registry.EndGroup();
    EXPECT_EQ(registry.GetHistory("plain"), (Strings{"selectAll"})) << "nothing recorded before the end";
    registry.Execute(plain, CDeselectAllCommand::kName);
    registry.Execute(plain, CDeselectAllCommand::kName); // not enabled: not recorded
    registry.EndGroup();
    registry.EndGroup(); // unbalanced: ignored
    EXPECT_EQ(registry.GetHistory("plain"), (Strings{"selectAll", "outer"}));
    EXPECT_EQ(registry.GetHistory("kind"), (Strings{"outer"}));
    registry.ClearHistory("plain");
    EXPECT_TRUE(registry.GetHistory("plain").empty());
}

TEST_F(CommandRegistryTest, HistoryKeepsTheNewestEntries) {
    for (size_t i = 0; i < CCommandRegistry::kMaxHistory + 5; ++i)
        ASSERT_TRUE(registry.Execute(plain, CSelectAllCommand::kName));
    EXPECT_EQ(registry.GetHistory("plain").size(), CCommandRegistry::kMaxHistory);
}

TEST(CompositeCommand, RunsEveryPartAndClonesDeeply) {
    CStringSetSelection selection("s");
    selection.SetCollection({"a"});
    CCompositeCommand group("g");
    EXPECT_FALSE(group.IsEnabled(selection)) << "an empty group does nothing";
    group.Add(std::make_unique<CDeselectAllCommand>());
    group.Add(std::make_unique<CSelectAllCommand>());
    std::unique_ptr<CCommand> copy = group.Clone();
    EXPECT_TRUE(copy->Execute(selection));
    EXPECT_EQ(copy->GetName(), "g");
    EXPECT_EQ(selection.GetElements(), (Strings{"a"}));
    EXPECT_EQ(static_cast<CCompositeCommand&>(*copy).GetCount(), 2u);
}

TEST(StringSetSelection, KeepsOnlyElementsOfItsCollection) {
    CStringSetSelection selection("s");
    EXPECT_EQ(selection.GetClassID(), CStringSetSelection::kClassID);
    EXPECT_EQ(selection.GetName(), "s");
    selection.SetCollection({"a", "b"});
    selection.Select("a");
    selection.Select("b");
    selection.Select("a");
    EXPECT_EQ(selection.GetCount(), 2u);
    selection.Deselect("b");
    EXPECT_FALSE(selection.Contains("b"));
    selection.Select("b");
    selection.SetCollection({"b"});
    EXPECT_EQ(selection.GetElements(), (Strings{"b"})) << "an element that left the collection is deselected";
}

TEST(CommandRegistryProcess, TheProcessRegistryHasTheGenericCommands) {
    CStringSetSelection selection("s");
    EXPECT_NE(CCommandRegistry::Get().FindCommand(selection, CSelectAllCommand::kName), nullptr);
    EXPECT_NE(CCommandRegistry::Get().FindCommand(selection, CDeselectAllCommand::kName), nullptr);
    EXPECT_NE(CCommandRegistry::Get().FindCommand(selection, CRemoveSelectedCommand::kName), nullptr);
    EXPECT_TRUE(CCommandRegistry::Get().IsSelectionClass(kGenericSelectionClass));
}
