#include "upload/upload_selection.h"

#include "foundation/lock.h"
#include "upload/upload_queue.h"

CUploadSelection::CUploadSelection(std::string name, UploadQueue& queue)
    : CStringSetSelection(std::move(name), kClassID), d_queue(queue) {}

std::vector<std::string> CUploadSelection::GetCollection() const {
    return d_queue.GetDisplayOrder();
}

void CUploadSelection::RemoveSelected() {
    std::vector<std::string> selected;
    {
        CLock lock(GetLock());
        selected = GetElements();
        Clear();
    }
    // The selection's lock is not held while a transfer is stopped.
    for (const std::string& path : selected)
        d_queue.Remove(path);
}
