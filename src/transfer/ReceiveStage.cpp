// The receive stage: the center row read again, then the link package's file taken over or
// the mail attachment fetched, and the stage's history row closed with how that went.
#include <cmath>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/JobRunner.h"
#include "transfer/MailTransfer.h"
#include "transfer/ProcessHistory.h"

namespace edi {

std::string ReadCenterRow(WorkArea& work, const std::string& center_code, CenterRow& row) {
    work.SqlText = "SELECT *  FROM FL1903EDI制御マスタ WHERE センターコード = " + SqlQuote(center_code) +
                   " AND 相手先種別='2' ORDER BY センターコード ";
    ResultSet set;
    if (!OpenQuery(work, set)) return "9999";
    if (set.EndOfSet()) return "7002";
    row.センターコード = ValueOrDefault(set.Value("センターコード"), "");
    row.相手先種別 = ValueOrDefault(set.Value("相手先種別"), "");
    row.送受信方式 = ValueOrDefault(set.Value("送受信方式"), "");
    row.TCX受信ファイルパス = set.Value("TCX受信ファイルパス");
    row.送受信データ形式 = ValueOrDefault(set.Value("送受信データ形式"), "");
    row.相手先メールアドレス = ValueOrDefault(set.Value("相手先メールアドレス"), "");
    set.Close();
    if (TrimBlanks(row.送受信方式) == "Z" && TrimOrDefault(row.TCX受信ファイルパス, "").empty()) return "6101";
    return "0000";
}

void JobRunner::RunReceiveStage(const std::string& center_code, std::int32_t serial, std::string& result) {
    HistoryStart start;
    start.通番 = serial;
    start.送受信種別 = "R";
    start.相手先種別 = "2";
    start.処理種別 = std::string(kKindTransfer);
    start.センターコード = center_code;
    OpenStageHistory(work_, start, clock_);
    if (start.Result != "0000") {
        // No stage row to close: closing branch 0 would overwrite the job's own row.
        result = start.Result.empty() ? "9999" : start.Result;
        return;
    }

    std::string end_code = "0000";
    std::string detail_code;
    CenterRow row;
    const std::string read = ReadCenterRow(work_, center_code, row);
    if (read != "0000") {
        end_code = read;
    } else if (TrimBlanks(row.送受信方式) == "Z") {
        FileMoveRequest move;
        move.CenterCode = center_code;
        move.Serial = serial;
        move.Direction = "R";
        move.DataKind = row.送受信データ形式;
        move.LinkPath = TrimOrDefault(row.TCX受信ファイルパス, "");
        MoveTransferFile(work_, move);
        if (move.Result != "0000") {
            end_code = "5001";
            detail_code = move.Result;
        }
    } else if (TrimBlanks(row.送受信方式) == "M") {
        MailRequest mail;
        mail.CenterCode = center_code;
        mail.Serial = serial;
        mail.Direction = "R";
        mail.DataKind = row.送受信データ形式;
        mail.MailAddress = row.相手先メールアドレス;
        edi::RunMailTransfer(mail, work_, progress_, messages_, clock_);
        if (mail.Result != "0000") {
            end_code = "5100";
            detail_code = mail.Result.empty() ? "9999" : mail.Result;
        }
    }

    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = start.枝番;
    end.終了コード = end_code;
    end.詳細コード = detail_code;
    // Without a center row the kind is unknown and the name carries "Err", as DataKindOf gives.
    end.ファイル名 =
        PathInFolder(work_.EDIINFIL, ReceivedFileName(serial, center_code, DataKindOf(row.送受信データ形式)));
    CloseHistory(work_, end, clock_);
    result = end.Result;
}

}  // namespace edi
