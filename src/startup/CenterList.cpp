#include "startup/CenterList.h"

namespace edi {

std::string CenterQuerySql(const std::string& terminal_name) {
    return std::string("SELECT FL1903EDI制御マスタ.センターコード") + " ,FL1903EDI制御マスタ.センター名 " +
           " ,FL1903EDI制御マスタ.送受信方式 " + " FROM FL1903EDI制御マスタ" +
           " WHERE FL1903EDI制御マスタ.実行端末名 = " + SqlQuote(terminal_name) +
           " AND FL1903EDI制御マスタ.相手先種別 = '" + "2" + "'" + " ORDER BY FL1903EDI制御マスタ.センターコード ";
}

std::string QueryCenters(WorkArea& work, ResultSet& result) {
    work.SqlText = CenterQuerySql(work.TerminalName);
    if (!OpenQuery(work, result)) return "9999";
    if (result.EndOfSet()) {
        result.Close();
        return "9999";
    }
    return "0000";
}

std::string FillCenters(WorkArea& work, ResultSet& result) {
    work.Centers.clear();
    result.MoveFirst();
    while (!result.EndOfSet()) {
        CenterEntry entry;
        entry.CenterCode = ValueOrDefault(result.Value("センターコード"), "");
        entry.CenterName = ValueOrDefault(result.Value("センター名"), "");
        entry.Method = ValueOrDefault(result.Value("送受信方式"), "");
        work.Centers.push_back(std::move(entry));
        result.MoveNext();
    }
    result.Close();
    return "0000";
}

std::string LookupKubunName(WorkArea& work, const std::string& kubun, const std::string& code) {
    work.SqlText = std::string("SELECT 区分名称 FROM 区分マスタ") + " WHERE 区分= " + SqlQuote(kubun) +
                   " AND 区分ｺｰﾄﾞ= " + SqlQuote(code);
    ResultSet result;
    if (!OpenQuery(work, result)) return "";
    std::string name;
    if (!result.EndOfSet()) name = ValueOrDefault(result.Value("区分名称"), "");
    result.Close();
    return name;
}

std::string LoadCenters(WorkArea& work, MessageBoxes& boxes) {
    ResultSet result;
    const std::string code = QueryCenters(work, result);
    if (code != "0000") {
        // A busy or failing database shows the same fixed message; its reason is in ERR.LOG.
        boxes.Show(MessageRequest{kNoCenterData, kProgramTitle, MessageIcon::kNone, MessageButtons::kOk});
        return code;
    }
    return FillCenters(work, result);
}

}  // namespace edi
