// The masters read from the database session; kept apart so that code using rows in memory
// does not need the session.
#include "convert/FormatMasterSource.h"

namespace edi {
namespace {

class ResultSetRow final : public RowReader {
public:
    explicit ResultSetRow(ResultSet& set) : set_(set) {}
    bool AtEnd() const override { return set_.EndOfSet(); }
    DbValue Value(std::string_view column) const override { return set_.Value(column); }
    void MoveNext() override { set_.MoveNext(); }

private:
    ResultSet& set_;
};

}  // namespace

std::string MessageGroupInfoSql(std::string_view partner, std::string_view own_company, std::string_view info_kind) {
    return "SELECT * FROM FL1916メッセージグループ情報マスタ WHERE 相手先コード=" + SqlQuote(partner) +
           " AND 自社コード=" + SqlQuote(own_company) + " AND 情報区分=" + SqlQuote(info_kind);
}

LoadResult DatabaseMasters::LoadFormatInfo(std::string_view info_kind, std::string_view bpid, FormatInfo& info) {
    return QueryFormatInfo(work_, info_kind, bpid, info);
}

LoadResult DatabaseMasters::LoadMessageItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return QueryMessageItems(work_, info_kind, bpid, items);
}

LoadResult DatabaseMasters::LoadLocalItems(std::string_view info_kind, std::string_view bpid, ItemList& items) {
    return QueryLocalItems(work_, info_kind, bpid, items);
}

LoadResult DatabaseMasters::LoadMessageGroupInfo(std::string_view partner, std::string_view own_company,
                                                 std::string_view info_kind, MessageGroupInfo& info) {
    LoadResult result;
    work_.SqlText = MessageGroupInfoSql(partner, own_company, info_kind);
    ResultSet set;
    if (!OpenQuery(work_, set)) {
        result.status = LoadStatus::kDatabaseError;
        result.reason = work_.SqlText;
        return result;
    }
    if (work_.LastOpenEmpty != "0" || set.EndOfSet()) {
        result.status = LoadStatus::kNoRows;
        return result;
    }
    info = MessageGroupInfoFromRow(ResultSetRow(set));
    set.Close();
    result.status = LoadStatus::kLoaded;
    return result;
}

}  // namespace edi
