// The format masters' statements and their execution through the database session.
#include "convert/RecordFormat.h"

namespace edi {
namespace {

// The database result set seen as rows.
class ResultSetRows final : public RowReader {
public:
    explicit ResultSetRows(ResultSet& set) : set_(set) {}
    bool AtEnd() const override { return set_.EndOfSet(); }
    DbValue Value(std::string_view column) const override { return set_.Value(column); }
    void MoveNext() override { set_.MoveNext(); }

private:
    ResultSet& set_;
};

LoadResult Failed(LoadStatus status, std::string reason) {
    LoadResult r;
    r.status = status;
    r.reason = std::move(reason);
    return r;
}

std::string ItemsSql(std::string_view format_kind, std::string_view info_kind, std::string_view bpid) {
    return "SELECT * FROM FL1903レコードフォーマット情報マスタ WHERE フォーマット種別=" + SqlQuote(format_kind) +
           " AND 情報区分コード=" + SqlQuote(info_kind) + " AND BPID=" + SqlQuote(bpid) + " ORDER BY 項目通番";
}

// Runs work.SqlText; false with the result filled when the statement failed or found nothing.
bool Open(WorkArea& work, ResultSet& set, LoadResult& result) {
    if (!OpenQuery(work, set)) {
        result = Failed(LoadStatus::kDatabaseError, work.SqlText);
        return false;
    }
    if (work.LastOpenEmpty != "0" || set.EndOfSet()) {
        result = Failed(LoadStatus::kNoRows, "");
        return false;
    }
    return true;
}

LoadResult QueryItems(WorkArea& work, std::string sql, ItemList& items) {
    work.SqlText = std::move(sql);
    ResultSet set;
    LoadResult result;
    if (!Open(work, set, result)) return result;
    ResultSetRows rows(set);
    result = LoadRecordFormat(items, rows);
    set.Close();
    return result;
}

}  // namespace

std::string FormatInfoSql(std::string_view info_kind, std::string_view bpid) {
    return "SELECT * FROM FL1902フォーマット情報マスタ WHERE 情報区分コード=" + SqlQuote(info_kind) +
           " AND BPID=" + SqlQuote(bpid);
}

std::string MessageItemsSql(std::string_view info_kind, std::string_view bpid) {
    return ItemsSql("E", info_kind, bpid);
}

std::string LocalItemsSql(std::string_view info_kind, std::string_view bpid) { return ItemsSql("L", info_kind, bpid); }

LoadResult QueryFormatInfo(WorkArea& work, std::string_view info_kind, std::string_view bpid, FormatInfo& info) {
    work.SqlText = FormatInfoSql(info_kind, bpid);
    ResultSet set;
    LoadResult result;
    if (!Open(work, set, result)) return result;
    info = FormatInfoFromRow(ResultSetRows(set));
    set.Close();
    result.status = LoadStatus::kLoaded;
    return result;
}

LoadResult QueryMessageItems(WorkArea& work, std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return QueryItems(work, MessageItemsSql(info_kind, bpid), items);
}

LoadResult QueryLocalItems(WorkArea& work, std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return QueryItems(work, LocalItemsSql(info_kind, bpid), items);
}

}  // namespace edi
