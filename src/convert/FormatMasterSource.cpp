#include "convert/FormatMasterSource.h"

#include <algorithm>

#include "convert/CiiReader.h"

namespace edi {
namespace {

LoadResult Status(LoadStatus status) {
    LoadResult r;
    r.status = status;
    return r;
}

bool ColumnIs(const DbRow& row, std::string_view column, std::string_view value) {
    const auto found = row.find(column);
    return found != row.end() && found->second && *found->second == value;
}

std::vector<DbRow> Select(const std::vector<DbRow>& rows,
                          std::initializer_list<std::pair<std::string_view, std::string_view>> where) {
    std::vector<DbRow> out;
    for (const DbRow& row : rows) {
        if (std::all_of(where.begin(), where.end(),
                        [&row](const auto& w) { return ColumnIs(row, w.first, w.second); })) {
            out.push_back(row);
        }
    }
    return out;
}

LoadResult LoadItems(const std::vector<DbRow>& all, std::string_view format_kind, std::string_view info_kind,
                     std::string_view bpid, ItemList& items) {
    std::vector<DbRow> rows = Select(
        all, {{format_col::kFormatKind, format_kind}, {format_col::kInfoKind, info_kind}, {format_col::kBpid, bpid}});
    if (rows.empty()) return Status(LoadStatus::kNoRows);
    std::stable_sort(rows.begin(), rows.end(), [](const DbRow& a, const DbRow& b) {
        auto serial = [](const DbRow& r) {
            const auto found = r.find(format_col::k項目通番);
            return found != r.end() && found->second ? LeadingNumber(*found->second) : 0;
        };
        return serial(a) < serial(b);
    });
    MemoryRows reader(std::move(rows));
    return LoadRecordFormat(items, reader);
}

}  // namespace

MessageGroupInfo MessageGroupInfoFromRow(const RowReader& row) {
    auto text = [&row](std::string_view column) { return row.Value(column).value_or(std::string()); };
    MessageGroupInfo g;
    g.BPID = text("BPID");
    g.運用モード = text("運用モード");
    g.発信VANコード = text("発信VANコード");
    g.発信センターコード = text("発信センターコード");
    g.発信者コード = text("発信者コード");
    g.受信VANコード = text("受信VANコード");
    g.受信センターコード = text("受信センターコード");
    g.受信者コード = text("受信者コード");
    g.情報区分 = text("情報区分");
    g.交換参照番号 = text("交換参照番号");
    g.シンタックスIDバージョン = text("シンタックスIDバージョン");
    g.格納モード = text("格納モード");
    g.文字コード8ビット = text("8ビット文字コード");
    g.文字コード16ビット = text("16ビット文字コード");
    g.短縮表示 = text("短縮表示");
    g.発信VANコード管理機関コード = text("発信VANコード管理機関コード");
    g.発信センターコード管理機関コード = text("発信センターコード管理機関コード");
    g.発信者コード管理機関コード = text("発信者コード管理機関コード");
    g.受信VANコード管理機関コード = text("受信VANコード管理機関コード");
    g.受信センターコード管理機関コード = text("受信センターコード管理機関コード");
    g.受信者コード管理機関コード = text("受信者コード管理機関コード");
    return g;
}

LoadResult MemoryMasters::LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) {
    std::vector<DbRow> rows = Select(FormatRows, {{format_col::kInfoKind, info_kind}, {format_col::kBpid, bpid}});
    if (rows.empty()) return Status(LoadStatus::kNoRows);
    info = FormatInfoFromRow(MemoryRows(std::move(rows)));
    return Status(LoadStatus::kLoaded);
}

LoadResult MemoryMasters::LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return LoadItems(ItemRows, "E", info_kind, bpid, items);
}

LoadResult MemoryMasters::LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return LoadItems(ItemRows, "L", info_kind, bpid, items);
}

LoadResult MemoryMasters::LoadMessageGroupInfo(std::string_view partner, std::string_view own_company,
                                               std::string_view info_kind, MessageGroupInfo& info) {
    std::vector<DbRow> rows = Select(GroupRows, {{group_info_col::k相手先コード, partner},
                                                 {group_info_col::k自社コード, own_company},
                                                 {group_info_col::k情報区分, info_kind}});
    if (rows.empty()) return Status(LoadStatus::kNoRows);
    info = MessageGroupInfoFromRow(MemoryRows(std::move(rows)));
    return Status(LoadStatus::kLoaded);
}

}  // namespace edi
