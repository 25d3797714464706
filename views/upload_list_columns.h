// The upload list's three columns (Picture, Size, Status): their widths, each one's sort direction,
// the sort order of up to three keys, the comparison of rows it gives, and how the whole column state
// is kept in the preferences document between sessions.
#pragma once

#include "foundation/preferences.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

constexpr int kUploadListColumnCount = 3;

// What a row is sorted by.
struct UploadListRowKey {
    std::string_view name; // the file name
    uint64_t size = 0;     // bytes
    int state = 0;         // kUploadState...
};

class CUploadListColumns {
public:
    CUploadListColumns(); // default widths, every column ascending, no sort

    int Width(UploadListColumn column) const { return m_widths[Index(column)]; }
    void SetWidth(UploadListColumn column, int width);
    bool Ascending(UploadListColumn column) const { return m_ascending[Index(column)]; }

    // The sorted columns, first key first.
    const std::vector<UploadListColumn>& SortOrder() const { return m_order; }
    // The column's position in the sort order, or -1.
    int SortPosition(UploadListColumn column) const;

    // A released click on a column title: the column becomes the first key keeping its direction, or,
    // already first, reverses it; the other keys keep their order behind it.
    void ClickTitle(UploadListColumn column);

    // Whether row a comes before row b: the first key on which they differ decides, in its direction.
    bool Less(const UploadListRowKey& a, const UploadListRowKey& b) const;
    // Indexes of `rows` in display order; rows that tie on every key keep their order.
    std::vector<size_t> SortedIndexes(const std::vector<UploadListRowKey>& rows) const;

    // Reads "<column>Order" and "<column>Width": an order of 0, a missing one or one outside -3..3
    // leaves the column unsorted, and a position that an earlier column took is not taken again. A
    // missing or negative width keeps the default.
    void Read(const CNameValueDocument& document);
    // Writes both values for every column: 1 + the sort position, negated for a descending sort, or 0.
    void Write(CNameValueDocument& document) const;

    static int Index(UploadListColumn column) { return static_cast<int>(column); }
    static UploadListColumn ColumnAt(int index) { return static_cast<UploadListColumn>(index); }

private:
    std::array<int, kUploadListColumnCount> m_widths;
    std::array<bool, kUploadListColumnCount> m_ascending;
    std::vector<UploadListColumn> m_order;
};

// The rank a state sorts by: in progress or waiting, then failed, then complete, then anything else.
int UploadStateSortRank(int state);
// File names upper-cased character by character; a shorter prefix comes first.
bool UploadNameLess(std::string_view a, std::string_view b);
