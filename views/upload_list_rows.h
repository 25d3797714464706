// The rows the upload list shows, copied from the queue on the UI thread: one per queued picture with
// what its cells need, and the display order the column set's sort keys give. A refresh does nothing
// unless the queue reports a change, so the once-a-second tick of an idle list costs nothing.
#pragma once

#include "views/upload_list_columns.h"

#include <cstdint>
#include <string>
#include <vector>

class UploadQueue;

struct UploadListRow {
    std::string path; // the queue's key
    std::string name; // file name
    uint64_t size = 0;
    int state = 0;         // kUploadState...
    double fraction = 0.0; // 0 to 1
};

class CUploadListRows {
public:
    // Copies the queue's pictures when it reports a change (or when `force`), then re-sorts. Returns
    // whether the rows changed.
    bool Refresh(UploadQueue& queue, const CUploadListColumns& columns, bool force = false);
    // After the sort keys changed.
    void Resort(const CUploadListColumns& columns);

    size_t Count() const { return m_order.size(); }
    bool Empty() const { return m_order.empty(); }
    // The row at display position `index` (0 to Count() - 1).
    const UploadListRow& At(size_t index) const { return m_rows[m_order[index]]; }
    // The display position of the row for `path`, or -1.
    int PositionOf(const std::string& path) const;

private:
    std::vector<UploadListRow> m_rows; // in the queue's order
    std::vector<size_t> m_order;       // indexes into m_rows, in display order
};
