// The registration stage: the parameter file naming the local files, the registration program
// started and waited for, its status file read into the stage's history row.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "startup/IniFile.h"
#include "transfer/FileNaming.h"
#include "transfer/JobOutcome.h"
#include "transfer/JobRunner.h"

namespace edi {
namespace {

// The section is read into a buffer of this many bytes: entries and their NULs, then one more NUL.
constexpr std::size_t kJkbnBuffer = 225;
constexpr std::size_t kPathBuffer = 256;
constexpr int kStatusColumns = 31;

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The line's characters, one UTF-8 sequence each.
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> chars;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        chars.push_back(text.substr(i, n));
        i += n;
    }
    return chars;
}

std::string Columns(const std::vector<std::string>& chars, int first, int count) {
    std::string out;
    for (int c = first; c < first + count; ++c) out += chars[static_cast<std::size_t>(c - 1)];
    return out;
}

// Blanks alone count as 0; otherwise decimal digits with blanks around.
std::optional<std::int64_t> CountValue(const std::string& field) {
    const std::string digits = TrimBlanks(field);
    if (digits.empty()) return 0;
    std::int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string StageIniPath(const WorkArea& work) {
    if (work.IniOverride) return work.IniOverride->string();
    return PathInFolder(work.IniFolder, "EDI.ini");
}

std::vector<std::string> JkbnEntriesOf(std::string_view section_text) {
    std::vector<std::string> entries;
    std::size_t used = 0;
    std::size_t pos = 0;
    while (pos <= section_text.size()) {
        std::size_t end = section_text.find('\n', pos);
        if (end == std::string_view::npos) end = section_text.size();
        std::string line(section_text.substr(pos, end - pos));
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string entry = TrimBlanks(line);
        if (entry.empty() || entry == "\\") break;
        const std::size_t bytes = static_cast<std::size_t>(AnsiLenB(entry)) + 1;
        if (used + bytes > kJkbnBuffer - 1) break;
        used += bytes;
        entries.push_back(entry);
        if (end == section_text.size()) break;
    }
    return entries;
}

std::vector<std::string> ReadJkbnEntries(const std::string& ini_path) {
    std::ifstream in(ini_path, std::ios::binary);
    if (!in) return {};
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string section;
    bool inside = false;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t end = raw.find('\n', pos);
        if (end == std::string::npos) end = raw.size();
        std::string line = raw.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = TrimBlanks(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            if (inside) break;
            const std::size_t close = trimmed.find(']');
            inside = close != std::string::npos && UpperAscii(TrimBlanks(trimmed.substr(1, close - 1))) == "JKBN_Z_J";
            continue;
        }
        if (inside) section += ToUnicodeText(std::string_view(line)) + "\n";
    }
    return JkbnEntriesOf(section);
}

std::string StatusFileName(std::int32_t serial) { return SerialPart(serial) + "_Z_IN_STATUS.TXT"; }

std::vector<std::string> ParameterFileLines(const std::vector<std::string>& entries, std::int32_t serial,
                                            std::string_view center_code, std::string_view operator_code,
                                            std::string_view status_folder, std::string_view maker_code) {
    std::vector<std::string> lines;
    const std::string stem = SerialPart(serial) + "_RCV_" + LocalCenterCode(center_code);
    for (const std::string& entry : entries) {
        lines.push_back("/[EDI]" + entry + "TXT='%EDI_IN%" + stem + entry + ".LOC'");
    }
    lines.push_back("/[EDI]OPERATOR='" + std::string(operator_code) + "'");
    lines.push_back("/[EDI]STATUS_FILE='" + PathInFolder(status_folder, StatusFileName(serial)) + "'");
    lines.push_back("/[EDI]MAKER='" + std::string(maker_code) + "'");
    return lines;
}

