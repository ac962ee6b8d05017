#include "transfer/JobRecovery.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/JobCarryOn.h"
#include "transfer/JobRunner.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

bool SameBytes(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    std::ifstream in_a(a, std::ios::binary);
    std::ifstream in_b(b, std::ios::binary);
    std::vector<char> buffer_a(1 << 16);
    std::vector<char> buffer_b(1 << 16);
    while (in_a && in_b) {
        in_a.read(buffer_a.data(), static_cast<std::streamsize>(buffer_a.size()));
        in_b.read(buffer_b.data(), static_cast<std::streamsize>(buffer_b.size()));
        if (in_a.gcount() != in_b.gcount() ||
            !std::equal(buffer_a.begin(), buffer_a.begin() + in_a.gcount(), buffer_b.begin())) {
            return false;
        }
    }
    return in_a.eof() && in_b.eof();
}

template <typename Pick>
void RemoveNames(const std::string& folder, Pick pick) {
    std::error_code ec;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (pick(it->path().filename().string())) doomed.push_back(it->path());
    }
    for (const fs::path& path : doomed) fs::remove(path, ec);
}

bool EndsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::optional<std::vector<JobRow>> ReadJobRows(WorkArea& work, std::int32_t serial) {
    work.SqlText = "SELECT 枝番, 処理種別, 処理終了日付, 終了コード, 詳細コード, ファイル名 FROM FL1102処理履歴ファイル WHERE 通番 = " +
                   std::to_string(serial) + " ORDER BY 枝番";
    ResultSet set;
    if (!OpenQuery(work, set)) return std::nullopt;
    std::vector<JobRow> rows;
    for (; !set.EndOfSet(); set.MoveNext()) {
        const std::optional<std::int64_t> branch = ToNumber(set.Value("枝番"));
        if (!branch) return std::nullopt;
        if (*branch <= 0) continue;
        JobRow row;
        row.枝番 = static_cast<std::int16_t>(*branch);
        row.処理種別 = TrimBlanks(ValueOrDefault(set.Value("処理種別"), ""));
        row.open = !set.Value("処理終了日付").has_value();
        row.終了コード = ValueOrDefault(set.Value("終了コード"), "");
        row.詳細コード = ValueOrDefault(set.Value("詳細コード"), "");
        row.ファイル名 = ValueOrDefault(set.Value("ファイル名"), "");
        rows.push_back(std::move(row));
    }
    return rows;
}

JobProgress ProgressOf(const std::vector<JobRow>& rows) {
    JobProgress progress;
    progress.carried_on = true;
    for (const JobRow& row : rows) {
        StageRow* stage = row.処理種別 == kKindTransfer       ? &progress.receive
                          : row.処理種別 == kKindRegistration ? &progress.registration
                                                                : nullptr;
        if (stage == nullptr) {
            if (row.open) progress.cut_short.push_back(row.枝番);
        } else if (row.open) {
            stage->open = row.枝番;
        } else {
            stage->closed = true;
            stage->終了コード = row.終了コード;
            stage->詳細コード = row.詳細コード;
        }
    }
    progress.converted = progress.registration.open != 0 || progress.registration.closed;
    return progress;
}

std::optional<std::vector<UnfinishedJob>> FindUnfinishedJobs(WorkArea& work) {
    work.SqlText =
        "SELECT 通番, センターコード FROM FL1102処理履歴ファイル WHERE 枝番 = 0 AND 処理種別 = '03' AND "
        "送受信種別 = 'R' AND 処理終了日付 IS NULL ORDER BY 通番";
    ResultSet set;
    if (!OpenQuery(work, set)) return std::nullopt;
    std::vector<UnfinishedJob> jobs;
    for (; !set.EndOfSet(); set.MoveNext()) {
        const std::optional<std::int64_t> serial = ToNumber(set.Value("通番"));
        if (!serial || *serial <= 0 || *serial > std::numeric_limits<std::int32_t>::max()) continue;
        const std::string center = ValueOrDefault(set.Value("センターコード"), "");
        // Another terminal's jobs are its own to carry on.
        const bool ours = std::any_of(work.Centers.begin(), work.Centers.end(),
                                      [&](const CenterEntry& entry) { return entry.CenterCode == center; });
        if (ours) jobs.push_back(UnfinishedJob{static_cast<std::int32_t>(*serial), center});
    }
    return jobs;
}

