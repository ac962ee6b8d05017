// One receive job per center row: receive, convert, register, in this order, stopping at the
// first stage that fails; every job and stage leaves its row in the process history, the
// job's files are copied into the archive folder and the row shows how far the job came.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/Clock.h"
#include "startup/DbSession.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"
#include "transfer/JobOutcome.h"
#include "transfer/JobRecovery.h"
#include "transfer/JobSeams.h"
#include "transfer/ProcessHistory.h"
#include "transfer/ProgressView.h"

namespace edi {

// Grid columns of the three stages.
inline constexpr int kReceiveColumn = 4;
inline constexpr int kConversionColumn = 5;
inline constexpr int kRegistrationColumn = 6;

// Row states.
inline constexpr std::int16_t kRowWaiting = 0;
inline constexpr std::int16_t kRowRunning = 1;
inline constexpr std::int16_t kRowDone = 2;
inline constexpr std::int16_t kRowFailed = 9;

// 処理種別 of the conversion rows.
inline constexpr std::string_view kKindCiiToLocal = "31";
inline constexpr std::string_view kKindOtherToLocal = "32";
inline constexpr std::string_view kKindCiiNamedXml = "33";
inline constexpr std::string_view kKindXmlToCii = "34";

// The center row's columns a job uses, as read from FL1903EDI制御マスタ.
struct CenterRow {
    std::string センターコード;
    std::string 相手先種別;
    std::string 送受信方式;
    std::optional<std::string> TCX受信ファイルパス;
    std::string 送受信データ形式;
    std::string 相手先メールアドレス;
};

// The center's rows (one per 相手先種別), in the order the database gives them: "0000", or
// "9999" when the database fails. A job reads them once; its receive stage takes the row with
// 相手先種別 "2", its conversion stage the first.
std::string ReadCenterRows(WorkArea& work, const std::string& center_code, std::vector<CenterRow>& rows);
// The receive stage's row among them. "0000"; "7002" when there is none; "6101" for method "Z"
// without a link-package path (the row is filled all the same).
std::string ReceiveCenterRow(const std::vector<CenterRow>& rows, CenterRow& row);
// Both at once: the center's row with 相手先種別 "2", or "9999" when the database fails.
std::string ReadCenterRow(WorkArea& work, const std::string& center_code, CenterRow& row);

// Case-insensitive ECMAScript search anywhere in text; a pattern that does not compile matches nothing.
bool MatchesPattern(const std::string& pattern, const std::string& text);

// A conversion's history row: 処理種別 "33"/"34" for an XML file (xml true), "31"/"32" for the
// CII file, the first of each pair when the path ends in "CII" in any letter case. branch as
// OpenStageHistory takes it.
void OpenConversionRow(WorkArea& work, const Clock& clock, const std::string& path, bool xml, HistoryStart& start,
                       std::int16_t branch = 0);
// Closes it with the path as ファイル名.
void CloseConversionRow(WorkArea& work, const Clock& clock, const std::string& path, HistoryEnd& end);

// The center code followed by underscores and cut to 12 characters; inner spaces stay spaces.
std::string LocalCenterCode(std::string_view center_code);

// --- registration program's files ---

// Entries of section JKBN_Z_J: whole lines in file order, read as into a 225-byte buffer,
// ending at an empty line or a line that is "\" alone after trimming spaces.
std::vector<std::string> ReadJkbnEntries(const std::string& ini_path);
std::vector<std::string> JkbnEntriesOf(std::string_view section_text);

// The parameter file's lines (without line ends), in order.
std::vector<std::string> ParameterFileLines(const std::vector<std::string>& entries, std::int32_t serial,
                                            std::string_view center_code, std::string_view operator_code,
                                            std::string_view status_folder, std::string_view maker_code);
// Writes the lines in code page 932 with CR LF, replacing the file. False when it cannot be written.
bool WriteLinesCrLf(const std::string& path, const std::vector<std::string>& lines);

// The status file's first line cut into its fields.
struct StatusLine {
    std::string 取引情報区分;                    // columns 2-5
    std::string 相手先企業コード;                // columns 6-17
    std::optional<std::int32_t> 入力レコード数;  // columns 18-23; nothing when not a number
    std::optional<std::int32_t> 出力レコード数;  // columns 24-29
    std::string 終了コード;                      // columns 30-31 as they stand
    bool success = false;                        // the end code's numeric value is 0 (blank counts as 0)
};
// Columns count characters; a shorter line reads as padded with spaces.
StatusLine ParseStatusLine(const std::string& line);
// "0000" with the fields of a success line; "9999" when the file is missing, unreadable or
// its end code is not zero (the fields are filled whenever the line could be read).
std::string ReadStatusFile(const std::string& path, StatusLine& status);

// The name of the status file: serial part + "_Z_IN_STATUS.TXT".
std::string StatusFileName(std::int32_t serial);

// Settings of section PATH the registration stage reads when it runs.
struct RegistrationSettings {
    std::string PRPATH;
    std::string MGCMDLINEZR;
    std::string STPATH;
    std::string MGSTPATH;
    std::string FL1102_FILE;
    std::vector<std::string> Entries;  // JKBN_Z_J
};
RegistrationSettings ReadRegistrationSettings(const WorkArea& work);

// The EDI.ini the stages read when they run: K500100_INI's file, else the one in IniFolder.
std::string StageIniPath(const WorkArea& work);

class JobRunner {
public:
    JobRunner(WorkArea& work, const Clock& clock, MessageBoxes& messages, ProgressView& progress, JobDisplay& display,
              Converters& converters, ProcessStarter& starter);

