// The two format masters in memory: the format-level settings of a message kind and the
// item lists of its message side and local side, with the byte length of every group.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "startup/DbSession.h"

namespace edi {

// Column names of FL1902フォーマット情報マスタ and FL1903レコードフォーマット情報マスタ.
namespace format_col {
inline constexpr std::string_view kInfoKind = "情報区分コード";
inline constexpr std::string_view kBpid = "BPID";
inline constexpr std::string_view kFormatKind = "フォーマット種別";
inline constexpr std::string_view k様式識別 = "様式識別";
inline constexpr std::string_view kシンタックスIDバージョン = "シンタックスIDバージョン";
inline constexpr std::string_view k格納モード = "格納モード";
inline constexpr std::string_view k1バイト文字集合 = "1バイト文字集合";
inline constexpr std::string_view k2バイト文字集合 = "2バイト文字集合";
inline constexpr std::string_view kローカル形式 = "ローカル形式";
inline constexpr std::string_view kXML文字コード = "XML文字コード";
inline constexpr std::string_view k項目通番 = "項目通番";
inline constexpr std::string_view k対応項目通番 = "対応項目通番";
inline constexpr std::string_view kレベル番号 = "レベル番号";
inline constexpr std::string_view k項目No = "項目№";
inline constexpr std::string_view k項目位置 = "項目位置";
inline constexpr std::string_view k項目名称 = "項目名称";
inline constexpr std::string_view k属性 = "属性";
inline constexpr std::string_view k長さ = "長さ";
inline constexpr std::string_view k小数部長さ = "小数部長さ";
inline constexpr std::string_view kマルチ明細番号 = "マルチ明細番号";
inline constexpr std::string_view k繰返し数 = "繰返し数";
inline constexpr std::string_view k固定項目値 = "固定項目値";
inline constexpr std::string_view k変換エラー対処 = "変換エラー対処";
}  // namespace format_col

// One row of FL1902フォーマット情報マスタ, each column as stored (not trimmed: a storage
// mode of one space is a mode of its own). Null reads as "".
struct FormatInfo {
    std::string 様式識別;
    std::string シンタックスIDバージョン;
    std::string 格納モード;
    std::string 文字集合1バイト;  // column 1バイト文字集合
    std::string 文字集合2バイト;  // column 2バイト文字集合
    std::string ローカル形式;
    std::string XML文字コード;
};

// One row of FL1903レコードフォーマット情報マスタ.
struct RecordFormatItem {
    std::int32_t 項目通番 = 0;
    std::int32_t 対応項目通番 = 0;
    std::int32_t レベル番号 = 0;
    std::int32_t 項目No = 0;  // column 項目№: the data-element tag of a message-side item
    std::string 項目位置;     // 1-based byte position in the local record, as digits
    std::string 項目名称;
    std::string 属性;       // untrimmed: "M " is not a group
    std::int32_t 長さ = 0;  // for a group: the bytes of one occurrence, computed at load
    std::int32_t 小数部長さ = 0;
    std::string マルチ明細番号 = "0";
    std::int32_t 繰返し数 = 0;
    std::string 固定項目値;
    std::string 変換エラー対処;

    bool IsGroup() const { return 属性 == "M"; }
    std::int32_t RepeatFactor() const { return 繰返し数 == 0 ? 1 : 繰返し数; }
    bool HasDecimals() const { return 小数部長さ != 0; }
};

// An item list indexed 1 .. Count(), in 項目通番 order.
class ItemList {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const RecordFormatItem& operator[](std::int32_t index) const { return items_[static_cast<std::size_t>(index - 1)]; }
    RecordFormatItem& operator[](std::int32_t index) { return items_[static_cast<std::size_t>(index - 1)]; }
    void Append(RecordFormatItem item) { items_.push_back(std::move(item)); }
    void Clear() { items_.clear(); }
    void Swap(ItemList& other) noexcept { items_.swap(other.items_); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<RecordFormatItem> items_;
};

// What a converter holds for the current message group.
struct FormatMasters {
    FormatInfo Format;
    ItemList MessageItems;  // フォーマット種別 'E'
    ItemList LocalItems;    // フォーマット種別 'L'
};

// A forward-only view of result rows; the database result set and the tests' tables both serve.
class RowReader {
public:
    virtual ~RowReader() = default;
    virtual bool AtEnd() const = 0;
    virtual DbValue Value(std::string_view column) const = 0;  // nothing for Null or an unknown column
    virtual void MoveNext() = 0;
};

// Rows held in memory: a column-name to value map per row.
using DbRow = std::map<std::string, DbValue, std::less<>>;
class MemoryRows final : public RowReader {
public:
    explicit MemoryRows(std::vector<DbRow> rows) : rows_(std::move(rows)) {}
    bool AtEnd() const override { return next_ >= rows_.size(); }
    DbValue Value(std::string_view column) const override;
    void MoveNext() override { ++next_; }

private:
    std::vector<DbRow> rows_;
    std::size_t next_ = 0;
};

enum class LoadStatus {
    kLoaded,         // every row read
    kNoRows,         // the query returned nothing
    kBadValue,       // a Null or non-numeric integer column, a Null 属性, or a level without its group
    kDatabaseError,  // the statement failed
};

struct LoadResult {
    LoadStatus status = LoadStatus::kDatabaseError;  // a failure until the load completes
    std::int32_t row = 0;                            // 1-based row of a bad value
    std::string column;
    std::string reason;

    bool Ok() const { return status == LoadStatus::kLoaded; }
    std::string Describe() const;  // one line for ERR.LOG, e.g. "row 3 長さ: Null"
};

// The row's seven columns, as stored; Null gives "".
FormatInfo FormatInfoFromRow(const RowReader& row);

// Converts the current row into an item: integers from their digits, texts trimmed with the
// defaults "" and "0" (マルチ明細番号) for Null, 属性 as stored.
LoadResult ItemFromRow(const RowReader& row, std::int32_t row_number, RecordFormatItem& item);

// Sets the 長さ of every group item to the bytes of one occurrence (see the .cpp for the rule).
LoadResult ComputeGroupLengths(ItemList& items);

// Reads every row to the end into the list and computes the group lengths. The list is replaced
// only when the whole load succeeds; on failure it keeps its earlier contents.
LoadResult LoadRecordFormat(ItemList& items, RowReader& rows);

// Statements, every text value quoted with SqlQuote (defined with the database queries).
std::string FormatInfoSql(std::string_view info_kind, std::string_view bpid);
std::string MessageItemsSql(std::string_view info_kind, std::string_view bpid);
std::string LocalItemsSql(std::string_view info_kind, std::string_view bpid);

// Run the statements through work.SqlText and OpenQuery. kNoRows when the master has no row.
LoadResult QueryFormatInfo(WorkArea& work, std::string_view info_kind, std::string_view bpid, FormatInfo& info);
LoadResult QueryMessageItems(WorkArea& work, std::string_view info_kind, std::string_view bpid, ItemList& items);
LoadResult QueryLocalItems(WorkArea& work, std::string_view info_kind, std::string_view bpid, ItemList& items);

}  // namespace edi
