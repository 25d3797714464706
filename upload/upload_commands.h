// The commands of the upload selection: "add" (pictures by path, given in the parameter "items"),
// "cancelSelected", "pause" and "resume". On any other kind of selection none is enabled.
#pragma once

#include "foundation/command.h"

class CCommandRegistry;

// Pauses the queue, adds every item that is a picture (shortcuts resolved, folders and other files
// skipped; a queued path is kept as it is) and selects it, then resumes. Enabled when at least one
// item is a picture.
class CUploadAddCommand : public CCommand {
public:
    static constexpr const char* kName = "add";
    static constexpr const char* kItems = "items";
    CUploadAddCommand();
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// The selection's remove-selected operation; enabled when the selection is not empty.
class CUploadCancelSelectedCommand : public CCommand {
public:
    static constexpr const char* kName = "cancelSelected";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Pauses the queue; enabled when it is not paused.
class CUploadPauseCommand : public CCommand {
public:
    static constexpr const char* kName = "pause";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Resumes the queue; enabled when it is paused.
class CUploadResumeCommand : public CCommand {
public:
    static constexpr const char* kName = "resume";
    bool Execute(CSelection& selection) override;
    std::unique_ptr<CCommand> Clone() const override;
    std::string GetName() const override { return kName; }
    bool IsEnabled(const CSelection& selection) const override;
};

// Registers the selection class CUploadSelection (a kind of CStringSetSelection), unless it is known,
// and the four commands for it.
void RegisterUploadCommands(CCommandRegistry& registry);