void RemoveJobTemporaries(const std::string& folder, std::int32_t serial) {
    const std::string prefix = "." + SerialPart(serial);
    RemoveNames(folder, [&](const std::string& name) { return name.starts_with(prefix) && !EndsWith(name, ".mail"); });
}

void RemoveConvertedFiles(const std::string& folder, std::int32_t serial, const std::string& center_code) {
    const std::string serial_part = SerialPart(serial);
    const std::string local_stem = serial_part + "_RCV_" + LocalCenterCode(center_code);
    std::error_code ec;
    // Only a CII file beside a received XML file is derived; a received CII file is the message.
    const bool xml_received =
        fs::exists(PathInFolder(folder, ReceivedFileName(serial, center_code, "XML")), ec);
    const std::string derived_cii = ReceivedFileName(serial, center_code, "CII");
    RemoveNames(folder, [&](const std::string& name) {
        if (!name.starts_with(serial_part)) return false;
        if (EndsWith(name, ".tmp")) return true;
        if (name.starts_with(local_stem) && (EndsWith(name, ".LOC") || EndsWith(name, kTestDataExtension))) return true;
        return xml_received && name == derived_cii;
    });
}

int FinishLinkMove(const std::string& link_path, const std::string& received_path) {
    std::error_code ec;
    if (!fs::is_regular_file(received_path, ec)) return MoveFile(link_path, received_path);
    if (fs::is_regular_file(link_path, ec) && !fs::equivalent(link_path, received_path, ec) &&
        SameBytes(link_path, received_path)) {
        fs::remove(link_path, ec);
        if (ec) return 9;
    }
    return 0;
}

bool JobRunner::CarryOnJob(std::int32_t serial, const std::string& center_code) {
    outcome_ = JobOutcome{};
    serial_ = serial;
    more_mail_waiting_ = false;
    if (work_.Db) work_.Db->ForgetFailures();
    const JobInHand job_in_hand(*this);
    const auto row = std::find_if(work_.Centers.begin(), work_.Centers.end(),
                                  [&](const CenterEntry& entry) { return entry.CenterCode == center_code; });
    if (row == work_.Centers.end()) return false;
    work_.CurrentRow = static_cast<std::int16_t>(row - work_.Centers.begin());
    display_.MakeRowCurrent(work_.CurrentRow);
    SetRowState(kRowRunning);

    const std::optional<std::vector<JobRow>> rows = ReadJobRows(work_, serial);
    const std::optional<std::int32_t> takes_over = TakenOverSerial(work_, serial);
    if (!rows || !takes_over) {
        ShowCell(kReceiveColumn, "通番ｴﾗｰ");
        SetRowState(kRowFailed);
        NoteFailure("job", "9999", "");
        return false;
    }
    // Its rows come in branch order: the job's next stage row takes the branch after the last.
    const std::int16_t last = rows->empty() ? 0 : rows->back().枝番;
    next_branch_ = last < std::numeric_limits<std::int16_t>::max() ? static_cast<std::int16_t>(last + 1) : 0;
    RemoveJobTemporaries(work_.EDIINFIL, serial);
    RemoveJobTemporaries(work_.OLD_FILE, serial);
    JobProgress progress = ProgressOf(*rows);
    progress.takes_over = *takes_over;
    FinishJob(serial, RunStages(center_code, serial, progress), true, progress.takes_over);
    return true;
}

}  // namespace edi
