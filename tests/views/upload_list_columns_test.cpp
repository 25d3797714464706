#include "views/upload_list_columns.h"

#include "views/upload_list_texts.h"

#include <gtest/gtest.h>

namespace {

using Col = UploadListColumn;

std::vector<UploadListRowKey> Rows() {
    return {
        {"b.jpg", 300, kUploadStateComplete}, // 0
        {"A.jpg", 100, kUploadStateActive},   // 1
        {"a.JPG", 200, kUploadStateFailed},   // 2: ties with 1 by name
        {"c.jpg", 100, kUploadStateActive},   // 3: ties with 1 by size and status
    };
}

TEST(UploadListSort, NamesCompareWithoutCaseAndShorterPrefixFirst) {
    EXPECT_TRUE(UploadNameLess("abc", "ABD"));
    EXPECT_FALSE(UploadNameLess("ABD", "abc"));
    EXPECT_TRUE(UploadNameLess("ab", "abc"));
    EXPECT_FALSE(UploadNameLess("abc", "ab"));
    EXPECT_FALSE(UploadNameLess("Abc", "aBC"));
    EXPECT_FALSE(UploadNameLess("aBC", "Abc"));
    EXPECT_TRUE(UploadNameLess("a", "_")); // upper-cased first: 'A' (65) before '_' (95)
}

TEST(UploadListSort, StatusRanksActiveThenFailedThenComplete) {
    EXPECT_LT(UploadStateSortRank(kUploadStateActive), UploadStateSortRank(kUploadStateFailed));
    EXPECT_LT(UploadStateSortRank(kUploadStateFailed), UploadStateSortRank(kUploadStateComplete));
}

TEST(UploadListSort, WithoutKeysRowsKeepTheirOrder) {
    CUploadListColumns columns;
    EXPECT_EQ(columns.SortedIndexes(Rows()), (std::vector<size_t>{0, 1, 2, 3}));
}

TEST(UploadListSort, KeysDecideInPriorityAndTiesKeepTheirOrder) {
    CUploadListColumns columns;
    columns.ClickTitle(Col::Name);
    // 1 and 2 tie by name: their original order stays.
    EXPECT_EQ(columns.SortedIndexes(Rows()), (std::vector<size_t>{1, 2, 0, 3}));
    columns.ClickTitle(Col::Size); // size first, name behind it
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Size, Col::Name}));
    EXPECT_EQ(columns.SortedIndexes(Rows()), (std::vector<size_t>{1, 3, 2, 0}));
    columns.ClickTitle(Col::Size); // already first: reversed; the name key still ascends
    EXPECT_FALSE(columns.Ascending(Col::Size));
    EXPECT_EQ(columns.SortedIndexes(Rows()), (std::vector<size_t>{0, 2, 1, 3}));
    columns.ClickTitle(Col::Status);
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Status, Col::Size, Col::Name}));
    EXPECT_EQ(columns.SortedIndexes(Rows()), (std::vector<size_t>{1, 3, 2, 0}));
    // Name moves to the front keeping its direction; the others keep their order behind it.
    columns.ClickTitle(Col::Name);
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Name, Col::Status, Col::Size}));
    EXPECT_TRUE(columns.Ascending(Col::Name));
    columns.ClickTitle(Col::Size); // moved to the front, still descending
    EXPECT_FALSE(columns.Ascending(Col::Size));
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Size, Col::Name, Col::Status}));
}

TEST(UploadListSort, EqualRowsAreNeverLessEitherWay) {
    CUploadListColumns columns;
    columns.ClickTitle(Col::Status);
    columns.ClickTitle(Col::Status); // descending
    const UploadListRowKey a{"x", 1, kUploadStateActive}, b{"y", 2, kUploadStateActive};
    EXPECT_FALSE(columns.Less(a, b));
    EXPECT_FALSE(columns.Less(b, a));
}

class UploadListColumnState : public ::testing::Test {
protected:
    void Store(const char* name, const char* text) { ASSERT_TRUE(document.SetValue(name, text)); }
    CNameValueDocument document;
    CUploadListColumns columns;
};

TEST_F(UploadListColumnState, MinusOneForSizeSortsBySizeDescendingFirst) {
    Store("columns/sizeOrder", "-1");
    columns.Read(document);
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Size}));
    EXPECT_FALSE(columns.Ascending(Col::Size));
    EXPECT_EQ(columns.SortedIndexes(Rows()).front(), 0u); // the largest
}

TEST_F(UploadListColumnState, PositionsComeInStoredOrderAndAreNotTakenTwice) {
    Store("columns/nameOrder", "2");
    Store("columns/sizeOrder", "-2"); // taken by name
    Store("columns/statusOrder", "1");
    columns.Read(document);
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Status, Col::Name}));
    EXPECT_TRUE(columns.Ascending(Col::Size)); // left out entirely, direction too
}

TEST_F(UploadListColumnState, ZeroMissingAndOutOfRangeLeaveAColumnUnsorted) {
    for (const char* text : {"0", "4", "-4", "99", "x", ""}) {
        CNameValueDocument d;
        ASSERT_TRUE(d.SetValue("columns/nameOrder", text) || std::string(text).empty());
        CUploadListColumns c;
        c.Read(d);
        EXPECT_TRUE(c.SortOrder().empty()) << text;
    }
    columns.Read(document); // nothing stored at all
    EXPECT_TRUE(columns.SortOrder().empty());
    EXPECT_EQ(columns.Width(Col::Name), 130);
    EXPECT_EQ(columns.Width(Col::Size), 48);
    EXPECT_EQ(columns.Width(Col::Status), 160);
}

TEST_F(UploadListColumnState, AGapInPositionsCloses) {
    Store("columns/nameOrder", "3");
    Store("columns/sizeOrder", "1");
    columns.Read(document);
    EXPECT_EQ(columns.SortOrder(), (std::vector<Col>{Col::Size, Col::Name}));
}

TEST_F(UploadListColumnState, WidthsAreReadAndANegativeOneKeepsTheDefault) {
    Store("columns/nameWidth", "210");
    Store("columns/statusWidth", "-5");
    columns.Read(document);
    EXPECT_EQ(columns.Width(Col::Name), 210);
    EXPECT_EQ(columns.Width(Col::Status), 160);
}

TEST_F(UploadListColumnState, WrittenStateReadsBackTheSame) {
    columns.ClickTitle(Col::Name);
    columns.ClickTitle(Col::Status);
    columns.ClickTitle(Col::Status); // descending, first
    columns.SetWidth(Col::Size, 77);
    columns.Write(document);
    EXPECT_EQ(GetColumnOrder(document, Col::Status), -1);
    EXPECT_EQ(GetColumnOrder(document, Col::Name), 2);
    EXPECT_EQ(GetColumnOrder(document, Col::Size), 0);
    EXPECT_EQ(GetColumnWidth(document, Col::Size), 77);
    CUploadListColumns read;
    read.Read(document);
    EXPECT_EQ(read.SortOrder(), columns.SortOrder());
    EXPECT_FALSE(read.Ascending(Col::Status));
    EXPECT_TRUE(read.Ascending(Col::Name));
    EXPECT_EQ(read.Width(Col::Size), 77);
}

} // namespace
