#include "transfer/CodeMeaning.h"

#include <array>
#include <string>

#include "convert/codec/Codec.h"
#include "transfer/JobOutcome.h"

namespace edi {
namespace {

using S = CodeSource;

// The English texts are the headless runner's; they stay as its users know them.
constexpr std::array kTable = {
    // Job rows.
    CodeMeaning{S::kJob, "0000", "", "正常終了", "ended well"},
    CodeMeaning{S::kJob, "0000", "8100", "正常終了（中断した処理を後の実行が継続）",
                "ended well, carried on by a later run of this terminal"},
    CodeMeaning{S::kJob, "0000", "8102", "正常終了（前の処理の受信ファイルで変換・登録をやり直し）",
                "ended well on the received file of an earlier job"},
    CodeMeaning{S::kJob, "*", "8100", "異常終了（中断した処理を後の実行が継続）。失敗した段階の行を参照",
                "failed, carried on by a later run of this terminal; the failed stage's row tells why"},
    CodeMeaning{S::kJob, "*", "8102", "異常終了（前の処理の受信ファイルでやり直し）。失敗した段階の行を参照",
                "failed on the received file of an earlier job; the failed stage's row tells why"},
    CodeMeaning{S::kJob, "*", "*", "異常終了。失敗した段階の行を参照", "failed; the failed stage's row tells why"},
    CodeMeaning{S::kNumbering, "*", "*", "処理履歴に通番を採番できなかった",
                "the job could not be numbered in the history"},

    // Receive rows.
    CodeMeaning{S::kReceive, "0000", "", "正常終了", "ended well"},
    CodeMeaning{S::kReceive, "0000", "8102", "前の処理の受信ファイルを引き継いだ",
                "took over the received file of an earlier job"},
    CodeMeaning{S::kReceive, "5001", "8102", "前の処理の受信ファイルを引き継げなかった（受信フォルダにない）",
                "the received file of the earlier job is no longer in the receive folder"},
    CodeMeaning{S::kReceive, "5001", "*", "連携パッケージのファイルを受け取れなかった",
                "the link package's file could not be taken over"},
    CodeMeaning{S::kReceive, "5100", "5101", "添付ファイルのない相手先メール（未読のまま）",
                "a partner mail without attachment stays unread"},
    CodeMeaning{S::kReceive, "5100", "5102", "添付ファイルを復号できない相手先メール（未読のまま、理由は ERR.LOG）",
                "a partner mail whose attachment does not decode stays unread (ERR.LOG says why)"},
    CodeMeaning{S::kReceive, "5100", "*", "メールの受信に失敗した", "the mail transport failed"},
    CodeMeaning{S::kReceive, "6101", "*", "受信方式Zなのにセンターの行に連携ファイルパスがない",
                "method Z but the center row names no link-package file"},
    CodeMeaning{S::kReceive, "7002", "*", "センターがFL1903EDI制御マスタにない",
                "the center has no row in FL1903EDI制御マスタ"},
    CodeMeaning{S::kReceive, "*", "*", "受信段階でデータベースの読み書きに失敗した",
                "the receive stage could not write its history row"},

    // Conversion rows; a failed conversion tells why in ERR.LOG.
    CodeMeaning{S::kConversion, "0000", "", "終了（成否はジョブの行と ERR.LOG）", "ended well"},
    CodeMeaning{S::kConversion, "8101", "*", "実行の中断で打ち切り。後の行でやり直した",
                "cut short by the end of its run, done again in later rows"},
    // A received CII file that failed its check is not converted; 詳細コード is the fault's
    // ERR.LOG code, whose line names the group, the message and the byte.
    CodeMeaning{S::kConversion, "0000", "5210",
                "テストデータ（運用モード1）のため登録していない。入力レコード数のうち出力レコード数だけを登録に渡した"
                "（テストデータは .TST ファイル）",
                "test data, not registered: of the messages read only those written went to registration (the test "
                "data is in the .TST file)"},
    CodeMeaning{S::kConversion, "0000", "5211", "テストデータ（運用モード1）も登録した（RegisterTestData=1）",
                "test data registered (RegisterTestData=1)"},
    CodeMeaning{S::kConversion, "5200", "5201",
                "受信したCIIファイルの検査で不正: グループの構成（ヘッダ・データ・終了レコード）。変換・登録していない",
                "the received CII file failed its check: its groups (header, data records, end record); not converted"},
    CodeMeaning{S::kConversion, "5200", "5202",
                "受信したCIIファイルの検査で不正: レコードが途中で切れているか長さの位置に終了バイトがない。変換・登録していない",
                "the received CII file failed its check: a record cut short or without its end byte; not converted"},
    CodeMeaning{S::kConversion, "5200", "5203",
                "受信したCIIファイルの検査で不正: 格納ブロック（継続番号・埋め草）が格納モードに合わない。変換・登録していない",
                "the received CII file failed its check: storage blocks do not follow the storage mode; not converted"},
    CodeMeaning{S::kConversion, "5200", "5204",
                "受信したCIIファイルの検査で不正: メッセージ番号が1から順に続いていない。変換・登録していない",
                "the received CII file failed its check: messages not numbered 1, 2, 3, ...; not converted"},
    CodeMeaning{S::kConversion, "5200", "5205",
                "受信したCIIファイルの検査で不正: 終了レコードの件数が読んだメッセージ数と違う。変換・登録していない",
                "the received CII file failed its check: the end record's count differs; not converted"},
    CodeMeaning{S::kConversion, "5200", "5206",
                "受信したCIIファイルの検査で不正: 最後の終了レコードの後に余分なデータがある。変換・登録していない",
                "the received CII file failed its check: bytes after the last end record; not converted"},
    CodeMeaning{S::kConversion, "5200", "*", "受信したCIIファイルの検査で不正。変換・登録していない（位置は ERR.LOG）",
                "the received CII file failed its check: not converted, nothing registered (ERR.LOG names the byte)"},
    CodeMeaning{S::kConversion, "*", "*", "変換に失敗した（理由は ERR.LOG）か受信ファイルがない",
                "the conversion failed (ERR.LOG says why) or found no received file"},

    // Registration rows: the status file's end code, or the stage's own codes.
    CodeMeaning{S::kRegistration, "00", "", "正常終了（登録済み）", "ended well"},
    CodeMeaning{S::kRegistration, "4100", "0001", "登録プログラムを起動できなかった",
                "the registration program could not be started"},
    CodeMeaning{S::kRegistration, "4100", "0003",
                "登録プログラムの実行中に処理が終わり、ステータスファイルがない（一部登録の可能性）",
                "the run ended while the registration program ran and no status file came: the message may be "
                "partly registered"},
    CodeMeaning{S::kRegistration, "4100", "*", "登録プログラムがステータスファイルを残さなかった",
                "the registration program left no status file"},
    CodeMeaning{S::kRegistration, "7300", "*", "センタ利用企業マスタに相手先企業がない（登録していない）",
                "the center has no partner company"},
    CodeMeaning{S::kRegistration, "9999", "9999",
                "登録プログラムを起動しなかった（JKBN_Z_J がないかパラメータファイルを書けない）",
                "the registration program was not started: no JKBN_Z_J entry or the parameter file could not be "
                "written"},
    CodeMeaning{S::kRegistration, "*", "*", "ステータスファイルが読めないか終了コードが0でない",
                "the status file is unreadable or its end code is not zero"},

    CodeMeaning{S::kDatabase, "*", "*", "ジョブ中にデータベースが失敗した（理由は ERR.LOG）。次の実行が引き継ぐ",
                "the database failed during the job (ERR.LOG says why): it stays open and the next run carries it on"},
    CodeMeaning{S::kArchive, "*", "*", "OLD_FILE へのコピーに失敗した（ERR.LOG に理由）",
                "the job's files could not all be copied to OLD_FILE (ERR.LOG says which)"},

    // The mail service's numbers ("Error <number>: ...") and its ERR.LOG codes.
    CodeMeaning{S::kMail, "32002", "", "メールサービスの障害（Transport の設定を含む）",
                "any other failure of the mail service"},
    CodeMeaning{S::kMail, "32003", "", "メールサービスにログオンできない（ユーザ・パスワード・Store）",
                "logon failed: wrong user or password, Store not understood"},
    CodeMeaning{S::kMail, "32011", "", "送信するファイルが読めない", "the file to send cannot be read"},
    CodeMeaning{S::kMail, "32013", "", "受信した添付ファイルを EDIINFIL に保存できない",
                "a received attachment cannot be stored in EDIINFIL"},
    CodeMeaning{S::kMail, "32014", "", "相手先メールアドレスがメールアドレスではない",
                "the partner address is no mail address"},
    CodeMeaning{S::kMail, "32023", "", "メールサーバに接続できない・切断された・応答がない",
                "no connection, connection lost, or the server stayed silent"},
    CodeMeaning{S::kMail, "32030", "", "メールサーバとの暗号化接続ができない（TLS・証明書）",
                "secure connection refused: no TLS, handshake failed or certificate refused"},
    CodeMeaning{S::kMail, "32031", "", "警告: 暗号化しない接続を許可している（AllowPlain）",
                "warning: AllowPlain is set"},
    CodeMeaning{S::kMail, "5101", "", "添付ファイルのない相手先メール（未読のまま）",
                "a partner mail without attachment (left unread)"},
    CodeMeaning{S::kMail, "5102", "", "添付ファイルを復号できない相手先メール（未読のまま）",
                "a partner mail whose attachment does not decode (left unread)"},
    CodeMeaning{S::kMail, "5103", "", "警告: 相手先アドレスを名乗るが送信者の規則に合わないメール（未読のまま）",
                "warning: a mail naming the partner address fails the sender rule (left unread)"},
    CodeMeaning{S::kMail, "*", "*", "メールサービスの障害", "a failure of the mail service"},

    // The converters' ERR.LOG codes; "警告" lines skip and go on, the others end the conversion.
    CodeMeaning{S::kConverter, "0000", "", "変換の開始", "a conversion starts"},
    CodeMeaning{S::kConverter, "0001", "",
                "フォーマット情報マスタ(FL1902)に行がない（ローカル→CII: メッセージグループ情報マスタに行がない）",
                "no FL1902 format row (local to CII: no FL1916 message-group row)"},
    CodeMeaning{S::kConverter, "0002", "", "フォーマット情報マスタ(FL1902)に行がない（ローカル→CII）",
                "no FL1902 format row (local to CII)"},
    CodeMeaning{S::kConverter, "0003", "", "レコードフォーマット情報マスタにメッセージ側の項目がない",
                "no message-side FL1903 items"},
    CodeMeaning{S::kConverter, "0004", "", "レコードフォーマット情報マスタにローカル側の項目がない",
                "no local-side FL1903 items"},
    CodeMeaning{S::kConverter, "0005", "", "グループ番号が正しくない（ローカル→CII）",
                "a bad group number (local to CII)"},
    CodeMeaning{S::kConverter, "0006", "", "項目№からタグを作れない", "an item number without tag form"},
    CodeMeaning{S::kConverter, "0007", "", "ファイルがレコードの途中で終わっている",
                "the file ends inside a record"},
    CodeMeaning{S::kConverter, "0008", "", "警告: 不明なレコード種別を読み飛ばした",
                "warning: an unknown record kind skipped"},
    CodeMeaning{S::kConverter, "0009", "", "警告: 長さのバイトが正しくない", "warning: a bad length byte"},
    CodeMeaning{S::kConverter, "0010", "", "警告: 不明なタグ", "warning: an unknown tag"},
    CodeMeaning{S::kConverter, "0011", "", "警告: 1バイトモードの番号付きグループ",
                "warning: a numbered group in one-byte mode"},
    CodeMeaning{S::kConverter, "0012", "", "警告: 長さ違い", "warning: a length mismatch"},
    CodeMeaning{S::kConverter, "0013", "", "警告: 意味のないバイト", "warning: a meaningless byte"},
    CodeMeaning{S::kConverter, "0015", "", "空のデータ要素", "an empty data element"},
    CodeMeaning{S::kConverter, "0016", "", "65536バイト以上の値", "a value of 65536 bytes or more"},
    CodeMeaning{S::kConverter, "0017", "", "32002バイト続けてレコードがない（CIIファイルではない）",
                "no record in 32002 bytes: not a CII file"},
    CodeMeaning{S::kConverter, "0021", "", "警告: 不明な属性の組み合わせ", "warning: an unknown attribute pair"},
    CodeMeaning{S::kConverter, "0022", "", "警告: 数値が桁あふれ（右の桁を残した）",
                "warning: a number cut to its field (rightmost digits kept)"},
    CodeMeaning{S::kConverter, "0031", "", "入力ファイルを開けない・読めない", "the input cannot be opened or read"},
    CodeMeaning{S::kConverter, "0032", "", "XML文書が正しくない", "the document is not well-formed XML"},
    CodeMeaning{S::kConverter, "0033", "", "警告: マスタにないデータ要素を読み飛ばした",
                "warning: a data element without master item skipped"},
    CodeMeaning{S::kConverter, "0034", "", "警告: マスタにないグループを読み飛ばした",
                "warning: a group without master item skipped"},
    CodeMeaning{S::kConverter, "0035", "", "警告: 16進数でない B 属性の値を読み飛ばした",
                "warning: a B value that is not hexadecimal skipped"},
    CodeMeaning{S::kConverter, "0036", "", "出力ファイルを書けない", "the output cannot be written"},
    CodeMeaning{S::kConverter, "0037", "", "警告: 7桁を超える長さのメッセージを読み飛ばした",
                "warning: a message over the 7-digit length skipped"},
    CodeMeaning{S::kConverter, "0038", "", "警告: 値の制御文字を ? で出力した",
                "warning: control characters written as ?"},
    CodeMeaning{S::kConverter, "0039", "", "警告: グループ終了のないCIIファイル（XMLを出力しない）",
                "warning: a CII file without group end: no XML written"},
    CodeMeaning{S::kConverter, "0040", "", "警告: ローカルの文字コードにない文字を ? にした、または文字列を切り詰めた",
                "warning: characters the local code lacks written as ?, or a text cut to its field"},
    // The check of a received CII file; a site may turn each check into a warning ([CIICHECK]).
    CodeMeaning{S::kConverter, "5201", "", "受信ファイル検査: グループの構成（ヘッダ・データ・終了レコード）が不正",
                "check: the groups (header, data records, end record)"},
    CodeMeaning{S::kConverter, "5202", "", "受信ファイル検査: レコードが途中で切れているか長さの位置に終了バイトがない",
                "check: a record cut short or without its end byte"},
    CodeMeaning{S::kConverter, "5203", "", "受信ファイル検査: 格納ブロックが格納モードに合わない",
                "check: storage blocks do not follow the storage mode"},
    CodeMeaning{S::kConverter, "5204", "", "受信ファイル検査: メッセージ番号が続いていない",
                "check: messages not numbered 1, 2, 3, ..."},
    CodeMeaning{S::kConverter, "5205", "", "受信ファイル検査: 終了レコードの件数が違う",
                "check: the end record's count differs from the messages read"},
    CodeMeaning{S::kConverter, "5206", "", "受信ファイル検査: 最後の終了レコードの後に余分なデータ",
                "check: bytes after the last end record"},
    CodeMeaning{S::kConverter, "5210", "", "テストデータのため登録しない（.TST ファイルに出力）",
                "test data, not registered (kept in the .TST file)"},
    CodeMeaning{S::kConverter, "5211", "", "テストデータを登録した（RegisterTestData=1）",
                "test data registered (RegisterTestData=1)"},
    CodeMeaning{S::kConverter, "9999", "", "ファイルまたはデータベースの障害", "a file or database failure"},
    CodeMeaning{S::kConverter, "*", "*", "変換の報告", "a converter's report"},
};

bool Matches(std::string_view pattern, std::string_view value) { return pattern == "*" || pattern == value; }

}  // namespace

std::span<const CodeMeaning> CodeMeanings() { return kTable; }

const CodeMeaning& MeaningOf(CodeSource source, std::string_view code, std::string_view detail) {
    std::string c = TrimBlanks(std::string(code));
    std::string d = TrimBlanks(std::string(detail));
    if (d == "0000") d.clear();
    if (source == S::kRegistration && RegistrationEndedWell(c)) c = "00";
    // Four passes, most specific first: code and detail, code, detail, neither.
    for (int pass = 0; pass < 4; ++pass) {
        const bool any_code = pass >= 2;
        const bool any_detail = pass == 1 || pass == 3;
        for (const CodeMeaning& m : kTable) {
            if (m.source != source) continue;
            if ((m.code == "*") != any_code || (m.detail == "*") != any_detail) continue;
            if (Matches(m.code, c) && Matches(m.detail, d)) return m;
        }
    }
    // Every source ends with its fallback; the last entry stands in should one be missing.
    return kTable.back();
}

CodeSource SourceOfKind(std::string_view kind) {
    const std::string k = TrimBlanks(std::string(kind));
    if (k == "03") return S::kJob;
    if (k == "10") return S::kReceive;
    if (k == "41") return S::kRegistration;
    return S::kConversion;
}

const CodeMeaning& MeaningOfLogCode(std::string_view code) {
    const CodeMeaning& converter = MeaningOf(S::kConverter, code);
    if (converter.code != "*") return converter;
    return MeaningOf(S::kMail, code);
}

}  // namespace edi