bool WriteLinesCrLf(const std::string& path, const std::vector<std::string>& lines) {
    Bytes bytes;
    for (const std::string& line : lines) {
        AppendAnsiBytes(line, bytes);
        bytes.push_back('\r');
        bytes.push_back('\n');
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

StatusLine ParseStatusLine(const std::string& line) {
    std::vector<std::string> chars = Characters(line);
    if (chars.size() < kStatusColumns) chars.resize(kStatusColumns, " ");
    StatusLine status;
    status.取引情報区分 = Columns(chars, 2, 4);
    status.相手先企業コード = Columns(chars, 6, 12);
    const auto read = CountValue(Columns(chars, 18, 6));
    const auto written = CountValue(Columns(chars, 24, 6));
    if (read) status.入力レコード数 = static_cast<std::int32_t>(*read);
    if (written) status.出力レコード数 = static_cast<std::int32_t>(*written);
    status.終了コード = Columns(chars, 30, 2);
    const auto end_value = CountValue(status.終了コード);
    status.success = end_value && *end_value == 0;
    return status;
}

std::string ReadStatusFile(const std::string& path, StatusLine& status) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return "9999";
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return "9999";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A NUL or other control byte, or a byte that is no code page 932 text, makes the line
    // unreadable: none of it may reach the history row.
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "9999";
    }
    const std::string text = ToUnicodeText(std::string_view(line));
    if (text.find("\xEF\xBF\xBD") != std::string::npos) return "9999";
    status = ParseStatusLine(text);
    // Counts that are not numbers make the line unreadable: nothing of it is recorded as counted.
    if (!status.success || !status.入力レコード数 || !status.出力レコード数) return "9999";
    return "0000";
}

RegistrationSettings ReadRegistrationSettings(const WorkArea& work) {
    const std::string path = StageIniPath(work);
    const IniFile ini = IniFile::Load(path);
    RegistrationSettings settings;
    settings.PRPATH = IniValueOf(ini, "PATH", "PRPATH", kPathBuffer);
    settings.MGCMDLINEZR = IniValueOf(ini, "PATH", "MGCMDLINEZR", kPathBuffer);
    settings.STPATH = IniValueOf(ini, "PATH", "STPATH", kPathBuffer);
    settings.MGSTPATH = work.MGSTPATH;
    settings.FL1102_FILE = IniValueOf(ini, "PATH", "FL1102_FILE", kPathBuffer);
    settings.Entries = ReadJkbnEntries(path);
    return settings;
}

void JobRunner::LoadPartnerCompanies(const std::string& center_code, std::string& end_code, std::string& detail_code) {
    partner_companies_.clear();
    end_code = "7300";
    detail_code = "0001";
    work_.SqlText = "SELECT * FROM FL1915センタ利用企業マスタ WHERE センターコード = " + SqlQuote(center_code);
    ResultSet set;
    if (!OpenQuery(work_, set) || set.EndOfSet()) return;
    for (; !set.EndOfSet(); set.MoveNext()) {
        partner_companies_.push_back(ValueOrDefault(set.Value("相手先企業コード"), ""));
    }
    set.Close();
    end_code = "0000";
    detail_code = "0000";
}

std::string JobRunner::ParameterFilePath(const RegistrationSettings& settings, std::int32_t serial) const {
    return PathInFolder(settings.PRPATH, "EDI" + SerialPart(serial) + ".INI");
}

bool JobRunner::WriteParameterFile(const RegistrationSettings& settings, const std::string& center_code,
                                   std::int32_t serial, const std::string& maker_code) {
    return WriteLinesCrLf(
        ParameterFilePath(settings, serial),
        ParameterFileLines(settings.Entries, serial, center_code, work_.OperatorCode, settings.MGSTPATH, maker_code));
}

std::string JobRunner::StartedMarkerPath(const RegistrationSettings& settings, std::int32_t serial) const {
    return PathInFolder(settings.PRPATH, ".EDI" + SerialPart(serial) + ".started");
}

void JobRunner::RunRegistrationProgram(const RegistrationSettings& settings, std::int32_t serial, std::string& end_code,
                                       std::string& detail_code) {
    if (starter_.RunAndWait(settings.MGCMDLINEZR + " @" + ParameterFilePath(settings, serial),
                            StartedMarkerPath(settings, serial))) {
        end_code = "0000";
        detail_code = "0000";
    } else {
        end_code = "4100";
        detail_code = "0001";
    }
}

void JobRunner::ReadStatusInto(const RegistrationSettings& settings, const std::string& center_code,
                               std::int32_t serial, HistoryEnd& end) {
    StatusLine status;
    if (ReadStatusFile(PathInFolder(settings.STPATH, StatusFileName(serial)), status) != "0000") {
        end.終了コード = "9999";
        return;
    }
    end.取引情報区分 = status.取引情報区分;
    end.相手先企業コード = status.相手先企業コード;
    end.入力レコード数 = status.入力レコード数.value_or(0);
    end.出力レコード数 = status.出力レコード数.value_or(0);
    end.終了コード = status.終了コード;
    end.ファイル名 = PathInFolder(settings.FL1102_FILE, SerialPart(serial) + "_RCV_" + FileCenterCode(center_code) +
                                                           status.取引情報区分 + ".TXT");
}

