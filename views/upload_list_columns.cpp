#include "views/upload_list_columns.h"

#include "views/upload_list_texts.h"

#include <algorithm>
#include <cctype>
#include <numeric>

namespace {

constexpr int kDefaultWidths[kUploadListColumnCount] = {130, 48, 160};

bool KeyLess(UploadListColumn column, const UploadListRowKey& a, const UploadListRowKey& b) {
    switch (column) {
    case UploadListColumn::Name:
        return UploadNameLess(a.name, b.name);
    case UploadListColumn::Size:
        return a.size < b.size;
    case UploadListColumn::Status:
        return UploadStateSortRank(a.state) < UploadStateSortRank(b.state);
    }
    return false;
}

} // namespace

int UploadStateSortRank(int state) {
    switch (state) {
    case kUploadStateActive:
        return 0;
    case kUploadStateFailed:
        return 1;
    case kUploadStateComplete:
        return 2;
    default:
        return 3;
    }
}

bool UploadNameLess(std::string_view a, std::string_view b) {
    const size_t n = (std::min)(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::toupper(static_cast<unsigned char>(a[i]));
        const int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

CUploadListColumns::CUploadListColumns() {
    std::copy(std::begin(kDefaultWidths), std::end(kDefaultWidths), m_widths.begin());
    m_ascending.fill(true);
}

void CUploadListColumns::SetWidth(UploadListColumn column, int width) {
    m_widths[Index(column)] = (std::max)(0, width);
}

int CUploadListColumns::SortPosition(UploadListColumn column) const {
    auto it = std::find(m_order.begin(), m_order.end(), column);
    return it == m_order.end() ? -1 : static_cast<int>(it - m_order.begin());
}

void CUploadListColumns::ClickTitle(UploadListColumn column) {
    const int position = SortPosition(column);
    if (position == 0) {
        m_ascending[Index(column)] = !m_ascending[Index(column)];
        return;
    }
    if (position > 0)
        m_order.erase(m_order.begin() + position);
    m_order.insert(m_order.begin(), column);
}

bool CUploadListColumns::Less(const UploadListRowKey& a, const UploadListRowKey& b) const {
    for (UploadListColumn column : m_order) {
        const bool ab = KeyLess(column, a, b);
        const bool ba = KeyLess(column, b, a);
        if (ab != ba)
            return m_ascending[Index(column)] ? ab : ba;
    }
    return false;
}

std::vector<size_t> CUploadListColumns::SortedIndexes(const std::vector<UploadListRowKey>& rows) const {
    std::vector<size_t> indexes(rows.size());
    std::iota(indexes.begin(), indexes.end(), size_t{0});
    if (!m_order.empty())
        std::stable_sort(indexes.begin(), indexes.end(),
                         [&](size_t a, size_t b) { return Less(rows[a], rows[b]); });
    return indexes;
}

void CUploadListColumns::Read(const CNameValueDocument& document) {
    // Slots by position, so that the columns come out in the stored order whatever the columns' order.
    std::array<int, kUploadListColumnCount> slots;
    slots.fill(-1);
    for (int i = 0; i < kUploadListColumnCount; ++i) {
        const UploadListColumn column = ColumnAt(i);
        const int width = GetColumnWidth(document, column);
        if (width >= 0)
            m_widths[i] = width;
        const int order = GetColumnOrder(document, column);
        if (order == 0 || order < -kUploadListColumnCount || order > kUploadListColumnCount)
            continue;
        const int position = (order < 0 ? -order : order) - 1;
        if (slots[position] >= 0)
            continue;
        slots[position] = i;
        m_ascending[i] = order > 0;
    }
    m_order.clear();
    for (int slot : slots) {
        if (slot >= 0)
            m_order.push_back(ColumnAt(slot));
    }
}

void CUploadListColumns::Write(CNameValueDocument& document) const {
    for (int i = 0; i < kUploadListColumnCount; ++i) {
        const UploadListColumn column = ColumnAt(i);
        const int position = SortPosition(column);
        int order = 0;
        if (position >= 0)
            order = m_ascending[i] ? position + 1 : -(position + 1);
        SetColumnOrder(document, column, order);
        SetColumnWidth(document, column, m_widths[i]);
    }
}