    // Runs the job of work.CurrentRow. With takes_over, the job takes over the received file of
    // that earlier job instead of receiving, and converts and registers it again (JobCarryOn.h).
    void RunJob(std::int32_t takes_over = 0);
    // Finishes a job that the end of an earlier run left unfinished, from where its history rows
    // and files say it stands: the stages it had not finished run (or are finished) under its
    // own serial, its rows are closed and its job row gets 詳細コード "8100". The center's row of
    // the grid shows it. False when the center is not in the grid or the job's rows cannot be read.
    bool CarryOnJob(std::int32_t serial, const std::string& center_code);
    // The end of a run: the commits its jobs deferred are put on disk, then the started markers
    // of the registrations they closed are removed. False when the flush failed; the markers
    // stay then, and the next run's rows still read the same.
    bool SettleRun();

    // How the last job ended: its first stage that did not end well, or ok().
    const JobOutcome& outcome() const { return outcome_; }
    // The serial of the last job, 0 when it could not be numbered.
    std::int32_t serial() const { return serial_; }
    // After the last job: another partner mail of its mail center waits.
    bool more_mail_waiting() const { return more_mail_waiting_; }
    // A new run: partner mails found without a storable attachment are taken up again (each
    // gets one job per run, whose row says why it is not stored).
    void ForgetPassedOverMails() { mails_passed_over_.clear(); }
    // A new run: the converters read the masters again, so a master changed since the last run counts.
    void ForgetMasters() { converters_.ForgetMasters(); }

    // Stores the state in row CurrentRow and has the screen recolour it.
    void SetRowState(std::int16_t state);
    // Copies every file of the folder whose name begins with the serial's eight digits into
    // OLD_FILE, replacing copies of the same name. False when a copy failed (ERR.LOG says which).
    bool ArchiveJobFiles(std::int32_t serial, std::int16_t direction);

    void RunReceiveStage(const std::string& center_code, std::int32_t serial, std::string& result);
    void RunConversionStage(const std::string& center_code, std::int32_t serial, std::string& result);
    void RunRegistrationStage(const std::string& center_code, std::int32_t serial, std::string& result);

    // Partner companies of the center, in query order; end code and detail "0000", or "7300"/"0001".
    void LoadPartnerCompanies(const std::string& center_code, std::string& end_code, std::string& detail_code);
    const std::vector<std::string>& partner_companies() const { return partner_companies_; }

    // The parameter file of the job; false when it cannot be written.
    bool WriteParameterFile(const RegistrationSettings& settings, const std::string& center_code, std::int32_t serial,
                            const std::string& maker_code);
    // MGCMDLINEZR + " @" + parameter file, waited for. "0000"/"0000", or "4100"/"0001".
    void RunRegistrationProgram(const RegistrationSettings& settings, std::int32_t serial, std::string& end_code,
                                std::string& detail_code);