void JobRunner::Register(const RegistrationSettings& settings, const std::string& center_code, std::int32_t serial,
                         HistoryEnd& end) {
    // Without an information kind there is nothing to name, and without its parameter file the
    // program would act on whatever file of that name was there: it is not started then.
    if (settings.Entries.empty() || !WriteParameterFile(settings, center_code, serial, partner_companies_.front())) {
        end.終了コード = "9999";
        end.詳細コード = "9999";
        return;
    }
    // The stage row is on disk before the program starts: a run that ends while it works is
    // carried on from that row and never starts it twice.
    if (!CommitWrites(work_)) {
        end.終了コード = "9999";
        end.詳細コード = "9999";
        return;
    }
    std::string end_code;
    std::string detail_code;
    RunRegistrationProgram(settings, serial, end_code, detail_code);
    std::error_code ec;
    if (!std::filesystem::exists(PathInFolder(settings.STPATH, StatusFileName(serial)), ec)) {
        end_code = "4100";
        detail_code = "0002";
    }
    if (end_code == "0000") {
        ReadStatusInto(settings, center_code, serial, end);
    } else {
        end.終了コード = end_code;
        end.詳細コード = detail_code;
    }
}

void JobRunner::CloseRegistrationRow(const RegistrationSettings& settings, std::int32_t serial, HistoryEnd& end,
                                     std::string& result) {
    CloseHistory(work_, end, clock_);
    if (end.Result == "9999" && work_.Db && work_.Db->LastFailure() == DbFailure::kOther) {
        // Values the database refuses must not leave the row open: it is closed as unreadable.
        // A busy or lost database leaves it open, and the next run reads the status file again.
        HistoryEnd plain;
        plain.通番 = end.通番;
        plain.枝番 = end.枝番;
        plain.終了コード = "9999";
        plain.詳細コード = "9999";
        CloseHistory(work_, plain, clock_);
        if (plain.Result == "0000") end = plain;
    }
    if (!RegistrationEndedWell(end.終了コード)) NoteFailure("registration", end.終了コード, end.詳細コード);
    if (end.Result == "0000") {
        // A stage run on its own committed the close as it was written.
        if (in_job_) {
            closed_marker_ = StartedMarkerPath(settings, serial);
        } else {
            std::error_code ec;
            std::filesystem::remove(StartedMarkerPath(settings, serial), ec);
        }
        return;
    }
    // A database failure leaves its own code; a row that was not there leaves 終了コード "9999".
    result = end.Result.empty() ? end.終了コード : end.Result;
}

void JobRunner::RunRegistrationStage(const std::string& center_code, std::int32_t serial, std::string& result) {
    result = "0000";
    std::string end_code;
    std::string detail_code;
    LoadPartnerCompanies(center_code, end_code, detail_code);
    if (end_code != "0000") {
        // Nothing is recorded, but nothing is registered either: the operator must hear of it.
        NoteFailure("registration", end_code, detail_code);
        return;
    }

    HistoryStart start = ReceiveHistoryStart(serial, kKindRegistration, center_code);
    OpenStageHistory(work_, start, clock_, next_branch_);
    NoteStageOpened(start);
    if (start.Result != "0000") {
        result = "9999";
        return;
    }

    const RegistrationSettings settings = ReadRegistrationSettings(work_);
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = start.枝番;
    Register(settings, center_code, serial, end);
    CloseRegistrationRow(settings, serial, end, result);
}

void JobRunner::CarryOnRegistration(const std::string& center_code, std::int32_t serial, std::int16_t branch,
                                    std::string& result) {
    result = "0000";
    const RegistrationSettings settings = ReadRegistrationSettings(work_);
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = branch;
    std::error_code ec;
    if (std::filesystem::exists(PathInFolder(settings.STPATH, StatusFileName(serial)), ec)) {
        // The program ended after its run did: its status file is read, it is not started again.
        ReadStatusInto(settings, center_code, serial, end);
    } else if (std::filesystem::exists(StartedMarkerPath(settings, serial), ec)) {
        // Started and gone without a status file: whatever it registered stays, and an operator
        // decides about the rest.
        end.終了コード = "4100";
        end.詳細コード = std::string(kRegistrationInterrupted);
    } else {
        std::string end_code;
        std::string detail_code;
        LoadPartnerCompanies(center_code, end_code, detail_code);
        if (end_code == "0000") {
            Register(settings, center_code, serial, end);
        } else {
            end.終了コード = end_code;
            end.詳細コード = detail_code;
        }
    }
    CloseRegistrationRow(settings, serial, end, result);
}

}  // namespace edi
