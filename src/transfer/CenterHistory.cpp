#include "transfer/CenterHistory.h"

#include <algorithm>
#include <fstream>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

std::string DateTime(const DbValue& date, const DbValue& time) {
    if (!date) return {};
    return TrimBlanks(*date) + (time ? " " + TrimBlanks(*time) : std::string());
}

// The serial a converter's start line names ("--K800400 start--00000007 ..."), or 0.
std::int32_t StartLineSerial(std::string_view line) {
    const std::size_t marker = line.find("start--");
    if (line.size() < 8 || line.substr(4, 4) != "--K8" || marker == std::string_view::npos) return 0;
    const std::string_view digits = line.substr(marker + 7, 8);
    if (digits.size() != 8 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    return std::stoi(std::string(digits));
}

}  // namespace

HistoryPage ReadCenterHistory(WorkArea& work, const std::string& center_code, std::int32_t before, int count) {
    HistoryPage page;
    const std::string center = SqlQuote(center_code);
    work.SqlText = "SELECT 通番, 処理終了日付 FROM FL1102処理履歴ファイル WHERE センターコード = " + center +
                   " AND 枝番 = 0 AND 処理種別 = '03' AND 送受信種別 = 'R'" +
                   (before > 0 ? " AND 通番 < " + std::to_string(before) : std::string()) +
                   " ORDER BY 通番 DESC LIMIT " + std::to_string(count + 1);
    ResultSet set;
    if (!OpenQuery(work, set)) {
        page.failed = true;
        return page;
    }
    std::map<std::int32_t, FinishedJob> jobs;
    for (; !set.EndOfSet(); set.MoveNext()) {
        const std::optional<std::int32_t> serial = SerialValue(set.Value("通番"));
        if (!serial) continue;
        if (static_cast<int>(jobs.size()) == count) {
            page.older = true;
            break;
        }
        FinishedJob& job = jobs[*serial];
        job.serial = *serial;
        job.center_code = center_code;
        job.open = !set.Value("処理終了日付").has_value();
    }
    set.Close();
    if (jobs.empty()) return page;
    const std::string low = std::to_string(jobs.begin()->first);
    const std::string high = std::to_string(jobs.rbegin()->first);

    // The rows of those jobs; other centers' jobs between them are left out by the center code.
    work.SqlText =
        "SELECT 通番, 枝番, 処理種別, 処理開始日付, 処理開始時刻, 処理終了日付, 処理終了時刻, 入力レコード数, "
        "出力レコード数, 最終シーケンス番号, 終了コード, 詳細コード, ファイル名 FROM FL1102処理履歴ファイル WHERE "
        "センターコード = " +
        center + " AND 通番 BETWEEN " + low + " AND " + high + " ORDER BY 通番 DESC, 枝番";
    if (!OpenQuery(work, set)) {
        page.failed = true;
        return page;
    }
    std::map<std::int32_t, CenterJob> shown;
    for (; !set.EndOfSet(); set.MoveNext()) {
        const std::optional<std::int32_t> serial = SerialValue(set.Value("通番"));
        const std::optional<std::int32_t> branch = SerialValue(set.Value("枝番"));
        if (!serial || !branch || *branch > 32767 || !jobs.contains(*serial)) continue;
        HistoryLine line;
        line.枝番 = static_cast<std::int16_t>(*branch);
        line.処理種別 = TrimOrDefault(set.Value("処理種別"), "");
        line.開始 = DateTime(set.Value("処理開始日付"), set.Value("処理開始時刻"));
        line.終了 = DateTime(set.Value("処理終了日付"), set.Value("処理終了時刻"));
        line.入力レコード数 = SerialValue(set.Value("入力レコード数"));
        line.出力レコード数 = SerialValue(set.Value("出力レコード数"));
        line.終了コード = TrimOrDefault(set.Value("終了コード"), "");
        line.詳細コード = TrimOrDefault(set.Value("詳細コード"), "");
        line.ファイル名 = TrimOrDefault(set.Value("ファイル名"), "");
        CenterJob& job = shown[*serial];
        job.serial = *serial;
        if (line.枝番 == 0) {
            job.takes_over = SerialValue(set.Value("最終シーケンス番号")).value_or(0);
        } else {
            jobs[*serial].rows.push_back(
                JobRow{line.枝番, line.処理種別, line.終了.empty(), line.終了コード, line.詳細コード, line.ファイル名});
        }
        job.rows.push_back(std::move(line));
    }
    set.Close();

    // A later job that took a file of these jobs over names it in its job row.
    work.SqlText = "SELECT 通番, 最終シーケンス番号 FROM FL1102処理履歴ファイル WHERE センターコード = " + center +
                   " AND 枝番 = 0 AND 処理種別 = '03' AND 最終シーケンス番号 BETWEEN " + low + " AND " + high;
    if (!OpenQuery(work, set)) {
        page.failed = true;
        return page;
    }
    for (; !set.EndOfSet(); set.MoveNext()) {
        const std::int32_t taker = SerialValue(set.Value("通番")).value_or(0);
        const auto taken = jobs.find(SerialValue(set.Value("最終シーケンス番号")).value_or(0));
        if (taken != jobs.end()) taken->second.taken_by = std::max(taken->second.taken_by, taker);
    }
    set.Close();

    std::set<std::int32_t> serials;
    for (const auto& [serial, job] : jobs) serials.insert(serial);
    std::map<std::int32_t, std::vector<std::string>> logs = JobLogLines(work.Log.file, serials);
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        CenterJob job = std::move(shown[it->first]);
        job.serial = it->first;
        job.carry_on = JudgeCarryOn(it->second, work.EDIINFIL);
        job.log = std::move(logs[it->first]);
        page.jobs.push_back(std::move(job));
    }
    return page;
}

std::map<std::int32_t, std::vector<std::string>> JobLogLines(const std::filesystem::path& log_file,
                                                             const std::set<std::int32_t>& serials,
                                                             std::uintmax_t tail_bytes) {
    std::map<std::int32_t, std::vector<std::string>> lines;
    std::ifstream in(log_file, std::ios::binary);
    if (!in || serials.empty()) return lines;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(log_file, ec);
    std::string raw;
    if (!ec && size > tail_bytes) {
        in.seekg(static_cast<std::streamoff>(size - tail_bytes));
        std::getline(in, raw);  // the first line may be cut
    }
    std::int32_t current = 0;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::string line = ToUnicodeText(std::string_view(raw));
        if (const std::int32_t serial = StartLineSerial(line); serial != 0 || line.find("--K8") == 4) {
            current = serials.contains(serial) ? serial : 0;
        }
        if (current == 0) continue;
        std::vector<std::string>& kept = lines[current];
        if (kept.size() < kLogLinesPerJob) kept.push_back(line);
    }
    return lines;
}

LogLine ParseLogLine(const std::string& line) {
    std::size_t digits = 0;
    while (digits < line.size() && digits < 5 && line[digits] >= '0' && line[digits] <= '9') ++digits;
    // Codes are four digits; the mail service's numbers five.
    if (digits == 5 && line.compare(0, 2, "32") != 0) digits = 4;
    return LogLine{line.substr(0, digits), line.substr(digits)};
}

}  // namespace edi
