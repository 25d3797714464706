#include "views/upload_list_rows.h"

#include "upload/upload_queue.h"

bool CUploadListRows::Refresh(UploadQueue& queue, const CUploadListColumns& columns, bool force) {
    // Taken first, so that a change made while copying is seen by the next refresh.
    const bool changed = queue.TakeChanges();
    if (!changed && !force)
        return false;
    std::vector<UploadListRow> rows;
    const std::vector<std::string> paths = queue.GetDisplayOrder();
    rows.reserve(paths.size());
    for (const std::string& path : paths) {
        // A picture removed between the two calls is simply not shown.
        std::shared_ptr<UploadJob> job = queue.Find(path);
        if (!job)
            continue;
        const UploadJob::Snapshot snapshot = job->GetSnapshot();
        UploadListRow row;
        row.path = path;
        row.name = job->GetFileName();
        row.size = snapshot.size;
        row.state = static_cast<int>(snapshot.status);
        row.fraction = job->GetFractionDone();
        rows.push_back(std::move(row));
    }
    m_rows = std::move(rows);
    Resort(columns);
    return true;
}

void CUploadListRows::Resort(const CUploadListColumns& columns) {
    std::vector<UploadListRowKey> keys;
    keys.reserve(m_rows.size());
    for (const UploadListRow& row : m_rows)
        keys.push_back({row.name, row.size, row.state});
    m_order = columns.SortedIndexes(keys);
}

int CUploadListRows::PositionOf(const std::string& path) const {
    for (size_t i = 0; i < m_order.size(); ++i) {
        if (m_rows[m_order[i]].path == path)
            return static_cast<int>(i);
    }
    return -1;
}
