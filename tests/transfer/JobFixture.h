// A job's world for the tests: a fresh database with the schema (SQLite for JobTest, either
// backend for JobFixture), the job's folders, an EDI.ini, and fakes for the screen, the
// converters and the registration program.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/DbTestSupport.h"
#include "support/Masters.h"
#include "support/RecordedProgress.h"
#include "support/TestSupport.h"
#include "transfer/FileNaming.h"
#include "transfer/JobRunner.h"
#include "transfer/ReceiveRun.h"

namespace edi::test {

class RecordedDisplay final : public JobDisplay {
public:
    void ShowStatus(int row, int column, const std::string& text) override {
        events.push_back(std::to_string(row) + ":" + std::to_string(column) + " " + text);
        if (on_status) on_status(column, text);
    }
    void SetRowState(int row, std::int16_t state) override {
        events.push_back(std::to_string(row) + " state " + std::to_string(state));
    }
    void MakeRowCurrent(int) override {}
    std::vector<std::string> events;
    std::function<void(int column, const std::string& text)> on_status;
};

// Writes what a converter would, in a form the tests can read back: the XML side appends a
// marker line per XML file to the CII file; the local side copies the CII file's bytes into
// the local file of kind "01" and fails when the CII file is missing.
class FakeConverters final : public Converters {
public:
    // The fake's CII files are plain text: the check passes them all.
    void CheckReceivedCii(WorkArea&, const std::string&, std::int32_t, CiiCheckOutcome&) override {}
    void XmlCiiConvert(WorkArea& work, const std::string& xml_path, const std::string& cii_path, std::int32_t serial,
                       ConversionValues& values) override;
    void RunLocalCiiConversion(WorkArea& work, const std::string& center_code, std::int32_t serial,
                               const std::string& kind, const std::string& cii_path, const std::string& local_path,
                               std::string& result, ConversionValues& values) override;
    std::vector<std::string> xml_calls;    // xml path -> cii path
    std::vector<std::string> local_calls;  // kind, cii path -> local template
    std::function<void()> on_local;        // called as a local conversion begins
    void ForgetMasters() override { ++runs_begun; }
    int runs_begun = 0;
};

// Creates the started marker as a started process would, then does what the test says.
class FakeStarter final : public ProcessStarter {
public:
    bool RunAndWait(const std::string& command_line, const std::string& started_marker) override {
        commands.push_back(command_line);
        if (!started_marker.empty()) std::ofstream(started_marker, std::ios::binary);
        return action ? action(command_line) : true;
    }
    std::vector<std::string> commands;
    std::function<bool(const std::string&)> action;
};

template <typename B>
class JobFixture : public DbFixture<B> {
protected:
    using DbFixture<B>::work_;
    using DbFixture<B>::Exec;
    using DbFixture<B>::Scalar;

    void SetUp() override;
    void TearDown() override;

    std::string Folder(const char* name) const { return (dir_ / name).string() + "/"; }
    // EDI.ini: the job's paths, the registration's information kinds and any further sections.
    void WriteIni(const std::vector<std::string>& jkbn = {"01"}, const IniSections& more = {});
    void Center(const std::string& code, const std::string& method, const std::string& link_path,
                const std::string& form, const std::string& mail = "") {
        Exec(CenterSql({.code = code, .method = method, .link_path = link_path, .form = form, .mail = mail}));
    }
    void Partner(const std::string& center, const std::string& company) { Exec(PartnerSql(center, company)); }
    // A link-package center of CII files (or of the given form) with its partner, its grid row and,
    // when waiting, the message "message of <code>" at its link path, link/<code>.dat.
    void LinkCenter(const std::string& code, const std::string& form = "C", bool waiting = true);
    // One text per history row of the serial: "枝番 処理種別 終了コード 詳細コード ファイル名".
    std::vector<std::string> History(int serial, bool with_file = true);
    // The same without the file name: "枝番 処理種別 終了コード 詳細コード".
    std::vector<std::string> Codes(int serial) { return History(serial, false); }
    // How many history rows meet the condition.
    std::string Count(const std::string& where) {
        return Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE " + where, "n");
    }
    std::string HistoryValue(int serial, int branch, const char* column) {
        return HistoryValues(serial, branch, {column});
    }
    // Values of one history row joined by blanks, "<none>" when there is no row.
    std::string HistoryValues(int serial, int branch, const std::vector<std::string>& columns);
    // A file's bytes, relative to the test folder; "<none>" when it is not there.
    std::string Content(const std::string& relative) const;
    // Back to an empty world: no history or master rows, empty folders, no grid rows, no calls,
    // a new runner.
    void Reset();
    // A job row so that stage rows have a serial to live under.
    int OpenJob(const std::string& center);
    void AddRow(const std::string& code) { AddTerminalCenters(work_, {code}); }
    // The registration program writes this first line into the status file it is told about.
    void StatusAnswer(const std::string& first_line);
    // A run of these grid rows, or a job's carry-on, as the window and the headless runner start them.
    RunReport RunRows(const std::vector<int>& rows) { return ReceiveRun(work_, *runner_, stop_).Run(rows); }
    RunReport CarryOn(std::int32_t serial) { return ReceiveRun(work_, *runner_, stop_).CarryOn(serial); }

    FixedClock clock_{LocalDateTime{2026, 12, 5, 10, 20, 30}};
    TempDir dir_;
    RecordedMessageBoxes boxes_;
    RecordedProgress progress_;
    RecordedDisplay display_;
    FakeConverters converters_;
    FakeStarter starter_;
    std::unique_ptr<JobRunner> runner_;
    std::atomic<bool> stop_{false};
};

extern template class JobFixture<SqliteBackend>;
extern template class JobFixture<PostgresBackend>;
class JobTest : public JobFixture<SqliteBackend> {};

}  // namespace edi::test
