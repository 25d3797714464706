// The selection of the upload list: paths of pictures chosen from the upload queue. Its collection is
// the queue's display order, and removing the selected pictures takes them out of the queue (their
// transfers stop).
//
// Threads: as CStringSetSelection; the queue is borrowed and outlives the selection.
#pragma once

#include "foundation/string_set_selection.h"

class UploadQueue;

class CUploadSelection : public CStringSetSelection {
public:
    static constexpr const char* kClassID = "CUploadSelection";

    CUploadSelection(std::string name, UploadQueue& queue);

    std::vector<std::string> GetCollection() const override;
    void RemoveSelected() override;

    UploadQueue& GetQueue() const { return d_queue; }

private:
    UploadQueue& d_queue;
};
