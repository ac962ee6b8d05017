// Where the converters get their masters: the format information, the two item lists and the
// message-group settings. The database serves the program; rows held in memory serve the tests,
// the benchmark and the fuzz target through the same row reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/CiiLayout.h"
#include "convert/RecordFormat.h"
#include "startup/WorkArea.h"

namespace edi {

// One row of FL1916メッセージグループ情報マスタ: the texts a group header is built from.
using MessageGroupInfo = CiiHeaderFields;

// Columns of FL1916メッセージグループ情報マスタ besides the header fields named alike.
namespace group_info_col {
inline constexpr std::string_view k相手先コード = "相手先コード";
inline constexpr std::string_view k自社コード = "自社コード";
inline constexpr std::string_view k情報区分 = "情報区分";
}  // namespace group_info_col

// The row's columns read by name, each as stored; Null gives "".
MessageGroupInfo MessageGroupInfoFromRow(const RowReader& row);
std::string MessageGroupInfoSql(std::string_view partner, std::string_view own_company, std::string_view info_kind);

class FormatMasterSource {
public:
    virtual ~FormatMasterSource() = default;
    // kLoaded, or kNoRows when the master has no row; kBadValue / kDatabaseError otherwise.
    virtual LoadResult LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) = 0;
    virtual LoadResult LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) = 0;
    virtual LoadResult LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) = 0;
    virtual LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own_company,
                                            std::string_view info_kind, MessageGroupInfo& info) = 0;
};

// Table rows in memory, selected and ordered as the statements select and order them.
class MemoryMasters final : public FormatMasterSource {
public:
    std::vector<DbRow> FormatRows;  // FL1902フォーマット情報マスタ
    std::vector<DbRow> ItemRows;    // FL1903レコードフォーマット情報マスタ
    std::vector<DbRow> GroupRows;   // FL1916メッセージグループ情報マスタ

    LoadResult LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) override;
    LoadResult LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own_company, std::string_view info_kind,
                                    MessageGroupInfo& info) override;
};

// The masters in the database of the work area's session (statements through work.SqlText).
class DatabaseMasters final : public FormatMasterSource {
public:
    explicit DatabaseMasters(WorkArea& work) : work_(work) {}
    LoadResult LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) override;
    LoadResult LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) override;
    LoadResult LoadMessageGroupInfo(std::string_view partner, std::string_view own_company, std::string_view info_kind,
                                    MessageGroupInfo& info) override;

private:
    WorkArea& work_;
};

}  // namespace edi
