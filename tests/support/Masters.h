// Master rows, history rows, EDI.ini files and a terminal's centers, built the same way by every
// suite: the statements go through a fixture's Exec (or any session), the files are written as the
// programs read them (code page 932, CR LF).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "startup/WorkArea.h"

namespace edi::test {

// A row of the EDI control master: a partner center ("2") run by terminal T1, named "名称<code>".
struct CenterRow {
    std::string code{};
    std::string method = "Z";  // 送受信方式: Z link package, M mail, F folder
    std::string link_path{};   // TCX受信ファイルパス
    std::string form = "C";    // 送受信データ形式
    std::string mail{};        // 相手先メールアドレス
    std::string partner_kind = "2";
    std::string terminal = "T1";
};
std::string CenterSql(const CenterRow& row);
// A partner company served through a center.
std::string PartnerSql(const std::string& center, const std::string& company);

// A row of the history of a receive job, started 2026-12-05 10:20:30. An empty end code leaves the
// row open; a closed row ended at 10:21:00 having read 10 records and written 9. An empty file
// name stores Null.
struct HistoryRow {
    int serial = 0;
    int branch = 0;
    std::string kind = "03";  // 処理種別
    std::string end{};        // 終了コード
    std::string detail = "0000";
    std::string file{};
    int taken_from = 0;  // 最終シーケンス番号: the job a carry-on takes over
    std::string center = "ABC";
    std::string direction = "R";  // 送受信種別
};
std::string HistorySql(const std::vector<HistoryRow>& rows);  // one INSERT of every row

// The look, window, status-colour and folder ([PATH], last) sections of a good EDI.ini, in UTF-8.
// The colours are written as the lenient reading takes them: 通常 missing, エラー "255abc".
std::string SettingsIniText();

// An EDI.ini of the given sections in order, each followed by an empty line.
using IniSections = std::vector<std::pair<std::string, std::vector<std::string>>>;
void WriteEdiIni(const std::filesystem::path& file, const IniSections& sections);

// The values of the first row a query gives, joined by blanks ("<null>" for Null); "<none>" when
// it gives no row, "<failed: reason>" when it fails.
std::string RowValues(WorkArea& work, const std::string& sql, const std::vector<std::string>& columns);

// The blank-separated words of a table cell: "a b  c" gives a, b, c.
std::vector<std::string> Words(std::string_view text);

// The terminal's grid gets a row for each center, in the order given.
void AddTerminalCenters(WorkArea& work, const std::vector<std::string>& codes);

}  // namespace edi::test
