// The conversion stage: the job's XML files into its CII file, then the CII file into local
// files, one history row per conversion.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <regex>
#include <system_error>

#include "convert/CiiCheck.h"
#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"
#include "startup/DbSession.h"
#include "transfer/FileNaming.h"
#include "transfer/JobRunner.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

bool EndsInCii(const std::string& path) {
    if (path.size() < 3) return false;
    std::string tail = path.substr(path.size() - 3);
    for (char& c : tail) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return tail == "CII";
}

}  // namespace

// The XML conversion rows take 33/34, the local conversion rows 31/32, by the file's ending.
void OpenConversionRow(WorkArea& work, const Clock& clock, const std::string& path, bool xml, HistoryStart& start,
                       std::int16_t branch) {
    const bool cii = EndsInCii(path);
    start.処理種別 =
        std::string(xml ? (cii ? kKindCiiNamedXml : kKindXmlToCii) : (cii ? kKindCiiToLocal : kKindOtherToLocal));
    OpenStageHistory(work, start, clock, branch);
}

void CloseConversionRow(WorkArea& work, const Clock& clock, const std::string& path, HistoryEnd& end) {
    end.ファイル名 = path;
    CloseHistory(work, end, clock);
}

bool MatchesPattern(const std::string& pattern, const std::string& text) {
    try {
        const std::regex expression(pattern, std::regex::ECMAScript | std::regex::icase);
        return std::regex_search(text, expression);
    } catch (const std::exception&) {
        return false;
    }
}

std::string LocalCenterCode(std::string_view center_code) {
    std::string padded(center_code);
    padded += "____________";
    // Cut at the twelfth character, never inside a UTF-8 sequence.
    std::size_t chars = 0;
    std::size_t i = 0;
    while (i < padded.size() && chars < 12) {
        const auto lead = static_cast<unsigned char>(padded[i]);
        i += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        ++chars;
    }
    return padded.substr(0, std::min(i, padded.size()));
}

void JobRunner::RunConversionStage(const std::string& center_code, std::int32_t serial, std::string& result) {
    result = "0000";
    std::string read;
    const std::vector<CenterRow>& rows = CenterRowsOfJob(center_code, read);
    if (read != "0000" || rows.empty()) {
        result = "9999";
        return;
    }
    const DbValue link_path = rows.front().TCX受信ファイルパス;
    const std::string data_form = rows.front().送受信データ形式;
    const std::string partner_kind = rows.front().相手先種別;
    const std::string method = TrimBlanks(rows.front().送受信方式);

    const std::string cii_path = PathInFolder(work_.EDIINFIL, ReceivedFileName(serial, center_code, "CII"));
    const std::string local_path =
        PathInFolder(work_.EDIINFIL, SerialPart(serial) + "_RCV_" + LocalCenterCode(center_code) + ".LOC");

    HistoryStart start;
    start.通番 = serial;
    start.送受信種別 = "R";
    start.相手先種別 = partner_kind;
    start.センターコード = center_code;
    HistoryEnd end;
    end.通番 = serial;

    if (data_form == "X") {
        // The receive stage puts the file of a link-package or mail center into the receive
        // folder, so the search runs there; a link-package center names its file, not a folder,
        // in TCX受信ファイルパス.
        const std::string folder = method == "Z" || method == "M" ? work_.EDIINFIL : TrimOrDefault(link_path, "");
        const std::string pattern = SerialPart(serial) + "_RCV_" + FileCenterCode(center_code) + "*.XML";
        std::vector<std::string> found;
        std::error_code ec;
        std::filesystem::directory_iterator it(folder, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            // Hidden names are files still being written or receipts, never a received message.
            if (!name.starts_with('.') && MatchesPattern(pattern, name)) found.push_back(PathInFolder(folder, name));
        }
        // A folder that is missing or cannot be listed counts as holding no file of the job.
        if (ec || found.empty()) {
            result = "9999";
            return;
        }
        for (const std::string& xml_path : found) {
            HistoryStart xml_start = start;
            OpenConversionRow(work_, clock_, xml_path, true, xml_start, next_branch_);
            NoteStageOpened(xml_start);
            // The rows written so far are committed before a converter runs, so that no
            // transaction waits through a conversion. Only local files are written until the
            // registration row's commit, which flushes them all.
            if (!CommitWrites(work_, CommitFlush::kWithNext)) {
                result = "9999";
                return;
            }
            converters_.XmlCiiConvert(work_, xml_path, cii_path, serial, values_);
            if (xml_start.Result != "0000") continue;
            end.枝番 = xml_start.枝番;
            end.格納モード = values_.格納モード;
            end.BPID = values_.BPID;
            end.取引情報区分 = values_.取引情報区分;
            end.終了コード = result;
            end.詳細コード = result;
            CloseConversionRow(work_, clock_, xml_path, end);
        }
    }

    OpenConversionRow(work_, clock_, cii_path, false, start, next_branch_);
    NoteStageOpened(start);
    if (!CommitWrites(work_, CommitFlush::kWithNext)) {
        result = "9999";
        return;
    }
    // A file received as CII is checked whole before any of it is converted; one that fails
    // is not converted, so none of its records reach registration, and it stays for a carry-on.
    CiiCheckOutcome checked;
    if (data_form != "X") converters_.CheckReceivedCii(work_, cii_path, serial, checked);
    std::string converted;
    auto count = [](std::int64_t n) { return static_cast<std::int32_t>(std::min<std::int64_t>(n, INT32_MAX)); };
    if (checked.failure) {
        converted = result = std::string(kCiiCheckFailed);
        end.終了コード = result;
        end.詳細コード = FormatCode(CiiCheckCode(checked.failure->check));
        end.入力レコード数 = count(checked.totals.messages);
    } else {
        converters_.RunLocalCiiConversion(work_, center_code, serial, "2", cii_path, local_path, converted, values_);
        if (converted == "0000" && values_.test_lines > 0) {
            // The row counts the messages converted and those handed on to registration.
            end.詳細コード = std::string(values_.test_held_back ? kTestDataHeldBack : kTestDataRegistered);
            end.入力レコード数 = count(values_.lines);
            end.出力レコード数 = count(values_.lines - (values_.test_held_back ? values_.test_lines : 0));
        }
    }
    values_.detail = end.詳細コード;
    if (start.Result == "0000") {
        end.枝番 = start.枝番;
        CloseConversionRow(work_, clock_, cii_path, end);
    }
    if (converted != "0000" && result == "0000") result = "9999";
}

}  // namespace edi
