// What every code the program writes or reports means to an operator, in one table: the end
// and detail codes of the history rows, the mail service's error numbers and the converters'
// ERR.LOG codes. The window shows the Japanese text, the headless runner prints the English one.
#pragma once

#include <span>
#include <string_view>

namespace edi {

// Who tells the code. The same four digits mean different things to different tellers
// ("0003" is a registration detail and a converter's failure).
enum class CodeSource {
    kJob,           // a job row (処理種別 "03"): the job's final code, "8100"/"8102" in its detail
    kNumbering,     // the job could not be given a serial: no row at all ("通番ｴﾗｰ")
    kReceive,       // a receive row ("10")
    kConversion,    // a conversion row ("31"-"34"), and the conversion stage's own result
    kRegistration,  // a registration row ("41"); "7300" ends the stage before its row
    kArchive,       // the copies of the job's files into OLD_FILE
    kDatabase,      // a job the database failed under: its rows stay open for the next run
    kMail,          // the mail service: "Error <number>: ..." and its ERR.LOG lines
    kConverter,     // the converters' ERR.LOG lines
};

struct CodeMeaning {
    CodeSource source;
    std::string_view code;    // "*": any code of the source
    std::string_view detail;  // "": no detail ("0000" counts as none); "*": any detail
    std::string_view japanese;
    std::string_view english;
};

// 詳細コード of a job row whose job took over the received file of an earlier job and ran its
// conversion and registration again; the row's 最終シーケンス番号 names that job. The receive row
// of such a job carries it too.
inline constexpr std::string_view kTakesOverCode = "8102";

// The whole table, in the order the sources are listed above.
std::span<const CodeMeaning> CodeMeanings();

// The entry for a code and its detail: the exact pair first, then the code with any detail,
// then the source's entry for any code with this detail, then the source's fallback. A
// registration end code of zeros or blanks reads as "00".
const CodeMeaning& MeaningOf(CodeSource source, std::string_view code, std::string_view detail = {});

// The teller of a history row, by its 処理種別.
CodeSource SourceOfKind(std::string_view kind);

// The meaning of an ERR.LOG code: a converter's, else the mail service's.
const CodeMeaning& MeaningOfLogCode(std::string_view code);

}  // namespace edi