    const ConversionValues& conversion_values() const { return values_; }

private:
    void ShowCell(int column, const std::string& text);
    CenterEntry& Row();
    std::string ParameterFilePath(const RegistrationSettings& settings, std::int32_t serial) const;
    // The file the registration program's process creates as it starts (hidden, beside the parameter file).
    std::string StartedMarkerPath(const RegistrationSettings& settings, std::int32_t serial) const;
    // The first failure of the job is the one reported.
    void NoteFailure(std::string_view stage, const std::string& code, const std::string& detail);
    // A statement of the job failed (or there is no session): the job's record may be incomplete.
    bool DatabaseFailed() const;
    // The branch of the job's next stage row, once a stage row was opened as start says.
    void NoteStageOpened(const HistoryStart& start);
    // The center's rows, read once per job.
    const std::vector<CenterRow>& CenterRowsOfJob(const std::string& center_code, std::string& result);

    // The stages of an open job from where it stands; the job's final code.
    std::string RunStages(const std::string& center_code, std::int32_t serial, const JobProgress& progress);
    // Archive copies, the row's end state and the job row's close.
    void FinishJob(std::int32_t serial, const std::string& final_code, bool carried_on, std::int32_t takes_over);

    // The transfer of the receive stage into its row's closing record.
    void Receive(const std::string& center_code, std::int32_t serial, bool carrying_on, HistoryEnd& end);
    void CloseReceiveRow(HistoryEnd& end, std::string& result);
    // Opens the receive stage's row; its branch, or 0 with result set when no row could be opened
    // (then there is no stage row to close: closing branch 0 would overwrite the job's own row).
    std::int16_t OpenReceiveRow(const std::string& center_code, std::int32_t serial, std::string& result);
    void CarryOnReceive(const std::string& center_code, std::int32_t serial, std::int16_t branch,
                        std::string& result);
    // The receive stage of a job that takes over an earlier job's received file (branch: its open row).
    void TakeOverReceived(const std::string& center_code, std::int32_t serial, std::int32_t taken_from,
                          std::int16_t branch, std::string& result);

    // Parameter file, program and status file of the registration into its row's closing record.
    void Register(const RegistrationSettings& settings, const std::string& center_code, std::int32_t serial,
                  HistoryEnd& end);
    void ReadStatusInto(const RegistrationSettings& settings, const std::string& center_code, std::int32_t serial,
                        HistoryEnd& end);
    void CloseRegistrationRow(const RegistrationSettings& settings, std::int32_t serial, HistoryEnd& end,
                              std::string& result);
    void CarryOnRegistration(const std::string& center_code, std::int32_t serial, std::int16_t branch,
                             std::string& result);

    WorkArea& work_;
    const Clock& clock_;
    MessageBoxes& messages_;
    ProgressView& progress_;
    JobDisplay& display_;
    Converters& converters_;
    ProcessStarter& starter_;
    ConversionValues values_;
    std::vector<std::string> partner_companies_;
    JobOutcome outcome_;
    std::int32_t serial_ = 0;
    bool more_mail_waiting_ = false;
    std::vector<std::string> mails_passed_over_;  // store ids, for the rest of the run
    // A started marker may go only once the close of its registration row is on disk: until
    // then it is what tells a carried-on job that the program ran. The job's own, until its
    // end is committed; then the run's, until the run's commits are flushed (SettleRun).
    std::string closed_marker_;
    std::vector<std::string> settled_markers_;
    // What one job keeps while it runs (RunJob, CarryOnJob): its writes held for the commits
    // it makes, the branch its next stage row takes (0 when it does not know it: the table is
    // asked then; the job writes all its rows itself, so it need not read them back) and the
    // center's rows it read. A stage run on its own keeps none of it.
    class JobInHand {
    public:
        explicit JobInHand(JobRunner& runner);
        ~JobInHand();
        JobInHand(const JobInHand&) = delete;
        JobInHand& operator=(const JobInHand&) = delete;

    private:
        JobRunner& runner_;
        HeldWrites held_;
    };
    bool in_job_ = false;
    std::int16_t next_branch_ = 0;
    std::optional<std::vector<CenterRow>> center_rows_;
    std::string center_rows_result_;
};

}  // namespace edi
