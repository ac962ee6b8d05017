#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/RecordFormat.h"

namespace edi {
namespace {

namespace col = format_col;

// One message-item row of the shared builder, its tag the serial.
DbRow ItemRow(int serial, int level, std::string attribute, int length, int decimals = 0, int repeat = 0) {
    return bench::ItemRow(true, {serial, level, serial, 1, std::move(attribute), length, decimals, "0", repeat});
}

TEST(RecordFormatTest, LoadsAnItemAsTheMasterHoldsIt) {
    DbRow row = ItemRow(7, 1, "X ", 12, 2, 3);
    row["項目通番"] = " 7 ";
    row["長さ"] = "12.0";  // decimal column types come back with a fraction
    row["項目名称"] = " 品名　";
    row["マルチ明細番号"] = std::nullopt;
    row.erase("項目位置");
    MemoryRows rows({row});
    RecordFormatItem item;
    ASSERT_TRUE(ItemFromRow(rows, 1, item).Ok());
    EXPECT_EQ(std::vector<int>({item.項目通番, item.対応項目通番, item.レベル番号, item.項目No, item.長さ,
                                item.小数部長さ, item.繰返し数}),
              std::vector<int>({7, 107, 1, 7, 12, 2, 3}));
    // The attribute is not trimmed, the name only of its blanks; a missing column reads as Null.
    EXPECT_EQ(std::vector<std::string>(
                  {item.属性, item.項目名称, item.項目位置, item.マルチ明細番号, item.固定項目値, item.変換エラー対処}),
              std::vector<std::string>({"X ", "品名　", "", "0", "", ""}));
}

TEST(RecordFormatTest, ReportsABadRowWithItsNumberAndColumn) {
    // Three plain items, the second with one column changed.
    auto second = [](std::string_view column, DbValue value) {
        DbRow bad = ItemRow(2, 0, "X", 1);
        bad[std::string(column)] = std::move(value);
        return std::vector<DbRow>{ItemRow(1, 0, "X", 1), bad, ItemRow(3, 0, "X", 1)};
    };
    struct Case {
        const char* name;
        std::vector<DbRow> rows;
        std::int32_t row;
        std::string_view column;
        const char* reason;
    };
    const char* kNoGroup = "no enclosing group";
    const Case cases[] = {
        {"Null length", second(col::k長さ, std::nullopt), 2, col::k長さ, "Null"},
        {"letters in a repeat count", second(col::k繰返し数, "3x"), 2, col::k繰返し数, "not a number: \"3x\""},
        {"empty serial", second(col::k項目通番, ""), 2, col::k項目通番, "not a number: \"\""},
        {"too large for 32 bits", second(col::k項目No, "2147483648"), 2, col::k項目No, "not a number: \"2147483648\""},
        {"Null attribute", second(col::k属性, std::nullopt), 2, col::k属性, "Null"},
        // Levels without their group.
        {"member without any group", {ItemRow(1, 0, "X", 1), ItemRow(2, 1, "X", 1)}, 2, col::kレベル番号, kNoGroup},
        {"first row is a member", {ItemRow(1, 1, "X", 1)}, 1, col::kレベル番号, kNoGroup},
        {"level skipped", {ItemRow(1, 0, "M", 0), ItemRow(2, 2, "X", 1)}, 2, col::kレベル番号, kNoGroup},
        {"negative level", {ItemRow(1, -1, "X", 1)}, 1, col::kレベル番号, "negative level"},
        {"\"M \" opens no group", {ItemRow(1, 0, "M ", 0), ItemRow(2, 1, "X", 1)}, 2, col::kレベル番号, kNoGroup},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryRows rows(c.rows);
        ItemList items;
        MemoryRows earlier({ItemRow(9, 0, "9", 4)});
        ASSERT_TRUE(LoadRecordFormat(items, earlier).Ok());

        const LoadResult r = LoadRecordFormat(items, rows);
        EXPECT_EQ(r.status, LoadStatus::kBadValue);
        // The row, the column and the reason as ERR.LOG shows them.
        EXPECT_EQ(r.Describe(), "row " + std::to_string(c.row) + " " + std::string(c.column) + ": " + c.reason);
        ASSERT_EQ(items.Count(), 1) << "a failed load keeps the earlier list";
        EXPECT_EQ(items[1].項目通番, 9);
    }
}

TEST(RecordFormatTest, ComputesTheLengthOfOneGroupOccurrence) {
    struct Case {
        const char* name;
        std::vector<DbRow> rows;
        std::vector<std::int32_t> lengths;  // 長さ of every item after the load, in order
    };
    const Case cases[] = {
        {"level-0 group: members summed, one byte per member with decimals",
         {ItemRow(1, 0, "M", 99, 0, 3), ItemRow(2, 1, "X", 5), ItemRow(3, 1, "9", 7, 2), ItemRow(4, 1, "N", 3, 1),
          ItemRow(5, 0, "X", 4)},
         {17, 5, 7, 3, 4}},
        {"\"M \" is an item, not a group",
         {ItemRow(1, 0, "M", 0, 0, 2), ItemRow(2, 1, "M ", 10, 0, 5), ItemRow(3, 1, "X", 2)},
         {12, 10, 2}},
        {"nested group with repeat 0 counts once",
         {ItemRow(1, 0, "M", 0, 0, 2), ItemRow(2, 1, "M", 0, 0, 0), ItemRow(3, 2, "X", 6), ItemRow(4, 0, "X", 1)},
         {6, 6, 6, 1}},
        {"nested group replaces what the outer group summed before it",
         {ItemRow(1, 0, "M", 0, 0, 1), ItemRow(2, 1, "X", 3), ItemRow(3, 1, "M", 0, 0, 2), ItemRow(4, 2, "X", 4),
          ItemRow(5, 1, "X", 5), ItemRow(6, 0, "X", 9)},
         {13, 3, 4, 4, 5, 9}},
        {"nested group closed by the end of the list",
         {ItemRow(1, 0, "M", 0, 0, 1), ItemRow(2, 1, "X", 3), ItemRow(3, 1, "M", 0, 0, 4), ItemRow(4, 2, "9", 2, 1)},
         {12, 3, 3, 2}},
        {"three levels closing at once",
         {ItemRow(1, 0, "M", 0, 0, 5), ItemRow(2, 1, "M", 0, 0, 2), ItemRow(3, 2, "M", 0, 0, 3), ItemRow(4, 3, "X", 1),
          ItemRow(5, 0, "X", 9)},
         {6, 3, 1, 1, 9}},
        {"two sibling groups: the second one's length wins",
         {ItemRow(1, 0, "M", 0, 0, 1), ItemRow(2, 1, "M", 0, 0, 2), ItemRow(3, 2, "X", 4), ItemRow(4, 1, "M", 0, 0, 3),
          ItemRow(5, 2, "X", 5)},
         {15, 4, 4, 5, 5}},
    };
    ItemList items;  // one list: every load replaces what the one before left
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryRows rows(c.rows);
        ASSERT_TRUE(LoadRecordFormat(items, rows).Ok());
        std::vector<std::int32_t> lengths;
        for (std::int32_t i = 1; i <= items.Count(); ++i) lengths.push_back(items[i].長さ);
        EXPECT_EQ(lengths, c.lengths);
    }
}

}  // namespace
}  // namespace edi
