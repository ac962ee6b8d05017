#include "support/Masters.h"

#include <algorithm>

#include "startup/DbSession.h"
#include "support/TestSupport.h"

namespace edi::test {

std::string CenterSql(const CenterRow& row) {
    return "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名, "
           "TCX受信ファイルパス, 送受信データ形式, 相手先メールアドレス) VALUES (" +
           SqlQuote(row.code) + ", " + SqlQuote(row.partner_kind) + ", " + SqlQuote("名称" + row.code) + ", " +
           SqlQuote(row.method) + ", " + SqlQuote(row.terminal) + ", " + SqlQuote(row.link_path) + ", " +
           SqlQuote(row.form) + ", " + SqlQuote(row.mail) + ")";
}

std::string PartnerSql(const std::string& center, const std::string& company) {
    return "INSERT INTO FL1915センタ利用企業マスタ (センターコード, 相手先企業コード) VALUES (" + SqlQuote(center) +
           ", " + SqlQuote(company) + ")";
}

std::string HistorySql(const std::vector<HistoryRow>& rows) {
    std::string sql =
        "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, 送受信種別, 相手先種別, 処理種別, 処理開始日付, "
        "処理開始時刻, センターコード, 処理終了日付, 処理終了時刻, 入力レコード数, 出力レコード数, "
        "最終シーケンス番号, 終了コード, 詳細コード, ファイル名) VALUES ";
    for (const HistoryRow& r : rows) {
        const bool open = r.end.empty();
        sql += (&r == &rows.front() ? "(" : ", (") + std::to_string(r.serial) + ", " + std::to_string(r.branch) + ", " +
               SqlQuote(r.direction) + ", '2', " + SqlQuote(r.kind) + ", {d '2026-12-05'}, {t '10:20:30'}, " +
               SqlQuote(r.center) + ", " +
               (open ? "NULL, NULL, NULL, NULL" : "{d '2026-12-05'}, {t '10:21:00'}, 10, 9") + ", " +
               std::to_string(r.taken_from) + ", " +
               (open ? "NULL, NULL" : SqlQuote(r.end) + ", " + SqlQuote(r.detail)) + ", " +
               (r.file.empty() ? "NULL" : SqlQuote(r.file)) + ")";
    }
    return sql;
}

std::string SettingsIniText() {
    return "[Setting0]\nFormBackColor=&H8000000F\nLabelBackColor=&HFF\nLabelFontBold=True\nLabelFontItalic=False\n"
           "LabelFontName=Noto Sans CJK JP\nLabelFontSize=9.75\nLabelFontStrikethru=False\nLabelFontUnderline=False\n"
           "LabelForeColor=0\nTextBackColor=16777215\nTextFocusColor= 12.5 \nTextFontBold=False\nTextFontItalic=False\n"
           "TextFontName=Noto Sans Mono CJK JP\nTextFontSize=12\nTextFontStrikethru=False\nTextFontUnderline=False\n"
           "TextForeColor=0\nTitleBackColor=-1\nTitleFontBold=True\nTitleFontItalic=False\n"
           "TitleFontName=Noto Sans CJK JP\nTitleFontSize=14\nTitleFontStrikethru=False\nTitleFontUnderline=False\n"
           "TitleForeColor=+255\n[K700100]\nMINIMAIZE=0\nDEMOMODE=0\n"
           "[COLOR]\nエラー=255abc\n処理済=  32768\n処理中=16711680\n"
           "[PATH]\nTCX100_PATH=/opt/tcx/\nEDIINFIL=/data/in/\nEDIOUTFIL=/data/out/\nMGSTPATH=/data/mg/\n"
           "OLD_FILE=/data/old/\n";
}

void WriteEdiIni(const std::filesystem::path& file, const IniSections& sections) {
    std::string text;
    for (const auto& [name, lines] : sections) {
        text += "[" + name + "]\r\n";
        for (const std::string& line : lines) text += line + "\r\n";
        text += "\r\n";
    }
    WriteSjisFile(file, text);
}

std::string RowValues(WorkArea& work, const std::string& sql, const std::vector<std::string>& columns) {
    work.SqlText = sql;
    ResultSet set;
    if (!OpenQuery(work, set)) return "<failed: " + (work.Db ? work.Db->LastError() : std::string("no session")) + ">";
    if (set.EndOfSet()) return "<none>";
    std::string values;
    for (const std::string& column : columns) {
        values += (values.empty() ? "" : " ") + set.Value(column).value_or("<null>");
    }
    return values;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    for (std::size_t at = text.find_first_not_of(' '); at != std::string_view::npos;
         at = text.find_first_not_of(' ', at)) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

void AddTerminalCenters(WorkArea& work, const std::vector<std::string>& codes) {
    for (const std::string& code : codes) work.Centers.emplace_back().CenterCode = code;
}

}  // namespace edi::test
