// The receive stage: the center row read again, then the link package's file taken over or
// the mail attachment fetched, and the stage's history row closed with how that went.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/JobRunner.h"
#include "transfer/MailReceipt.h"
#include "transfer/MailTransfer.h"
#include "transfer/ProcessHistory.h"

namespace edi {

std::string ReadCenterRows(WorkArea& work, const std::string& center_code, std::vector<CenterRow>& rows) {
    rows.clear();
    work.SqlText = "SELECT *  FROM FL1903EDI制御マスタ WHERE センターコード = " + SqlQuote(center_code) +
                   " ORDER BY センターコード ";
    ResultSet set;
    if (!OpenQuery(work, set)) return "9999";
    for (; !set.EndOfSet(); set.MoveNext()) {
        CenterRow& row = rows.emplace_back();
        row.センターコード = ValueOrDefault(set.Value("センターコード"), "");
        row.相手先種別 = ValueOrDefault(set.Value("相手先種別"), "");
        row.送受信方式 = ValueOrDefault(set.Value("送受信方式"), "");
        row.TCX受信ファイルパス = set.Value("TCX受信ファイルパス");
        row.送受信データ形式 = ValueOrDefault(set.Value("送受信データ形式"), "");
        row.相手先メールアドレス = ValueOrDefault(set.Value("相手先メールアドレス"), "");
    }
    // A row the walk could not read ends the set early: the database failed.
    if (work.Db && work.Db->LastFailure() != DbFailure::kNone) return "9999";
    return "0000";
}

std::string ReceiveCenterRow(const std::vector<CenterRow>& rows, CenterRow& row) {
    const auto found =
        std::find_if(rows.begin(), rows.end(), [](const CenterRow& candidate) { return candidate.相手先種別 == "2"; });
    if (found == rows.end()) return "7002";
    row = *found;
    if (TrimBlanks(row.送受信方式) == "Z" && TrimOrDefault(row.TCX受信ファイルパス, "").empty()) return "6101";
    return "0000";
}

std::string ReadCenterRow(WorkArea& work, const std::string& center_code, CenterRow& row) {
    std::vector<CenterRow> rows;
    const std::string read = ReadCenterRows(work, center_code, rows);
    return read == "0000" ? ReceiveCenterRow(rows, row) : read;
}

std::int16_t JobRunner::OpenReceiveRow(const std::string& center_code, std::int32_t serial, std::string& result) {
    HistoryStart start = ReceiveHistoryStart(serial, kKindTransfer, center_code);
    OpenStageHistory(work_, start, clock_, next_branch_);
    NoteStageOpened(start);
    if (start.Result == "0000") return start.枝番;
    result = start.Result.empty() ? "9999" : start.Result;
    return 0;
}

void JobRunner::RunReceiveStage(const std::string& center_code, std::int32_t serial, std::string& result) {
    const std::int16_t branch = OpenReceiveRow(center_code, serial, result);
    if (branch == 0) return;
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = branch;
    Receive(center_code, serial, false, end);
    CloseReceiveRow(end, result);
}

void JobRunner::CarryOnReceive(const std::string& center_code, std::int32_t serial, std::int16_t branch,
                               std::string& result) {
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = branch;
    Receive(center_code, serial, true, end);
    CloseReceiveRow(end, result);
}

void JobRunner::CloseReceiveRow(HistoryEnd& end, std::string& result) {
    CloseHistory(work_, end, clock_);
    if (end.終了コード != "0000") NoteFailure("receive", end.終了コード, end.詳細コード);
    result = end.Result;
}

void JobRunner::Receive(const std::string& center_code, std::int32_t serial, bool carrying_on, HistoryEnd& end) {
    std::string end_code = "0000";
    std::string detail_code;
    CenterRow row;
    std::string read;
    const std::vector<CenterRow>& rows = CenterRowsOfJob(center_code, read);
    if (read == "0000") read = ReceiveCenterRow(rows, row);
    const std::string kind = DataKindOf(row.送受信データ形式);
    const std::string received = PathInFolder(work_.EDIINFIL, ReceivedFileName(serial, center_code, kind));
    std::error_code ec;
    if (read != "0000") {
        end_code = read;
    } else if (!CommitWrites(work_)) {
        // The rows that say the file is being taken over are not on disk: nothing is taken.
        end_code = "9999";
    } else if (TrimBlanks(row.送受信方式) == "Z") {
        FileMoveRequest move;
        move.CenterCode = center_code;
        move.Serial = serial;
        move.Direction = "R";
        move.DataKind = row.送受信データ形式;
        move.LinkPath = TrimOrDefault(row.TCX受信ファイルパス, "");
        if (carrying_on && kind != "Err") {
            move.Result = FinishLinkMove(move.LinkPath, received) == 0 ? "0000" : "9999";
        } else {
            MoveTransferFile(work_, move);
        }
        if (move.Result != "0000") {
            end_code = "5001";
            detail_code = move.Result;
        }
    } else if (TrimBlanks(row.送受信方式) == "M" &&
               !(carrying_on && std::filesystem::is_regular_file(received, ec))) {
        // A mail job whose attachment is stored whole keeps it: its receipt, if any, has the next
        // receive of the center mark the mail read. Otherwise the mail is taken now.
        if (carrying_on) std::filesystem::remove(ReceiptPath(received), ec);
        MailRequest mail;
        mail.CenterCode = center_code;
        mail.Serial = serial;
        mail.Direction = "R";
        mail.DataKind = row.送受信データ形式;
        mail.MailAddress = row.相手先メールアドレス;
        MailTransport transport(work_, progress_, messages_, clock_);
        transport.PassOver(mails_passed_over_);
        transport.RunMailTransfer(mail);
        more_mail_waiting_ = transport.more_mail_waiting();
        if (mail.Result != "0000") {
            end_code = "5100";
            detail_code = mail.Result.empty() ? "9999" : mail.Result;
        }
    }

    end.終了コード = end_code;
    end.詳細コード = detail_code;
    // Without a center row the kind is unknown and the name carries "Err", as DataKindOf gives.
    end.ファイル名 = received;
}

}  // namespace edi
