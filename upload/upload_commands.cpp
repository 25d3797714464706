#include "upload/upload_commands.h"

#include "foundation/command_registry.h"
#include "foundation/lock.h"
#include "foundation/path.h"
#include "foundation/string_set_selection.h"
#include "upload/upload_queue.h"
#include "upload/upload_selection.h"

#include <algorithm>

namespace {

CUploadSelection* AsUpload(CSelection& selection) {
    return dynamic_cast<CUploadSelection*>(&selection);
}

const CUploadSelection* AsUpload(const CSelection& selection) {
    return dynamic_cast<const CUploadSelection*>(&selection);
}

// The items as paths; a text on its own counts as a list of one.
std::vector<std::string> ItemPaths(const CCommandValue& items) {
    std::vector<std::string> paths;
    if (items.IsText()) {
        if (!items.GetText().empty())
            paths.push_back(items.GetText());
    } else if (items.IsList()) {
        for (const CCommandValue& item : items.GetList())
            if (item.IsText())
                paths.push_back(item.GetText());
    }
    return paths;
}

} // namespace

CUploadAddCommand::CUploadAddCommand() {
    DeclareParameter(kItems, CCommandValue(CCommandValue::List{}));
}

bool CUploadAddCommand::Execute(CSelection& selection) {
    CUploadSelection* upload = AsUpload(selection);
    if (upload == nullptr)
        return false;
    UploadQueue& queue = upload->GetQueue();
    queue.Pause();
    try {
        for (const std::string& path : ItemPaths(GetParameter(kItems))) {
            std::string resolved = ResolveShortcuts(path);
            if (!queue.IsAcceptedPicture(resolved))
                continue;
            std::string key = queue.Add(resolved, "");
            CLock lock(upload->GetLock());
            upload->Select(key);
        }
    } catch (...) {
        queue.Resume();
        throw;
    }
    queue.Resume();
    return true;
}

std::unique_ptr<CCommand> CUploadAddCommand::Clone() const {
    return std::make_unique<CUploadAddCommand>(*this);
}

bool CUploadAddCommand::IsEnabled(const CSelection& selection) const {
    if (AsUpload(selection) == nullptr)
        return false;
    const UploadQueue& queue = AsUpload(selection)->GetQueue();
    std::vector<std::string> paths = ItemPaths(GetParameter(kItems));
    return std::any_of(paths.begin(), paths.end(), [&queue](const std::string& path) {
        return queue.IsAcceptedPicture(ResolveShortcuts(path));
    });
}

bool CUploadCancelSelectedCommand::Execute(CSelection& selection) {
    CUploadSelection* upload = AsUpload(selection);
    if (upload == nullptr)
        return false;
    upload->RemoveSelected();
    return true;
}

std::unique_ptr<CCommand> CUploadCancelSelectedCommand::Clone() const {
    return std::make_unique<CUploadCancelSelectedCommand>(*this);
}

bool CUploadCancelSelectedCommand::IsEnabled(const CSelection& selection) const {
    const CUploadSelection* upload = AsUpload(selection);
    return upload != nullptr && !upload->IsEmpty();
}

bool CUploadPauseCommand::Execute(CSelection& selection) {
    CUploadSelection* upload = AsUpload(selection);
    if (upload == nullptr)
        return false;
    upload->GetQueue().Pause();
    return true;
}

std::unique_ptr<CCommand> CUploadPauseCommand::Clone() const {
    return std::make_unique<CUploadPauseCommand>(*this);
}

bool CUploadPauseCommand::IsEnabled(const CSelection& selection) const {
    const CUploadSelection* upload = AsUpload(selection);
    return upload != nullptr && !upload->GetQueue().IsPaused();
}

bool CUploadResumeCommand::Execute(CSelection& selection) {
    CUploadSelection* upload = AsUpload(selection);
    if (upload == nullptr)
        return false;
    upload->GetQueue().Resume();
    return true;
}

std::unique_ptr<CCommand> CUploadResumeCommand::Clone() const {
    return std::make_unique<CUploadResumeCommand>(*this);
}

bool CUploadResumeCommand::IsEnabled(const CSelection& selection) const {
    const CUploadSelection* upload = AsUpload(selection);
    return upload != nullptr && upload->GetQueue().IsPaused();
}

void RegisterUploadCommands(CCommandRegistry& registry) {
    if (!registry.IsSelectionClass(CUploadSelection::kClassID))
        registry.RegisterSelectionClass(CUploadSelection::kClassID, CStringSetSelection::kClassID);
    registry.RegisterCommand(CUploadSelection::kClassID, std::make_unique<CUploadAddCommand>());
    registry.RegisterCommand(CUploadSelection::kClassID, std::make_unique<CUploadCancelSelectedCommand>());
    registry.RegisterCommand(CUploadSelection::kClassID, std::make_unique<CUploadPauseCommand>());
    registry.RegisterCommand(CUploadSelection::kClassID, std::make_unique<CUploadResumeCommand>());
}
